#include "ConnectionListWidget.h"

#include "AboutDialog.h"
#include "ConnectionEditor.h"
#include "ConnectionModel.h"
#include "ConnectionsLogging.h"
#include "FailureBox.h"
#include "JoinSessionDialog.h"
#include "QuestionDialog.h"
#include "RichTextDelegate.h"
#include "WindowStyle.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QSpacerItem>
#include <QTableView>
#include <QUrl>

#include <functional>

namespace {

const QString GeometryKey = QStringLiteral("Geometry");
const QString CloseWithMonitor = QStringLiteral("CloseWithMonitor");
const QString EditingSuffix = QStringLiteral("editing");
const QString SessionWindowSuffix = QStringLiteral("SessionListWidget");
const QString WebSite = QStringLiteral("https://www.talvene.com");

const QString StyleSheet = QStringLiteral(
    "QTableView::item:selected { background: #FFFFC0; color: black; }\n"
    "QPushButton[myFlat=\"true\"] { border: none; padding: 3px; }\n"
    "QPushButton[myFlat=\"true\"]::menu-indicator { image: none; width: 0px; }\n"
    "QPushButton[myFlat=\"true\"]:hover { border: 1px outset grey; border-radius: 3px; }\n"
    "QPushButton[myFlat=\"true\"]:pressed, QPushButton[myFlat=\"true\"]:checked {"
    " background: darkgrey; }\n"
    "QPushButton[myAction=\"true\"] { background: #119ED1; border: 1px solid #119ED1;"
    " border-radius: 3px; padding: 3px; }\n"
    "QPushButton[myAction=\"true\"]:pressed { background: #0486B8; border-color: #0486B8; }\n"
    "QPushButton[myAction=\"true\"]:disabled { background: #60BCDE; border-color: #60BCDE; }\n");

QPushButton* makeFlatButton(const QString& objectName, const QString& icon, const QString& toolTip,
                            QWidget* parent)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(objectName);
    button->setIcon(resourceIcon(icon));
    button->setIconSize(QSize(24, 24));
    button->setFlat(true);
    button->setToolTip(toolTip);
    button->setProperty("myFlat", true);
    return button;
}

// Sorts by the model's sort role, with the rows the predicate pins above all others.
class PinnedFirstProxy : public QSortFilterProxyModel
{
public:
    PinnedFirstProxy(std::function<bool(int)> pinned, QObject* parent)
        : QSortFilterProxyModel(parent), m_pinned(std::move(pinned))
    {
    }

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override
    {
        const bool leftPinned = m_pinned(left.row());
        if (leftPinned != m_pinned(right.row()))
            return leftPinned == (sortOrder() == Qt::AscendingOrder);
        return QSortFilterProxyModel::lessThan(left, right);
    }

private:
    const std::function<bool(int)> m_pinned;
};

// Sizes each row by the delegate's height alone: a rich-text row's height
// follows from its markup and fonts, so sizing ten thousand rows need not
// lay out ten thousand documents for widths nobody reads.
class ConnectionTableView : public QTableView
{
public:
    using QTableView::QTableView;

protected:
    int sizeHintForRow(int row) const override
    {
        const auto* delegate = qobject_cast<const RichTextDelegate*>(itemDelegate());
        if (!delegate || !model())
            return QTableView::sizeHintForRow(row);
        ensurePolished();
        const QStyleOptionViewItem option = viewOptions();
        int hint = 0;
        for (int column = 0; column < model()->columnCount(rootIndex()); ++column) {
            if (!isColumnHidden(column))
                hint = qMax(hint, delegate->heightHint(option, model()->index(row, column, rootIndex())));
        }
        return showGrid() ? hint + 1 : hint;
    }
};

} // namespace

ConnectionListWidget::ConnectionListWidget(const QString& userDirectory,
                                           const QString& globalDirectory, QWidget* parent,
                                           bool globalWritable, const QString& pinnedDirectory)
    : QWidget(parent)
    , m_userDirectory(QDir::cleanPath(userDirectory))
    , m_globalDirectory(QDir::cleanPath(globalDirectory))
    , m_pinnedDirectory(QDir::cleanPath(pinnedDirectory))
    , m_globalWritable(globalWritable)
    , m_model(new ConnectionModel(this))
    , m_proxy(new PinnedFirstProxy(
          [this](int row) { return isPinned(m_model->connectionAt(row)); }, this))
    , m_view(new ConnectionTableView(this))
{
    m_proxy->setDynamicSortFilter(false);
    m_proxy->setSortLocaleAware(true);
    m_proxy->setSortRole(ConnectionModel::SortRole);
    m_proxy->setSourceModel(m_model);

    setObjectName(QStringLiteral("ConnectionListWidget"));
    resize(350, 400);
    setStyleSheet(StyleSheet);

    auto* aboutAction = new QAction(
        tr("About %1").arg(QCoreApplication::applicationName()), this);
    aboutAction->setObjectName(QStringLiteral("AboutAction"));
    aboutAction->setToolTip(tr("Show the About dialog."));
    auto* documentationAction = new QAction(tr("Documentation"), this);
    documentationAction->setObjectName(QStringLiteral("DocumentationAction"));
    documentationAction->setToolTip(tr("Show the program documentation."));

    auto* joinButton = makeFlatButton(QStringLiteral("JoinSessionButton"),
                                      QStringLiteral(":/images/resources/android-share-alt.svg"),
                                      tr("Join a session."), this);
    auto* addButton = makeFlatButton(QStringLiteral("AddConnectionButton"),
                                     QStringLiteral(":/images/resources/plus-round.svg"),
                                     tr("Add a new connection."), this);
    auto* settingsButton = makeFlatButton(
        QStringLiteral("SettingsButton"),
        QStringLiteral(":/images/resources/ios-information-outline.svg"), QString(), this);
    auto* menu = new QMenu(settingsButton);
    menu->addAction(aboutAction);
    menu->addAction(documentationAction);
    settingsButton->setMenu(menu);

    m_view->setObjectName(QStringLiteral("ConnectionListView"));
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setShowGrid(false);
    m_view->horizontalHeader()->setVisible(false);
    m_view->verticalHeader()->setVisible(false);
    m_view->setItemDelegate(new RichTextDelegate(m_view));
    m_view->setModel(m_proxy);
    m_view->setSortingEnabled(false);
    m_proxy->sort(0, Qt::AscendingOrder);

    auto* topLayout = new QHBoxLayout;
    topLayout->setObjectName(QStringLiteral("horizontalLayout"));
    topLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    topLayout->addWidget(joinButton);
    topLayout->addWidget(addButton);
    auto* bottomLayout = new QHBoxLayout;
    bottomLayout->setObjectName(QStringLiteral("horizontalLayout_2"));
    bottomLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    bottomLayout->addWidget(settingsButton);
    auto* grid = new QGridLayout(this);
    grid->setObjectName(QStringLiteral("gridLayout"));
    grid->addLayout(topLayout, 0, 0);
    grid->addWidget(m_view, 1, 0);
    grid->addLayout(bottomLayout, 4, 0);

    m_editButton = makeFlatButton(QStringLiteral("EditConnectionButton"),
                                  QStringLiteral(":/images/resources/edit-blue.svg"),
                                  tr("Edit the connection."), m_view->viewport());
    m_editButton->setIconSize(QSize(16, 16));
    m_editButton->hide();
    m_removeButton = new QPushButton(m_view->viewport());
    m_removeButton->setObjectName(QStringLiteral("RemoveConnectionButton"));
    m_removeButton->setIcon(resourceIcon(QStringLiteral(":/images/resources/close-round-white.svg")));
    m_removeButton->setIconSize(QSize(12, 12));
    m_removeButton->setToolTip(tr("Remove the connection."));
    m_removeButton->setProperty("myAction", true);
    m_removeButton->hide();

    setTabOrder(addButton, m_editButton);
    setTabOrder(m_editButton, m_removeButton);
    setTabOrder(m_removeButton, m_view);

    connect(aboutAction, &QAction::triggered, this,
            &ConnectionListWidget::on_AboutAction_triggered);
    connect(documentationAction, &QAction::triggered, this,
            &ConnectionListWidget::on_DocumentationAction_triggered);
    connect(addButton, &QPushButton::clicked, this,
            &ConnectionListWidget::on_AddConnectionButton_clicked);
    connect(joinButton, &QPushButton::clicked, this,
            &ConnectionListWidget::on_JoinSessionButton_clicked);
    connect(m_editButton, &QPushButton::clicked, this,
            &ConnectionListWidget::on_EditConnectionButton_clicked);
    connect(m_removeButton, &QPushButton::clicked, this,
            &ConnectionListWidget::on_RemoveConnectionButton_clicked);
    connect(m_view, &QTableView::activated, this,
            &ConnectionListWidget::on_ConnectionListView_activated);
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ConnectionListWidget::on_ConnectionListView_selectionChanged);

    restoreGeometry(QSettings().value(GeometryKey).toByteArray());
    loadConnections();
}

void ConnectionListWidget::addConnection(const Connection& connection, bool saveAsGlobal)
{
    // Without a writable global directory a global save would land in the
    // working directory; such a request keeps the connection personal.
    const bool global = saveAsGlobal && !m_globalDirectory.isEmpty() && m_globalWritable;
    const QString directory = global ? m_globalDirectory : m_userDirectory;
    const QString path = QDir(directory).filePath(Connection::fileName(connection.uid()));
    QString error;
    if (!writeConnectionFile(path, connection, &error)) {
        showFailureBox(tr("Failed to add the connection."), error);
        return;
    }
    m_files.insert(connection.uid(), path);
    const QModelIndex index = m_model->addConnection(connection);
    refreshView();
    selectConnection(index);
    openConnection(connection);
}

void ConnectionListWidget::editConnection(const Connection& connection)
{
    QString error;
    if (!writeConnectionFile(m_files.value(connection.uid()), connection, &error)) {
        showFailureBox(tr("Failed to edit the connection \"%1\".").arg(connection.name()), error);
        return;
    }
    const QModelIndex index = m_model->updateConnection(connection);
    refreshView();
    selectConnection(index);
    placeRowButtons();
}

void ConnectionListWidget::removeConnection(const Connection& connection)
{
    QString error;
    if (!removeConnectionFile(m_files.value(connection.uid()), &error)) {
        showFailureBox(tr("Failed to remove the connection \"%1\".").arg(connection.name()),
                       error);
        return;
    }
    m_model->removeConnection(connection);
    const QPointer<QWidget> editor = m_windows.value(windowKey(connection.uid(), EditingSuffix));
    if (editor)
        editor->close();
    placeRowButtons();
}

void ConnectionListWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeRowButtons();
}

void ConnectionListWidget::closeEvent(QCloseEvent* event)
{
    const QMap<QString, QPointer<QWidget>> windows = m_windows;
    for (const QPointer<QWidget>& window : windows) {
        if (window && window->property(qPrintable(CloseWithMonitor)).toBool())
            window->close();
    }
    QSettings().setValue(GeometryKey, saveGeometry());
    event->accept();
}

void ConnectionListWidget::on_AboutAction_triggered()
{
    auto* dialog = new AboutDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

void ConnectionListWidget::on_DocumentationAction_triggered()
{
    QDesktopServices::openUrl(
        QUrl(QStringLiteral("%1/ravn32kb/category/%2").arg(WebSite, QStringLiteral("zentu"))));
}

void ConnectionListWidget::on_AddConnectionButton_clicked()
{
    Connection connection;
    connection.setUid(QUuid::createUuid());
    auto* editor = new ConnectionEditor(connection);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    editor->setObjectName(windowKey(connection.uid(), EditingSuffix));
    editor->setProperty(qPrintable(CloseWithMonitor), true);
    editor->setWindowTitle(tr("New Connection"));
    if (!m_globalDirectory.isEmpty() && m_globalWritable)
        editor->addGlobalButton();
    connect(editor, &QDialog::accepted, this, [this, editor]() {
        addConnection(editor->connection(), editor->saveAsGlobal());
    });
    editor->show();
    editor->activateWindow();
    registerWindow(editor);
}

void ConnectionListWidget::on_JoinSessionButton_clicked()
{
    auto* dialog = new JoinSessionDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, dialog,
            [dialog] { joinSession(dialog->sharingKey(), dialog->name(), dialog->fips()); });
    dialog->open();
}

void ConnectionListWidget::on_EditConnectionButton_clicked()
{
    const Connection connection = selectedConnection();
    if (connection.isValid())
        openEditor(connection);
}

void ConnectionListWidget::on_RemoveConnectionButton_clicked()
{
    const Connection connection = selectedConnection();
    if (connection.isValid())
        askRemoval(connection);
}

void ConnectionListWidget::on_ConnectionListView_activated(const QModelIndex& index)
{
    const Connection connection = m_model->connectionAt(m_proxy->mapToSource(index).row());
    if (!connection.isValid())
        return;
    if (!activateWindow(windowKey(connection.uid(), SessionWindowSuffix)))
        openConnection(connection);
}

void ConnectionListWidget::on_ConnectionListView_selectionChanged()
{
    placeRowButtons();
}

void ConnectionListWidget::removeWidget(QObject* object)
{
    m_windows.remove(object->objectName());
}

QString ConnectionListWidget::windowKey(const QUuid& uid, const QString& suffix)
{
    return QStringLiteral("%1-%2").arg(uid.toString(), suffix);
}

void ConnectionListWidget::registerWindow(QWidget* window)
{
    const QString key = window->objectName();
    if (m_windows.contains(key) && m_windows.value(key))
        return;
    m_windows.insert(key, window);
    connect(window, &QObject::destroyed, this, &ConnectionListWidget::removeWidget);
}

bool ConnectionListWidget::activateWindow(const QString& key)
{
    const QPointer<QWidget> window = m_windows.value(key);
    if (!window)
        return false;
    if (window->isHidden()) {
        window->show();
        window->activateWindow();
    } else if (window->isMinimized()) {
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    } else {
        window->raise();
        window->activateWindow();
    }
    return true;
}

void ConnectionListWidget::loadConnections()
{
    ConnectionScan scan = scanConnectionFiles({m_pinnedDirectory, m_globalDirectory, m_userDirectory});
    qCDebug(lcConnections).nospace().noquote() << "listing " << scan.connections.size()
                                     << " connections from " << m_globalDirectory << " and "
                                     << m_userDirectory;
    // The sort reads the files to find the pinned rows.
    m_files = std::move(scan.files);
    m_model->setConnections(std::move(scan.connections));
    refreshView();
}

void ConnectionListWidget::openEditor(const Connection& connection)
{
    if (isProtected(connection))
        return;
    const QString key = windowKey(connection.uid(), EditingSuffix);
    if (activateWindow(key))
        return;
    auto* editor = new ConnectionEditor(connection);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    editor->setObjectName(key);
    editor->setProperty(qPrintable(CloseWithMonitor), true);
    editor->setWindowTitle(connection.name());
    connect(editor, &QDialog::accepted, this,
            [this, editor]() { editConnection(editor->connection()); });
    editor->show();
    editor->activateWindow();
    registerWindow(editor);
}

void ConnectionListWidget::askRemoval(const Connection& connection)
{
    if (isProtected(connection))
        return;
    auto* dialog = new QuestionDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setText(tr("Remove connection \"%1\"?").arg(connection.name()));
    dialog->addAcceptButton(tr("Remove"));
    dialog->addRejectButton(tr("Keep"));
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QDialog::accepted, this,
            [this, connection]() { removeConnection(connection); });
    dialog->show();
}

Connection ConnectionListWidget::selectedConnection() const
{
    const QModelIndexList selected = m_view->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return Connection::null;
    return m_model->connectionAt(m_proxy->mapToSource(selected.first()).row());
}

bool ConnectionListWidget::isPinned(const Connection& connection) const
{
    // Asked twice per comparison while sorting: no string is built here.
    if (m_pinnedDirectory.isEmpty())
        return false;
    const QString path = m_files.value(connection.uid());
    return path.size() > m_pinnedDirectory.size()
           && path.at(m_pinnedDirectory.size()) == QLatin1Char('/')
           && path.startsWith(m_pinnedDirectory);
}

bool ConnectionListWidget::isProtected(const Connection& connection) const
{
    if (isPinned(connection))
        return true;
    if (m_globalDirectory.isEmpty() || m_globalWritable)
        return false;
    return m_files.value(connection.uid()).startsWith(m_globalDirectory + QLatin1Char('/'));
}

void ConnectionListWidget::refreshView()
{
    m_proxy->sort(m_proxy->sortColumn(), m_proxy->sortOrder());
    // The one column stretches over the view: sizing it to its contents
    // would lay out rows for a width the next layout pass replaces.
    m_view->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_view->resizeRowsToContents();
}

void ConnectionListWidget::selectConnection(const QModelIndex& sourceIndex)
{
    const QModelIndex index = m_proxy->mapFromSource(sourceIndex);
    if (!index.isValid())
        return;
    m_view->selectionModel()->select(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_view->setCurrentIndex(index);
    m_view->scrollTo(index, QAbstractItemView::EnsureVisible);
}

void ConnectionListWidget::placeRowButtons()
{
    const QModelIndexList selected = m_view->selectionModel()->selectedIndexes();
    const Connection connection = selected.isEmpty()
        ? Connection::null
        : m_model->connectionAt(m_proxy->mapToSource(selected.first()).row());
    if (!connection.isValid() || isProtected(connection)) {
        m_editButton->hide();
        m_removeButton->hide();
        return;
    }

    const QModelIndex index = selected.first();
    const QRect row = m_view->visualRect(index);
    const int contentWidth = m_view->sizeHintForIndex(index).width();
    const int side = qMin(20, qMin(row.bottom() - 7 - row.top(), row.right() - 7 - row.left()));
    const int top = row.center().y() - side / 2;
    const int editLeft = row.left() + contentWidth + 4;
    const int removeLeft = row.right() - 4 - side;
    m_editButton->setGeometry(editLeft, top, side, side);
    m_removeButton->setGeometry(removeLeft, top, side, side);
    m_editButton->setVisible(removeLeft - 3 > editLeft + side);
    m_removeButton->setVisible(row.left() + contentWidth + 3 < removeLeft);
}
