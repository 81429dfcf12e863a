#include "SessionListWidget.h"

#include "BookmarkDialog.h"
#include "FailureBox.h"
#include "JsonRpcHandler.h"
#include "LogDialog.h"
#include "MinDelegate.h"
#include "QuestionDialog.h"
#include "RandomToken.h"
#include "SessionModel.h"
#include "WindowStyle.h"
#include "SessionsLogging.h"
#include "SshDevice.h"
#include "StartSessionDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QSpacerItem>
#include <QTableView>
#include <QTimer>

namespace {

QString errorMessage(const QJsonValue& error)
{
    return error.toObject().value(QStringLiteral("message")).toString();
}

} // namespace

SessionListWidget::SessionListWidget(JsonRpcHandler* handler, QWidget* parent)
    : QWidget(parent)
    , m_calls(handler)
    , m_model(new SessionModel(handler, this))
    , m_proxy(new QSortFilterProxyModel(this))
    , m_view(new QTableView(this))
    , m_bookmarkButton(createToolButton(this, QStringLiteral("BookmarkButton"),
                                        QStringLiteral(":/images/resources/ios-bookmarks-outline.svg"),
                                        tr("Manage bookmarks and history.")))
    , m_logButton(createToolButton(this, QStringLiteral("LogButton"),
                                   QStringLiteral(":/images/resources/ios-paper-outline.svg"),
                                   tr("Show the SSH log.")))
    , m_newSessionButton(createToolButton(this, QStringLiteral("NewSessionButton"),
                                          QStringLiteral(":/images/resources/plus-round.svg"),
                                          tr("Start a new session.")))
{
    setObjectName(QStringLiteral("SessionListWidget"));
    resize(700, 300);
    setStyleSheet(windowStyleSheet());
    m_model->setObjectName(QStringLiteral("SessionListModel"));

    auto* toolbar = new QHBoxLayout;
    toolbar->setContentsMargins(3, 3, 3, 3);
    toolbar->addWidget(m_bookmarkButton);
    toolbar->addWidget(m_logButton);
    toolbar->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    toolbar->addWidget(m_newSessionButton);

    m_view->setObjectName(QStringLiteral("SessionListView"));
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSortingEnabled(true);
    m_view->verticalHeader()->hide();
    m_view->setAttribute(Qt::WA_MacShowFocusRect, false);
    m_view->setFocusPolicy(Qt::StrongFocus);

    auto* layout = new QGridLayout(this);
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(toolbar, 0, 0);
    layout->addWidget(m_view, 1, 0);

    m_proxy->setDynamicSortFilter(false);
    m_proxy->setSortLocaleAware(true);
    m_proxy->setSortRole(SessionModel::SortRole);
    m_proxy->setSourceModel(m_model);
    m_view->setModel(m_proxy);
    m_view->setItemDelegateForColumn(SessionModel::ConnectColumn, new MinDelegate(53, this));
    m_view->setItemDelegateForColumn(SessionModel::TerminateColumn, new MinDelegate(29, this));

    m_connectButton = createRowButton(m_view, QStringLiteral("ConnectSessionButton"),
                                      QStringLiteral(":/images/resources/play-white.svg"),
                                      "myAction");
    m_disconnectButton = createRowButton(m_view, QStringLiteral("DisconnectSessionButton"),
                                         QStringLiteral(":/images/resources/pause-white.svg"),
                                         "myAction");
    m_editButton = createRowButton(m_view, QStringLiteral("EditSessionButton"),
                                   QStringLiteral(":/images/resources/edit-blue.svg"), "myFlat");
    m_terminateButton = createRowButton(m_view, QStringLiteral("TerminateSessionButton"),
                                        QStringLiteral(":/images/resources/close-round-white.svg"),
                                        "myAction");

    m_buttonHold = new QTimer(this);
    m_buttonHold->setSingleShot(true);
    connect(m_buttonHold, &QTimer::timeout, this, &SessionListWidget::releaseButtonPresses);

    setTabOrder(m_newSessionButton, m_editButton);
    setTabOrder(m_editButton, m_connectButton);
    setTabOrder(m_connectButton, m_disconnectButton);
    setTabOrder(m_disconnectButton, m_terminateButton);
    setTabOrder(m_terminateButton, m_view);
    setTabOrder(m_view, m_bookmarkButton);
    setTabOrder(m_bookmarkButton, m_logButton);

    connect(m_bookmarkButton, &QPushButton::clicked, this,
            &SessionListWidget::on_BookmarkButton_clicked);
    connect(m_logButton, &QPushButton::clicked, this, &SessionListWidget::on_LogButton_clicked);
    connect(m_newSessionButton, &QPushButton::clicked, this,
            &SessionListWidget::on_NewSessionButton_clicked);
    connect(m_connectButton, &QPushButton::clicked, this,
            &SessionListWidget::on_ConnectSessionButton_clicked);
    connect(m_disconnectButton, &QPushButton::clicked, this,
            &SessionListWidget::on_DisconnectSessionButton_clicked);
    connect(m_editButton, &QPushButton::clicked, this,
            &SessionListWidget::on_EditSessionButton_clicked);
    connect(m_terminateButton, &QPushButton::clicked, this,
            &SessionListWidget::on_TerminateSessionButton_clicked);
    connect(m_view, &QTableView::activated, this,
            &SessionListWidget::on_SessionListView_activated);
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &SessionListWidget::on_SessionListView_selectionChanged);
    connect(m_view->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
            &SessionListWidget::on_SessionListView_sortIndicatorChanged);
    connect(m_model, &SessionModel::sessionsUpdated, this,
            &SessionListWidget::on_SessionListModel_sessionsUpdated);
    // Placing the buttons needs the final geometry of the rows; column widths
    // change when the header resizes its sections.
    connect(m_view->horizontalHeader(), &QHeaderView::sectionResized, this,
            &SessionListWidget::placeButtons);
    m_view->horizontalHeader()->viewport()->installEventFilter(this);
    m_view->sortByColumn(SessionModel::StartedColumn, Qt::AscendingOrder);
}

JsonRpcHandler* SessionListWidget::handler() const
{
    return m_calls.handler();
}

void SessionListWidget::startUpdating()
{
    m_calls.call(QStringLiteral("Zentu.version"), QJsonObject(), this,
                 [this](const QString& id, const QJsonValue& result, const QJsonValue& error) {
                     handleVersionReply(id, result, error);
                 });
    m_model->startUpdating();
}

void SessionListWidget::handleVersionReply(const QString& id, const QJsonValue&, const QJsonValue&)
{
    m_calls.remove(id);
    emit gotVersion();
}

Session SessionListWidget::selectedSession() const
{
    const QModelIndexList selected = m_view->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return Session::null;
    return m_model->session(m_proxy->mapToSource(selected.first()).row());
}

void SessionListWidget::on_SessionListModel_sessionsUpdated()
{
    m_proxy->sort(m_proxy->sortColumn(), m_proxy->sortOrder());
    QHeaderView* header = m_view->horizontalHeader();
    header->setSectionResizeMode(SessionModel::NameColumn, QHeaderView::Stretch);
    for (int column = SessionModel::ConnectColumn; column < SessionModel::ColumnCount; ++column)
        header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    placeButtons();
}

void SessionListWidget::on_SessionListView_selectionChanged()
{
    placeButtons();
}

void SessionListWidget::on_SessionListView_sortIndicatorChanged()
{
    placeButtons();
}

void SessionListWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeButtons();
}

void SessionListWidget::hideButtons()
{
    m_connectButton->hide();
    m_disconnectButton->hide();
    m_editButton->hide();
    m_terminateButton->hide();
}

void SessionListWidget::placeButtons()
{
    const QModelIndexList selected = m_view->selectionModel()->selectedIndexes();
    if (selected.isEmpty()) {
        hideButtons();
        return;
    }
    const QModelIndex first = selected.first();
    const Session& session = m_model->session(m_proxy->mapToSource(first).row());
    if (!session.isValid()) {
        hideButtons();
        return;
    }
    const QModelIndex nameIndex = first.sibling(first.row(), SessionModel::NameColumn);
    const QRect r0 = m_view->visualRect(nameIndex);
    const int w = m_view->sizeHintForIndex(nameIndex).width();
    const QRect r1 = m_view->visualRect(first.sibling(first.row(), SessionModel::ConnectColumn));
    const QRect r5 = m_view->visualRect(first.sibling(first.row(), SessionModel::TerminateColumn));
    const int cy0 = (r0.top() + r0.bottom()) / 2;
    const int cy1 = (r1.top() + r1.bottom()) / 2;
    const int cy5 = (r5.top() + r5.bottom()) / 2;

    const QRect edit(QPoint(r0.left() + w + 4, cy0 - 10), QPoint(r0.left() + w + 24, cy0 + 10));
    // The buttons come up under the pointer that has just selected the row:
    // the second click of a double-click on the row must not land on them.
    bool appeared = false;
    const auto place = [&appeared](QPushButton* button, const QRect& rect, bool visible) {
        appeared = appeared || (visible && (button->isHidden() || button->geometry() != rect));
        button->setGeometry(rect);
        button->setVisible(visible);
    };
    m_connectButton->setEnabled(session.clients() == 0);
    m_disconnectButton->setEnabled(session.clients() > 0);
    m_editButton->setEnabled(true);
    m_terminateButton->setEnabled(true);
    place(m_connectButton,
          QRect(QPoint(r1.left() + 4, cy1 - 10), QPoint(r1.left() + 24, cy1 + 10)), true);
    place(m_disconnectButton,
          QRect(QPoint(r1.left() + 28, cy1 - 10), QPoint(r1.left() + 48, cy1 + 10)), true);
    place(m_terminateButton,
          QRect(QPoint(r5.left() + 4, cy5 - 10), QPoint(r5.left() + 24, cy5 + 10)), true);
    // The name cell may be too narrow to hold the button after the text.
    place(m_editButton, edit, r0.right() - 3 > edit.right());
    if (appeared)
        holdButtonPresses();
}

void SessionListWidget::holdButtonPresses()
{
    for (QPushButton* button :
         {m_connectButton, m_disconnectButton, m_editButton, m_terminateButton})
        button->setAttribute(Qt::WA_TransparentForMouseEvents, true);
    m_buttonHold->start(QApplication::doubleClickInterval());
}

void SessionListWidget::releaseButtonPresses()
{
    for (QPushButton* button :
         {m_connectButton, m_disconnectButton, m_editButton, m_terminateButton})
        button->setAttribute(Qt::WA_TransparentForMouseEvents, false);
}

bool SessionListWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_view->horizontalHeader()->viewport()
        && (event->type() == QEvent::MouseButtonPress
            || event->type() == QEvent::MouseButtonRelease)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const int section = m_view->horizontalHeader()->logicalIndexAt(qRound(mouse->localPos().x()));
        // The button columns hold no data to sort by.
        if (section == SessionModel::ConnectColumn || section == SessionModel::TerminateColumn)
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

void SessionListWidget::closeEvent(QCloseEvent* event)
{
    event->accept();
    // A closed window with running displays stays hidden, its login up for
    // them; opening the connection again shows it.
    if (m_displays == 0)
        closeLogin();
}

void SessionListWidget::displayDestroyed()
{
    --m_displays;
    if (m_displays == 0 && !isVisible())
        closeLogin();
}

void SessionListWidget::closeLogin()
{
    if (JsonRpcHandler* handler = m_calls.handler()) {
        if (handler->device())
            handler->device()->close();
    }
}

void SessionListWidget::on_ConnectSessionButton_clicked()
{
    const Session session = selectedSession();
    if (session.isValid() && session.clients() == 0)
        callConnect(session.id(), session.displayName());
}

void SessionListWidget::on_SessionListView_activated(const QModelIndex& index)
{
    const Session session = m_model->session(m_proxy->mapToSource(index).row());
    if (session.isValid() && session.clients() == 0)
        callConnect(session.id(), session.displayName());
}

void SessionListWidget::callConnect(const QString& id, const QString& displayName)
{
    m_calls.call(QStringLiteral("Zentu.connect"), QJsonObject{{QStringLiteral("id"), id}}, this,
                 [this, id, displayName](const QString& replyId, const QJsonValue& result,
                                         const QJsonValue& error) {
                     handleConnectReply(replyId, result, error, id, displayName);
                 });
}

void SessionListWidget::on_DisconnectSessionButton_clicked()
{
    const Session session = selectedSession();
    if (session.isValid() && session.clients() > 0)
        callDisconnect(session.id());
}

void SessionListWidget::callDisconnect(const QString& id)
{
    m_calls.call(QStringLiteral("Zentu.disconnect"), QJsonObject{{QStringLiteral("id"), id}}, this,
                 [this](const QString& replyId, const QJsonValue& result, const QJsonValue& error) {
                     handleDisconnectReply(replyId, result, error);
                 });
}

void SessionListWidget::on_TerminateSessionButton_clicked()
{
    const Session session = selectedSession();
    if (!session.isValid())
        return;
    auto* question = new QuestionDialog(this);
    question->setAttribute(Qt::WA_DeleteOnClose);
    question->setText(tr("Terminate \"%1\"?").arg(session.displayName()));
    question->addAcceptButton(tr("Terminate"));
    question->addRejectButton(tr("Keep"));
    const QString id = session.id();
    connect(question, &QDialog::accepted, this, [this, id]() { callTerminate(id); });
    question->open();
}

void SessionListWidget::callTerminate(const QString& id)
{
    m_calls.call(QStringLiteral("Zentu.terminate"), QJsonObject{{QStringLiteral("id"), id}}, this,
                 [this](const QString& replyId, const QJsonValue& result, const QJsonValue& error) {
                     handleTerminateReply(replyId, result, error);
                 });
}

void SessionListWidget::handleDisconnectReply(const QString& id, const QJsonValue& result,
                                              const QJsonValue& error)
{
    handleSessionChangeReply(id, result, error, tr("Failed to disconnect the session."));
}

void SessionListWidget::handleTerminateReply(const QString& id, const QJsonValue& result,
                                             const QJsonValue& error)
{
    handleSessionChangeReply(id, result, error, tr("Failed to terminate the session."));
}

void SessionListWidget::handleSessionChangeReply(const QString& id, const QJsonValue& result,
                                                 const QJsonValue& error,
                                                 const QString& failureSummary)
{
    m_calls.remove(id);
    if (result.isObject()) {
        m_model->forceUpdate();
        return;
    }
    if (error.isObject())
        showFailureBox(failureSummary, errorMessage(error));
}

void SessionListWidget::on_EditSessionButton_clicked()
{
    const QModelIndexList selected = m_view->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return;
    const QModelIndex first = selected.first();
    m_view->edit(first.sibling(first.row(), SessionModel::NameColumn));
}

void SessionListWidget::on_NewSessionButton_clicked()
{
    auto* dialog = new StartSessionDialog(m_calls.handler(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog]() {
        callStart(dialog->command(), dialog->geometry(), dialog->name());
    });
    dialog->open();
}

void SessionListWidget::callStart(const QString& command, const QString& geometry,
                                  const QString& name)
{
    QString sessionId;
    QString error;
    if (!randomToken(&sessionId, &error))
        qCWarning(lcSessions) << "no session id:" << error;
    QJsonObject params{{QStringLiteral("id"), sessionId},
                       {QStringLiteral("command"), command},
                       {QStringLiteral("geometry"),
                        geometry.isEmpty() ? QStringLiteral("1024x768") : geometry}};
    if (!name.isEmpty())
        params.insert(QStringLiteral("name"), name);
    const QString displayName = name.isEmpty() ? command : name;
    m_calls.call(QStringLiteral("Zentu.start"), params, this,
                 [this, sessionId, displayName](const QString& replyId, const QJsonValue& result,
                                                const QJsonValue& error) {
                     handleStartReply(replyId, result, error, sessionId, displayName);
                 });
}

void SessionListWidget::handleConnectReply(const QString& id, const QJsonValue& result,
                                           const QJsonValue& error, const QString& sessionId,
                                           const QString& displayName)
{
    m_calls.remove(id);
    if (!result.isObject()) {
        if (error.isObject())
            showFailureBox(tr("Failed to connect to the session."), errorMessage(error));
        return;
    }
    startDisplay(result.toObject(), sessionId, displayName);
}

void SessionListWidget::handleStartReply(const QString& id, const QJsonValue& result,
                                         const QJsonValue& error, const QString& sessionId,
                                         const QString& displayName)
{
    m_calls.remove(id);
    if (result.isObject()) {
        startDisplay(result.toObject(), sessionId, displayName);
        return;
    }
    if (!error.isObject())
        return;
    const QJsonObject errorObject = error.toObject();
    const QString summary = tr("Failed to start the session.");
    const QString message = errorMessage(error);
    if (!errorObject.contains(QStringLiteral("id")) || !errorObject.contains(QStringLiteral("log"))) {
        showFailureBox(summary, message);
        return;
    }
    JsonRpcHandler* handler = m_calls.handler();
    if (!handler)
        return;
    // The box waits for the start log; it must appear even if this window is gone by then.
    handler->call(QStringLiteral("Zentu.log"),
                  QJsonObject{{QStringLiteral("id"), errorObject.value(QStringLiteral("id"))},
                              {QStringLiteral("log"), errorObject.value(QStringLiteral("log"))}},
                  [summary, message](const QString&, const QJsonValue& logResult, const QJsonValue&) {
                      const QJsonValue contents = logResult.toObject().value(QStringLiteral("contents"));
                      showFailureBox(summary, message,
                                     contents.isString() ? contents.toString() : QString());
                  });
}

void SessionListWidget::on_BookmarkButton_clicked()
{
    auto* dialog = new BookmarkDialog(m_calls.handler(), this);
    // A closed dialog would go on polling until the window closes.
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->startUpdating();
    dialog->open();
}

void SessionListWidget::on_LogButton_clicked()
{
    auto* dialog = new LogDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(tr("Connection Log"));
    if (JsonRpcHandler* handler = m_calls.handler()) {
        if (auto* device = qobject_cast<SshDevice*>(handler->device())) {
            const QStringList lines = device->log();
            for (const QString& line : lines)
                dialog->append(line + QLatin1Char('\n'));
        }
    }
    dialog->open();
}
