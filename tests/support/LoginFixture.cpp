#include "LoginFixture.h"

#include "Connection.h"
#include "ConnectionListWidget.h"
#include "JsonRpcHandler.h"
#include "NottyProcess.h"
#include "OperationStatusDialog.h"
#include "SessionListWidget.h"
#include "SessionModel.h"
#include "SshDevice.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStackedWidget>
#include <QTableView>
#include <QTest>
#include <QUuid>

namespace {

const int Timeout = 30000;

} // namespace

LoginFixture::LoginFixture(const QString& root, const QString& serverData)
    : m_root(root)
    , m_userDirectory(root + QStringLiteral("/connections"))
    , m_globalDirectory(root + QStringLiteral("/global"))
    , m_serverData(serverData.isEmpty() ? root + QStringLiteral("/server/data") : serverData)
{
}

bool LoginFixture::start(QString* error, const SshServer::Options& options)
{
    const QString server = m_root + QStringLiteral("/server");
    const QStringList folders{m_userDirectory, m_globalDirectory, m_serverData, server + QStringLiteral("/home"),
                              server + QStringLiteral("/run"), server + QStringLiteral("/config")};
    for (const QString& folder : folders) {
        if (!QDir().mkpath(folder)) {
            *error = QStringLiteral("cannot create %1").arg(folder);
            return false;
        }
    }
    QFile::setPermissions(server + QStringLiteral("/run"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    SshServer::Options serverOptions = options;
    serverOptions.extraServerConfig.append(
        QStringLiteral("SetEnv PATH=%1:/usr/local/bin:/usr/bin:/bin XDG_DATA_HOME=%2 HOME=%3/home "
                       "XDG_RUNTIME_DIR=%3/run XDG_CONFIG_HOME=%3/config")
            .arg(SshServer::binDir(), m_serverData, server));
    m_server = std::make_unique<SshServer>(serverOptions);
    if (!m_server->start(error))
        return false;
    m_server->exportClientEnvironment();
    return true;
}

Connection LoginFixture::addConnection(const QString& name, QString* error)
{
    Connection connection;
    connection.setUid(QUuid::createUuid());
    connection.setName(name);
    connection.setHost(m_server->host());
    connection.setPort(m_server->port());
    connection.setUser(m_server->user());
    if (!writeConnectionFile(QDir(m_userDirectory).filePath(Connection::fileName(connection.uid())), connection,
                             error))
        return Connection::null;
    return connection;
}

QJsonArray LoginFixture::storedSessions() const
{
    QFile file(m_serverData + QStringLiteral("/zentu-server/state.json"));
    if (!file.open(QIODevice::ReadOnly))
        return QJsonArray();
    return QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("sessions")).toArray();
}

QJsonObject LoginFixture::storedSession(const QString& command) const
{
    for (const QJsonValue& session : storedSessions()) {
        if (session.toObject().value(QStringLiteral("command")).toString() == command)
            return session.toObject();
    }
    return QJsonObject();
}

QJsonObject LoginFixture::runtimeOf(const QString& sessionId) const
{
    for (const QJsonValue& session : storedSessions()) {
        if (session.toObject().value(QStringLiteral("id")).toString() == sessionId)
            return session.toObject().value(QStringLiteral("runtime")).toObject();
    }
    return QJsonObject();
}

SessionListWidget* openConnection(ConnectionListWidget& main, int row)
{
    auto* view = main.findChild<QTableView*>(QStringLiteral("ConnectionListView"));
    if (!view || view->model()->rowCount() <= row)
        return nullptr;
    const QList<SessionListWidget*> before = sessionWindows();
    view->setCurrentIndex(view->model()->index(row, 0));
    QTest::keyClick(view, Qt::Key_Return);
    for (SessionListWidget* window : sessionWindows()) {
        if (!before.contains(window))
            return window;
    }
    return nullptr;
}

SessionListWidget* logIn(ConnectionListWidget& main, int row, QString* problem, const QString& passphrase)
{
    QPointer<SessionListWidget> window = openConnection(main, row);
    QPointer<OperationStatusDialog> status = window ? window->findChild<OperationStatusDialog*>() : nullptr;
    if (!status) {
        *problem = QStringLiteral("no new session window with a status dialog");
        return nullptr;
    }
    if (!passphrase.isEmpty()) {
        auto* stack = status->findChild<QStackedWidget*>(QStringLiteral("StackedWidget"));
        if (!QTest::qWaitFor([&]() { return !status || stack->currentIndex() == OperationStatusDialog::AnswerPage; },
                             Timeout)
            || !status) {
            *problem = QStringLiteral("no passphrase question; messages: %1").arg(messageBoxTexts());
            return nullptr;
        }
        const QString question = status->findChild<QLabel*>(QStringLiteral("InstructionsLabel"))->text();
        if (!question.startsWith(QStringLiteral("Enter passphrase for key"))) {
            *problem = QStringLiteral("unexpected question: %1").arg(question);
            return nullptr;
        }
        QTest::keyClicks(status->findChild<QLineEdit*>(QStringLiteral("AnswerLineEdit")), passphrase);
        QTest::mouseClick(findButton(status, "ContinueButton"), Qt::LeftButton);
    }
    // The dialog goes once the server answered the version request.
    if (!QTest::qWaitFor([&]() { return !window || !status; }, Timeout) || !window) {
        *problem = QStringLiteral("the login did not complete; messages: %1").arg(messageBoxTexts());
        return nullptr;
    }
    return window;
}

qint64 sshProcessId(SessionListWidget* window)
{
    auto* device = window->handler() ? qobject_cast<SshDevice*>(window->handler()->device()) : nullptr;
    const auto* process = device ? device->findChild<NottyProcess*>() : nullptr;
    return process ? process->processId() : 0;
}

QList<SessionListWidget*> sessionWindows()
{
    return topLevels<SessionListWidget>();
}

QList<QMessageBox*> messageBoxes()
{
    return visibleTopLevels<QMessageBox>();
}

void closeMessageBoxes()
{
    for (QMessageBox* box : messageBoxes())
        box->close();
}

QString messageBoxTexts()
{
    QStringList texts;
    for (QMessageBox* box : messageBoxes())
        texts.append(box->text());
    return texts.join(QLatin1String(" | "));
}

QPushButton* findButton(QWidget* parent, const char* name)
{
    return parent->findChild<QPushButton*>(QLatin1String(name));
}

Session findSession(SessionListWidget* window, const QString& command)
{
    const SessionModel* model = window->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->session(row).command() == command)
            return model->session(row);
    }
    return Session::null;
}

bool selectSession(SessionListWidget* window, const QString& command)
{
    const SessionModel* model = window->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->session(row).command() == command) {
            const QModelIndex index = window->proxy()->mapFromSource(model->index(row, 0));
            window->view()->selectionModel()->select(
                index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            window->view()->setCurrentIndex(index);
            return true;
        }
    }
    return false;
}

