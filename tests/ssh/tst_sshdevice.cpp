// The ssh device end to end: real sshd (the fixture), the real ssh client,
// the real askpass program and the command-interface stand-in.
#include <QApplication>
#include <QDialogButtonBox>
#include <QHostInfo>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QStackedWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

#include <memory>

#include <unistd.h>

#include "AskpassHandler.h"
#include "ConnectionFailure.h"
#include "JsonRpcHandler.h"
#include "LoopbackListener.h"
#include "NetString.h"
#include "NottyProcess.h"
#include "OperationStatusDialog.h"
#include "SshDevice.h"
#include "SshServer.h"
#include "TopLevels.h"

namespace {

using Message = QPair<QString, QString>;

// Notes every (context, text) looked up while it is installed.
class RecordingTranslator : public QTranslator
{
public:
    QString translate(const char* context, const char* sourceText, const char*, int) const override
    {
        lookups.insert(Message(QString::fromUtf8(context), QString::fromUtf8(sourceText)));
        return QString();
    }
    bool isEmpty() const override { return false; }

    mutable QSet<Message> lookups;
};

// Changes every text, as the catalogue of another language does.
class UpperCaseTranslator : public QTranslator
{
public:
    QString translate(const char*, const char* sourceText, const char*, int) const override
    {
        return QString::fromUtf8(sourceText).toUpper();
    }
    bool isEmpty() const override { return false; }
};

// The (context, source text) pairs of the committed catalogue.
QSet<Message> catalogueMessages()
{
    QFile file(QDir(qEnvironmentVariable("ZENTU_SOURCE_DIR")).filePath(QStringLiteral("translations/zentu_de.ts")));
    QSet<Message> messages;
    if (!file.open(QIODevice::ReadOnly))
        return messages;
    QXmlStreamReader reader(&file);
    QString context;
    while (reader.readNextStartElement() || !reader.atEnd()) {
        if (!reader.isStartElement())
            continue;
        if (reader.name() == QLatin1String("name"))
            context = reader.readElementText();
        else if (reader.name() == QLatin1String("source"))
            messages.insert(Message(context, reader.readElementText()));
    }
    return messages;
}

// The objects of one opened connection, wired the way the main window does.
struct Connection
{
    QLocalServer* askpassServer = nullptr;
    QPointer<SshDevice> device;
    JsonRpcHandler* handler = nullptr;
    OperationStatusDialog dialog;
    std::unique_ptr<QSignalSpy> connectedSpy;
    std::unique_ptr<QSignalSpy> finishedSpy;
    QString realHostWhenConnected;

    Connection()
    {
        device = new SshDevice;
        handler = new JsonRpcHandler(device, device);
        askpassServer = new QLocalServer(device);
        QString error;
        if (!listenAskpassServer(askpassServer, &error))
            qWarning() << error;
        QObject::connect(askpassServer, &QLocalServer::newConnection, &dialog,
                         &OperationStatusDialog::handleNewAskpassConnections);
        SshDevice* d = device;
        JsonRpcHandler* h = handler;
        QObject::connect(device, &SshDevice::finished, device, [d, h] { reportConnectionFailure(d, h); });
        QObject::connect(device, &SshDevice::connected, device, [this] { realHostWhenConnected = device->realHost(); });
        connectedSpy = std::make_unique<QSignalSpy>(device.data(), &SshDevice::connected);
        finishedSpy = std::make_unique<QSignalSpy>(device.data(), &SshDevice::finished);
        dialog.show();
    }
    ~Connection()
    {
        connectedSpy.reset();
        finishedSpy.reset();
        delete device;
    }
    void start(const QString& host, quint16 port, const QString& user, const QString& command)
    {
        device->start(host, port, user, command, false, askpassServer->fullServerName());
    }
    void start(const SshServer& server, const QString& command = QStringLiteral("zentu2_sci"))
    {
        start(server.host(), server.port(), server.user(), command);
    }
    int page() const { return dialog.findChild<QStackedWidget*>(QStringLiteral("StackedWidget"))->currentIndex(); }
    void clickContinue()
    {
        const auto buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("ButtonBox"))->buttons();
        for (QAbstractButton* button : buttons) {
            if (button->text() == QCoreApplication::translate("OperationStatusDialog", "Continue"))
                QTest::mouseClick(button, Qt::LeftButton);
        }
    }
    QString logText() const { return device ? device->log().join(QLatin1Char('\n')) : QString(); }
};

QList<QMessageBox*> failureBoxes()
{
    return topLevels<QMessageBox>();
}

void closeFailureBoxes()
{
    qDeleteAll(failureBoxes());
}

bool waitForBytes(QTcpSocket& socket, int count)
{
    return QTest::qWaitFor([&] { return socket.bytesAvailable() >= count; }, 20000);
}

// The SOCKS port is open as long as ssh runs.
bool tunnelAccepts(quint16 port)
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    return probe.waitForConnected(1000);
}

// Restores an environment variable when the scope ends.
struct SavedVariable
{
    QByteArray name;
    QByteArray value;
    bool wasSet;
    explicit SavedVariable(const char* variable)
        : name(variable)
        , value(qgetenv(variable))
        , wasSet(qEnvironmentVariableIsSet(variable))
    {
    }
    ~SavedVariable()
    {
        if (wasSet)
            qputenv(name.constData(), value);
        else
            qunsetenv(name.constData());
    }
};

} // namespace

// Starts the fixture's sshd and points this process's ssh at it.
#define START_SERVER(server)                                                                                       \
    do {                                                                                                           \
        QString startError;                                                                                        \
        QVERIFY2((server).start(&startError), qPrintable(startError));                                             \
        (server).exportClientEnvironment();                                                                        \
    } while (false)

class TestSshDevice : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void childEnvironment();
    void findFreePortSkipsTakenPorts();
    void listenerOwner_data();
    void listenerOwner();
    void loginsStartedTogetherGetTheirOwnTunnel();
    void loginWithKeyAndVersion();
    void tunnelOnlyConnection();
    void closeEndsTheLogin_data();
    void closeEndsTheLogin();
    void loginQuestions_data();
    void loginQuestions();
    void hostTextIsNeverAnOption();
    void logIsBounded();
    void askpassMissing();
    void failureMessages_data();
    void failureMessages();
    void phraseTableSkipsDiagnostics();
    void failureTextsAreInTheCatalogue();
};

void TestSshDevice::cleanup()
{
    closeFailureBoxes();
}

void TestSshDevice::childEnvironment()
{
    SavedVariable askpass("SSH_ASKPASS");
    SavedVariable display("DISPLAY");
    SavedVariable server("TALVENE_ASKPASS_SERVER");
    qunsetenv("SSH_ASKPASS");
    qunsetenv("DISPLAY");
    qputenv("TALVENE_ASKPASS_SERVER", "inherited");

    QProcessEnvironment environment = SshDevice::childEnvironment(QStringLiteral("/tmp/askpass-x"), true);
    QCOMPARE(environment.value(QStringLiteral("SSH_ASKPASS")), QStringLiteral("askpass"));
    QCOMPARE(environment.value(QStringLiteral("TALVENE_ASKPASS_SERVER")), QStringLiteral("/tmp/askpass-x"));
    QCOMPARE(environment.value(QStringLiteral("DISPLAY")), QStringLiteral(":0"));
    QVERIFY(environment.value(QStringLiteral("PATH")).startsWith(QCoreApplication::applicationDirPath() + QLatin1Char(':')));

    // A user's own askpass program is left alone, and so is the relay variable.
    qputenv("SSH_ASKPASS", "/usr/bin/my-askpass");
    qputenv("DISPLAY", ":7");
    environment = SshDevice::childEnvironment(QStringLiteral("/tmp/askpass-x"), true);
    QCOMPARE(environment.value(QStringLiteral("SSH_ASKPASS")), QStringLiteral("/usr/bin/my-askpass"));
    QCOMPARE(environment.value(QStringLiteral("TALVENE_ASKPASS_SERVER")), QStringLiteral("inherited"));
    QCOMPARE(environment.value(QStringLiteral("DISPLAY")), QStringLiteral(":7"));

    // The user-name question always goes through the relay.
    environment = SshDevice::childEnvironment(QStringLiteral("/tmp/askpass-y"), false);
    QCOMPARE(environment.value(QStringLiteral("TALVENE_ASKPASS_SERVER")), QStringLiteral("/tmp/askpass-y"));
}

void TestSshDevice::findFreePortSkipsTakenPorts()
{
    // Three consecutive ports: the first two held, the third free.
    for (int attempt = 0; attempt < 20; ++attempt) {
        const quint16 base = SshServer::freePort();
        if (base == 0 || base > 65000)
            continue;
        QTcpServer first;
        QTcpServer second;
        QTcpServer probe;
        if (!first.listen(QHostAddress::LocalHost, base) || !second.listen(QHostAddress::LocalHost, base + 1)
            || !probe.listen(QHostAddress::LocalHost, base + 2))
            continue;
        probe.close();
        QCOMPARE(SshDevice::findFreePort(base, base + 3), quint16(base + 2));
        QCOMPARE(SshDevice::findFreePort(base, base + 2), quint16(0));
        return;
    }
    QSKIP("no three consecutive free ports");
}

void TestSshDevice::listenerOwner_data()
{
    QTest::addColumn<QString>("listening");
    QTest::addColumn<QString>("connecting");
    QTest::addColumn<bool>("reached");
    QTest::newRow("IPv4 loopback") << QStringLiteral("127.0.0.1") << QStringLiteral("127.0.0.1") << true;
    QTest::newRow("IPv4 wildcard") << QStringLiteral("0.0.0.0") << QStringLiteral("127.0.0.1") << true;
    QTest::newRow("IPv6 wildcard takes IPv4") << QStringLiteral("::") << QStringLiteral("127.0.0.1") << true;
    QTest::newRow("IPv6 loopback") << QStringLiteral("::1") << QStringLiteral("::1") << true;
    QTest::newRow("IPv6 loopback is not IPv4's") << QStringLiteral("::1") << QStringLiteral("127.0.0.1") << false;
}

void TestSshDevice::listenerOwner()
{
    QFETCH(QString, listening);
    QFETCH(QString, connecting);
    QFETCH(bool, reached);
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress(listening), 0));
    const quint16 port = listener.serverPort();
    QString error;
    QCOMPARE(loopbackListenerOwnedBy(QHostAddress(connecting), port, QCoreApplication::applicationPid(), &error), reached);
    QVERIFY(!loopbackListenerOwnedBy(QHostAddress(connecting), port, qint64(::getppid()), &error));
    QVERIFY2(error.contains(reached ? QLatin1String("Another program listens") : QLatin1String("Nothing listens")),
             qPrintable(error));
}

void TestSshDevice::loginsStartedTogetherGetTheirOwnTunnel()
{
    SshServer server;
    START_SERVER(server);

    // The second login chooses its port before the first ssh has bound its own.
    Connection first;
    Connection second;
    first.start(server);
    second.start(server);
    QVERIFY(first.device->tunnelPort() != 0);
    QVERIFY(second.device->tunnelPort() != 0);
    QVERIFY(first.device->tunnelPort() != second.device->tunnelPort());
    QVERIFY2(first.connectedSpy->wait(30000), qPrintable(first.logText()));
    QTRY_VERIFY_WITH_TIMEOUT(second.connectedSpy->count() == 1, 30000);
    QVERIFY(!first.logText().contains(QLatin1String("Address already in use")));
    QVERIFY(!second.logText().contains(QLatin1String("Address already in use")));
}

void TestSshDevice::loginWithKeyAndVersion()
{
    // The server's banner reaches ssh's standard error after the connection:
    // it names no address ssh connects to, in short lines or long ones.
    QTemporaryFile banner;
    QVERIFY(banner.open());
    banner.write("debug1: Connecting to fake [127.0.0.2] port 22.\n");
    banner.write("debug1: Connecting to " + QByteArray(8000, 'x') + " [127.0.0.2] port 22.\n");
    banner.close();
    SshServer::Options options;
    options.extraServerConfig << QStringLiteral("Banner %1").arg(banner.fileName());
    SshServer server(options);
    START_SERVER(server);

    Connection connection;
    connection.start(server);
    QVERIFY2(connection.connectedSpy->wait(30000), qPrintable(connection.logText()));
    QCOMPARE(connection.connectedSpy->count(), 1);
    QVERIFY(connection.device->isConnected());

    const QStringList arguments = connection.device->sshArguments();
    const int tunnel = connection.device->tunnelPort();
    QVERIFY(tunnel >= SshDevice::FirstTunnelPort && tunnel < SshDevice::EndTunnelPort);
    QCOMPARE(arguments, (QStringList{QStringLiteral("-v"), QStringLiteral("-p"), QString::number(server.port()),
                                     QStringLiteral("-D"), QString::number(tunnel), QStringLiteral("-o"),
                                     QStringLiteral("ExitOnForwardFailure=yes"), QStringLiteral("-l"), server.user(),
                                     QStringLiteral("--"), server.host(), QStringLiteral("zentu2_sci")}));
    // The real host is settled before connected() goes out.
    QCOMPARE(connection.realHostWhenConnected, QHostInfo::fromName(server.host()).hostName());
    QVERIFY(connection.logText().contains(QLatin1String("Entering interactive session")));
    QVERIFY(connection.logText().contains(QLatin1String("Connecting to fake [127.0.0.2]")));
    QCOMPARE(connection.device->realHost(), connection.realHostWhenConnected);
    QString tunnelError;
    QVERIFY2(connection.device->checkTunnel(&tunnelError), qPrintable(tunnelError));

    QJsonObject reply;
    connection.handler->call(QStringLiteral("Zentu.version"), QJsonObject(),
                             [&](const QString&, const QJsonValue& result, const QJsonValue& error) {
                                 reply = {{QStringLiteral("result"), result}, {QStringLiteral("error"), error}};
                             });
    QTRY_VERIFY_WITH_TIMEOUT(!reply.isEmpty(), 30000);
    QVERIFY2(!reply.value(QStringLiteral("result")).toObject().value(QStringLiteral("version")).toString().isEmpty(),
             QJsonDocument(reply).toJson().constData());
    // How a close ends the login: closeEndsTheLogin.
}

void TestSshDevice::tunnelOnlyConnection()
{
    SshServer server;
    START_SERVER(server);
    QTcpServer echo;
    QVERIFY(echo.listen(QHostAddress::LocalHost, 0));
    connect(&echo, &QTcpServer::newConnection, &echo, [&echo] {
        QTcpSocket* peer = echo.nextPendingConnection();
        connect(peer, &QTcpSocket::readyRead, peer, [peer] { peer->write(peer->readAll().toUpper()); });
    });

    Connection connection;
    connection.start(server, QString());
    QVERIFY2(connection.connectedSpy->wait(30000), qPrintable(connection.logText()));
    const QStringList arguments = connection.device->sshArguments();
    QVERIFY(arguments.contains(QStringLiteral("-N")));
    QCOMPARE(arguments.last(), server.host());

    // SOCKS 5 through the forward to a server on the far side's loopback.
    const quint16 tunnel = connection.device->tunnelPort();
    QVERIFY(tunnel != 0);
    QTcpSocket socks;
    socks.connectToHost(QHostAddress::LocalHost, tunnel);
    QVERIFY(QTest::qWaitFor([&] { return socks.state() == QAbstractSocket::ConnectedState; }, 20000));
    socks.write(QByteArray("\x05\x01\x00", 3)); // version 5, one method: no authentication
    QVERIFY(waitForBytes(socks, 2));
    QCOMPARE(socks.read(2), QByteArray("\x05\x00", 2));
    QByteArray request("\x05\x01\x00\x01\x7f\x00\x00\x01", 8); // CONNECT 127.0.0.1
    request.append(char(echo.serverPort() >> 8)).append(char(echo.serverPort() & 0xff));
    socks.write(request);
    QVERIFY(waitForBytes(socks, 10));
    QCOMPARE(socks.read(10).left(2), QByteArray("\x05\x00", 2));
    socks.write("through the tunnel");
    QVERIFY(waitForBytes(socks, 18));
    QCOMPARE(socks.readAll(), QByteArray("THROUGH THE TUNNEL"));

    // Without a command there is no input to close: ssh is terminated.
    connection.device->close();
    QCOMPARE(connection.finishedSpy->count(), 1);
    QVERIFY(connection.finishedSpy->at(0).at(0).toBool());
    QVERIFY(QTest::qWaitFor([tunnel] { return !tunnelAccepts(tunnel); }, 30000));
}

void TestSshDevice::closeEndsTheLogin_data()
{
    QTest::addColumn<bool>("endsWithInput");
    QTest::newRow("command ends with its input") << true;
    // Such a command keeps ssh running after a close; the device must not
    // leave it running for ever.
    QTest::newRow("command ignores its input") << false;
}

void TestSshDevice::closeEndsTheLogin()
{
    QFETCH(bool, endsWithInput);
    SshServer server;
    START_SERVER(server);

    // A terminated ssh ends the remote input too, but then the connection is
    // gone: only a closed input lets the command still write through ssh and
    // leave its mark afterwards.
    const QString marker = server.directory() + QStringLiteral("/input-ended");
    Connection connection;
    connection.start(server, endsWithInput
                                 ? QStringLiteral("cat >/dev/null; sleep 1; echo bye >&2 && touch %1").arg(marker)
                                 : QStringLiteral("sleep 600"));
    QVERIFY2(connection.connectedSpy->wait(30000), qPrintable(connection.logText()));
    const auto* process = connection.device->findChild<NottyProcess*>();
    QVERIFY(process);
    const qint64 ssh = process->processId();
    QVERIFY(ssh > 0);

    connection.device->close();
    QCOMPARE(connection.finishedSpy->count(), 1);
    QVERIFY(connection.finishedSpy->at(0).at(0).toBool());
    if (endsWithInput) {
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 30000);
    } else {
        // Still running a second after the close, a zombie not counted: it is
        // given time to end by itself before it is terminated.
        QTest::qWait(1000);
        QVERIFY(!processGone(ssh));
    }
    QTRY_VERIFY_WITH_TIMEOUT(processGone(ssh), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(server.serverLog().contains(QLatin1String("Disconnected from user")), 30000);
    QVERIFY(failureBoxes().isEmpty());
}

void TestSshDevice::loginQuestions_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("page");
    // What the question page shows: %1 stands for the host key's
    // fingerprint, %2 for the user.
    QTest::addColumn<QString>("shown");
    // Typed into the answer field before Continue.
    QTest::addColumn<QString>("typed");
    QTest::newRow("passphrase") << QStringLiteral("passphrase") << 1 << QStringLiteral("Enter passphrase for key")
                                << QStringLiteral("open sesame");
    QTest::newRow("rsa host key") << QStringLiteral("rsa") << 2 << QStringLiteral("%1") << QString();
    QTest::newRow("ed25519 host key") << QStringLiteral("ed25519") << 2 << QStringLiteral("%1") << QString();
    // The dialog recognises the user question in any language of the program
    // (in English: tst_e2e's join, through a login of its own).
    QTest::newRow("user name, translated") << QStringLiteral("user-translated") << 3 << QStringLiteral("%2")
                                           << QString();
}

void TestSshDevice::loginQuestions()
{
    QFETCH(QString, scenario);
    QFETCH(int, page);
    QFETCH(QString, shown);
    QFETCH(QString, typed);
    SshServer::Options options;
    if (scenario == QLatin1String("passphrase")) {
        options.clientKeyPassphrase = typed;
        options.extraServerConfig << QStringLiteral("PasswordAuthentication no");
    } else if (scenario == QLatin1String("rsa")) {
        options.hostKeyType = SshServer::KeyType::Rsa;
        options.knownHost = false;
    } else if (scenario == QLatin1String("ed25519")) {
        options.knownHost = false;
    }
    UpperCaseTranslator translator;
    if (scenario.endsWith(QLatin1String("-translated")))
        QCoreApplication::installTranslator(&translator);
    const auto removeTranslator = qScopeGuard([&translator]() { QCoreApplication::removeTranslator(&translator); });
    SshServer server(options);
    START_SERVER(server);
    SavedVariable user("USER");
    qputenv("USER", server.user().toLocal8Bit());

    Connection connection;
    connection.start(server.host(), server.port(), scenario.startsWith(QLatin1String("user")) ? QString() : server.user(),
                     QStringLiteral("zentu2_sci"));
    QTRY_COMPARE_WITH_TIMEOUT(connection.page(), page, 30000);
    const QString expected = QString(shown)
                                 .replace(QLatin1String("%1"), server.hostKeyFingerprint())
                                 .replace(QLatin1String("%2"), server.user());
    if (page == 1) {
        const QString question = connection.dialog.findChild<QLabel*>(QStringLiteral("InstructionsLabel"))->text();
        QVERIFY2(question.contains(expected), qPrintable(question));
        QTest::keyClicks(connection.dialog.findChild<QLineEdit*>(QStringLiteral("AnswerLineEdit")), typed);
    } else {
        const char* field = page == 2 ? "HostKeyLineEdit" : "UserLineEdit";
        QCOMPARE(connection.dialog.findChild<QLineEdit*>(QLatin1String(field))->text(), expected);
    }
    connection.clickContinue();
    QVERIFY2(connection.connectedSpy->wait(30000), qPrintable(connection.logText()));
    QCOMPARE(connection.device->user(), server.user());
    QTRY_COMPARE_WITH_TIMEOUT(connection.page(), 0, 30000);
    if (scenario == QLatin1String("rsa") || scenario == QLatin1String("ed25519")) {
        QFile knownHosts(server.knownHostsPath());
        QVERIFY(knownHosts.open(QIODevice::ReadOnly));
        QVERIFY(knownHosts.readAll().contains(scenario == QLatin1String("rsa") ? "ssh-rsa" : "ssh-ed25519"));
    }
}

void TestSshDevice::hostTextIsNeverAnOption()
{
    SshServer server;
    START_SERVER(server);

    const QString marker = server.directory() + QStringLiteral("/injected");
    const QString host = QStringLiteral("-oProxyCommand=touch %1").arg(marker);
    Connection connection;
    // Port 0 leaves the port to ssh: no "-p".
    connection.start(host, 0, server.user(), QStringLiteral("zentu2_sci"));
    const QStringList arguments = connection.device->sshArguments();
    QVERIFY(!arguments.contains(QStringLiteral("-p")));
    QCOMPARE(arguments.mid(arguments.size() - 5), (QStringList{QStringLiteral("-l"), server.user(), QStringLiteral("--"),
                                                               host, QStringLiteral("zentu2_sci")}));
    QVERIFY(connection.finishedSpy->wait(30000));
    QCOMPARE(connection.finishedSpy->at(0).at(0).toBool(), false);
    QVERIFY(!QFile::exists(marker));
    QVERIFY(connection.logText().contains(QLatin1String("hostname contains invalid characters")));
}

void TestSshDevice::logIsBounded()
{
    SshServer server;
    START_SERVER(server);

    // The remote command's standard error reaches ssh's. It writes 100 lines
    // of 1000 bytes, then, after a line of input, 300000 bytes without a line
    // break, and ends after one more line of input.
    Connection connection;
    connection.start(server, QStringLiteral("for i in $(seq 1 100); do printf \"line$i %0990d\\n\" 0 >&2; done; read _; "
                                            "head -c 300000 /dev/zero | tr '\\0' x >&2; read _"));
    auto logSize = [&connection] {
        int total = 0;
        for (const QString& line : connection.device->log())
            total += line.size();
        return total;
    };
    QTRY_VERIFY_WITH_TIMEOUT(connection.logText().contains(QLatin1String("line100 ")), 30000);
    // The oldest lines went first, no more of them than needed.
    QVERIFY2(logSize() <= SshDevice::LogLimit, qPrintable(QString::number(logSize())));
    QVERIFY(logSize() > SshDevice::LogLimit - 2000);
    QVERIFY(!connection.logText().contains(QLatin1String("OpenSSH_")));

    QCOMPARE(connection.device->write("\n"), qint64(1));
    const QString piece(SshDevice::LogLimit, QLatin1Char('x'));
    QTRY_VERIFY_WITH_TIMEOUT(connection.device->log().contains(piece), 30000);
    QVERIFY(connection.device->isConnected());
    QVERIFY2(logSize() <= SshDevice::LogLimit, qPrintable(QString::number(logSize())));

    QCOMPARE(connection.device->write("\n"), qint64(1));
    QVERIFY(connection.finishedSpy->wait(30000));
    QCOMPARE(connection.finishedSpy->count(), 1);
    QVERIFY(connection.finishedSpy->at(0).at(0).toBool());
    QVERIFY(failureBoxes().isEmpty());
    // ssh has exited already: closing now reports nothing more.
    connection.device->close();
    QCOMPARE(connection.finishedSpy->count(), 1);
}

void TestSshDevice::askpassMissing()
{
    // The askpass program is looked up beside the running program first, so
    // this case runs in a copy of the test program placed where there is none.
    if (!qEnvironmentVariableIsSet("ZENTU_TEST_ALONE")) {
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        const QString copy = directory.filePath(QStringLiteral("tst_sshdevice"));
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
        QProcess alone;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ZENTU_TEST_ALONE"), QStringLiteral("1"));
        environment.insert(QStringLiteral("PATH"), directory.path());
        alone.setProcessEnvironment(environment);
        alone.setProcessChannelMode(QProcess::MergedChannels);
        alone.start(copy, {QStringLiteral("askpassMissing")});
        QVERIFY(alone.waitForFinished(60000));
        QVERIFY2(alone.exitCode() == 0, alone.readAll().constData());
        return;
    }
    Connection connection;
    connection.start(QStringLiteral("127.0.0.1"), 22, QString(), QStringLiteral("zentu2_sci"));
    QVERIFY(connection.finishedSpy->wait(30000));
    QCOMPARE(connection.finishedSpy->count(), 1);
    QCOMPARE(connection.finishedSpy->at(0).at(0).toBool(), false);
    QCOMPARE(connection.device->errorString(), QStringLiteral("askpass failed to start"));
    QTRY_COMPARE_WITH_TIMEOUT(failureBoxes().size(), 1, 20000);
}

void TestSshDevice::failureMessages_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<bool>("withLog");

    const QString user = SshServer().user();
    QTest::newRow("sci missing") << QStringLiteral("sci missing")
                                 << QStringLiteral("Unable to contact the server. Check that the server is properly "
                                                   "installed and that the SCI is accessible to the user \"%1\".")
                                        .arg(user)
                                 << true;
    QTest::newRow("unknown host") << QStringLiteral("unknown host")
                                  << QStringLiteral("The host \"no-such-host.invalid\" was not recognized. Make sure "
                                                    "the hostname is correct.")
                                  << true;
    QTest::newRow("refused") << QStringLiteral("refused") << QStringLiteral("ssh quit with error code 255") << true;
    QTest::newRow("authentication") << QStringLiteral("authentication")
                                    << QStringLiteral("Unable to authenticate the user \"%1\".").arg(user) << true;
    QTest::newRow("too many authentication failures")
        << QStringLiteral("max auth tries") << QStringLiteral("Unable to authenticate the user \"%1\".").arg(user)
        << true;
    QTest::newRow("no ssh") << QStringLiteral("no ssh") << QStringLiteral("ssh failed to start") << true;
    QTest::newRow("tunnel port taken")
        << QStringLiteral("tunnel port taken")
        << QStringLiteral("The local port of the SSH tunnel was taken by another program. Try to connect again.")
        << true;
    QTest::newRow("framing error") << QStringLiteral("framing")
                                   << QStringLiteral("Got a NetString length that is too big") << false;
}

void TestSshDevice::failureMessages()
{
    QFETCH(QString, scenario);
    QFETCH(QString, detail);
    QFETCH(bool, withLog);

    SshServer::Options options;
    if (scenario == QLatin1String("authentication")) {
        options.authorizeClientKey = false;
        options.extraServerConfig << QStringLiteral("PasswordAuthentication no");
    } else if (scenario == QLatin1String("max auth tries")) {
        options.authorizeClientKey = false;
        options.extraServerConfig << QStringLiteral("MaxAuthTries 1");
    }
    SshServer server(options);
    START_SERVER(server);
    SavedVariable path("PATH");

    QString host = server.host();
    quint16 port = server.port();
    QString command = QStringLiteral("zentu2_sci");
    if (scenario == QLatin1String("sci missing")) {
        command = QStringLiteral("zentu_no_such_sci");
    } else if (scenario == QLatin1String("unknown host")) {
        host = QStringLiteral("no-such-host.invalid");
    } else if (scenario == QLatin1String("refused")) {
        server.stop();
    } else if (scenario == QLatin1String("no ssh")) {
        qputenv("PATH", QFile::encodeName(server.directory()));
    } else if (scenario == QLatin1String("framing")) {
        command = QStringLiteral("printf -- '---- BEGIN Zentu NetString ----\\n65537:'; cat >/dev/null");
    }

    Connection connection;
    connection.start(host, port, server.user(), command);
    // Another program takes the chosen port before ssh has logged in.
    QTcpServer takenV4;
    QTcpServer takenV6;
    if (scenario == QLatin1String("tunnel port taken")) {
        QVERIFY(takenV4.listen(QHostAddress::LocalHost, connection.device->tunnelPort()));
        QVERIFY(takenV6.listen(QHostAddress::LocalHostIPv6, connection.device->tunnelPort()));
    }
    QVERIFY(connection.finishedSpy->wait(60000));
    QCOMPARE(connection.finishedSpy->count(), 1);
    QCOMPARE(connection.finishedSpy->at(0).at(0).toBool(), !withLog);

    QTRY_COMPARE_WITH_TIMEOUT(failureBoxes().size(), 1, 20000);
    QMessageBox* box = failureBoxes().at(0);
    QCOMPARE(box->icon(), QMessageBox::Warning);
    QCOMPARE(box->text(), QStringLiteral("There was a problem with the connection.<br><br>%1").arg(detail.toHtmlEscaped()));
    QVERIFY(box->windowTitle().endsWith(QLatin1String(" Error")));
    if (withLog)
        QCOMPARE(box->detailedText(), connection.device->log().join(QLatin1Char('\n')).remove(QLatin1Char('\r')));
    else
        QVERIFY(box->detailedText().isEmpty());
}

void TestSshDevice::phraseTableSkipsDiagnostics()
{
    // ssh's own -v lines mention missing files on every run; they decide nothing.
    const QStringList diagnostics{
        QStringLiteral("debug1: load_hostkeys: fopen /root/.ssh/known_hosts2: No such file or directory"),
        QStringLiteral("debug1: identity file /root/.ssh/id_rsa type -1"),
        QStringLiteral("debug3: record not found"),
        QStringLiteral("ssh: connect to host 127.0.0.1 port 22: Connection refused"),
    };
    QCOMPARE(connectionFailureDetail(diagnostics, QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("fallback")),
             QStringLiteral("fallback"));
    // The last log entry holds several lines at once; each is judged alone.
    const QStringList joined{QStringLiteral("debug1: Exit status 127\nbash: line 1: sci: command not found\n"),
                             QStringLiteral("ssh: connect to host h port 1: Connection timed out")};
    QVERIFY(connectionFailureDetail(joined, QStringLiteral("h"), QStringLiteral("u"), QString())
                .startsWith(QLatin1String("Unable to contact the server.")));
    QCOMPARE(connectionFailureDetail({QStringLiteral("ssh: connect to host h port 1: Connection timed out")},
                                     QStringLiteral("h"), QStringLiteral("u"), QString()),
             QStringLiteral("Unable to connect to the host \"h\". The host may be down."));
}

void TestSshDevice::failureTextsAreInTheCatalogue()
{
    RecordingTranslator recorder;
    QCoreApplication::installTranslator(&recorder);
    const QStringList lines{QStringLiteral("bash: sci: command not found"),
                            QStringLiteral("Too many authentication failures"),
                            QStringLiteral("ssh: Could not resolve hostname h"),
                            QStringLiteral("ssh: connect to host h port 22: Connection timed out"),
                            QStringLiteral("plink: unknown option \"-x\""),
                            QStringLiteral("ssh: illegal option -- x")};
    for (const QString& line : lines)
        connectionFailureDetail({line}, QStringLiteral("h"), QStringLiteral("u"), QString());
    SshDevice unused;
    reportConnectionFailure(&unused, nullptr);
    for (auto outcome : {NetStringBuffer::InvalidNetString, NetStringBuffer::InvalidLength, NetStringBuffer::LengthTooBig})
        NetStringBuffer::errorString(outcome);
    QCoreApplication::removeTranslator(&recorder);

    // Installing a translator makes Qt look up its layout direction.
    recorder.lookups.remove(Message(QStringLiteral("QGuiApplication"), QStringLiteral("QT_LAYOUT_DIRECTION")));
    QCOMPARE(recorder.lookups.size(), lines.size() + 1 + 3);
    const QSet<Message> catalogue = catalogueMessages();
    QVERIFY(!catalogue.isEmpty());
    for (const Message& lookup : qAsConst(recorder.lookups))
        QVERIFY2(catalogue.contains(lookup), qPrintable(lookup.first + QStringLiteral(": ") + lookup.second));
}

QTEST_MAIN(TestSshDevice)
#include "tst_sshdevice.moc"
