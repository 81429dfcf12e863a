// Sessions started through the command-interface stand-in over a real ssh
// login, viewed through the login's SOCKS forward.

#include "RdpProbe.h"
#include "SessionFixture.h"
#include "SessionKey.h"
#include "SshServer.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray netString(const QJsonObject& object)
{
    const QByteArray payload = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return QByteArray::number(payload.size()) + ':' + payload + ',';
}

QByteArray request(const QString& id, const QString& method, const QJsonObject& params)
{
    return netString({ { QStringLiteral("jsonrpc"), QStringLiteral("2.0") },
                       { QStringLiteral("id"), id },
                       { QStringLiteral("method"), method },
                       { QStringLiteral("params"), params } });
}

// Replies by request id, from the output after the marker line.
QMap<QString, QJsonObject> replies(const QByteArray& output)
{
    QMap<QString, QJsonObject> result;
    const QByteArray marker = "---- BEGIN Zentu NetString ----\n";
    int pos = output.indexOf(marker);
    if (pos < 0)
        return result;
    pos += marker.size();
    while (pos < output.size()) {
        const int colon = output.indexOf(':', pos);
        bool ok = false;
        const int length = output.mid(pos, colon - pos).toInt(&ok);
        if (colon < 0 || !ok || colon + 1 + length >= output.size())
            break;
        const QJsonObject reply = QJsonDocument::fromJson(output.mid(colon + 1, length)).object();
        result.insert(reply.value(QStringLiteral("id")).toString(), reply);
        pos = colon + 2 + length;
    }
    return result;
}

QString sessionId(char fill)
{
    return QString(32, QLatin1Char(fill));
}

} // namespace

class TestSessionLaunch : public QObject
{
    Q_OBJECT

private:
    QJsonObject call(const QString& method, const QJsonObject& params)
    {
        const SshServer::RunResult run =
            m_ssh->runSsh(QStringLiteral("zentu2_sci"), request(QStringLiteral("r1"), method, params), 60000);
        return replies(run.standardOutput).value(QStringLiteral("r1"));
    }

    QJsonArray list()
    {
        return call(QStringLiteral("Zentu.list"), {}).value(QStringLiteral("result")).toArray();
    }

    QJsonObject listed(const QString& id)
    {
        for (const QJsonValue& value : list()) {
            if (value.toObject().value(QStringLiteral("id")).toString() == id)
                return value.toObject();
        }
        return QJsonObject();
    }

    QTemporaryDir m_data;
    std::unique_ptr<SshServer> m_ssh;
    std::unique_ptr<QProcess> m_forward;
    quint16 m_socksPort = 0;

private slots:
    void initTestCase();
    void cleanupTestCase();
    void startConnectDisconnectTerminate();
    void failedStartKeepsItsLog_data();
    void failedStartKeepsItsLog();
    void sessionEndsWithItsCommand();
};

void TestSessionLaunch::initTestCase()
{
    SshServer::Options options;
    // One SetEnv line: sshd keeps the first; it also carries the fixture's PATH.
    options.extraServerConfig = QStringList(QStringLiteral("SetEnv XDG_DATA_HOME=%1 PATH=%2:/usr/local/bin:/usr/bin:/bin")
                                                .arg(m_data.path(), SshServer::binDir()));
    m_ssh = std::make_unique<SshServer>(options);
    QString error;
    QVERIFY2(m_ssh->start(&error), qPrintable(error));

    m_socksPort = SessionFixture::freePort();
    m_forward = std::make_unique<QProcess>();
    QProcessEnvironment environment = m_ssh->clientEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    m_forward->setProcessEnvironment(environment);
    m_forward->start(m_ssh->clientBinDir() + QStringLiteral("/ssh"),
                     { QStringLiteral("-N"), QStringLiteral("-D"), QStringLiteral("127.0.0.1:%1").arg(m_socksPort),
                       QStringLiteral("-l"), m_ssh->user(), QStringLiteral("-p"), QString::number(m_ssh->port()),
                       m_ssh->host() });
    QVERIFY(m_forward->waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT([this] {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), m_socksPort);
        return socket.waitForConnected(200);
    }(), 20000);
}

void TestSessionLaunch::cleanupTestCase()
{
    if (m_forward) {
        m_forward->kill();
        m_forward->waitForFinished(5000);
    }
    // Sessions a failed test left behind.
    for (const QJsonValue& value : list())
        call(QStringLiteral("Zentu.terminate"), { { QStringLiteral("id"), value.toObject().value(QStringLiteral("id")) } });
}

void TestSessionLaunch::startConnectDisconnectTerminate()
{
    const QString id = sessionId('a');
    const QJsonObject startParams { { QStringLiteral("id"), id },
                                    { QStringLiteral("command"), QStringLiteral("xterm -e 'echo \"$DISPLAY\"; exec sleep 600'") },
                                    { QStringLiteral("geometry"), QStringLiteral("800x600") } };
    const QJsonObject started = call(QStringLiteral("Zentu.start"), startParams);
    const QJsonObject result = started.value(QStringLiteral("result")).toObject();
    QVERIFY2(!result.isEmpty(), QJsonDocument(started).toJson().constData());
    QCOMPARE(result.value(QStringLiteral("geometry")).toString(), QStringLiteral("800x600"));
    QCOMPARE(result.value(QStringLiteral("windowMode")).toString(), QStringLiteral("desktop"));
    const QString password = result.value(QStringLiteral("password")).toString();
    QVERIFY(password.size() >= 16);
    RdpProbe::Options options;
    options.port = quint16(result.value(QStringLiteral("port")).toInt());
    options.socksPort = m_socksPort;
    QVERIFY(options.port > 0);

    // The same id cannot start twice. A name given to the session is kept
    // for the next login (each call here is a login and a stand-in of its own).
    QVERIFY(call(QStringLiteral("Zentu.start"), startParams).contains(QStringLiteral("error")));
    QVERIFY(call(QStringLiteral("Zentu.params"), { { QStringLiteral("id"), id }, { QStringLiteral("name"), QStringLiteral("Tools") } })
                .contains(QStringLiteral("result")));
    const QJsonObject first = listed(id);
    QCOMPARE(first.value(QStringLiteral("params")).toObject().value(QStringLiteral("name")).toString(), QStringLiteral("Tools"));
    QCOMPARE(first.value(QStringLiteral("clients")).toInt(-1), 0);
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}$"))
                .match(first.value(QStringLiteral("started")).toString()).hasMatch());

    // The session outlived the ssh login that started it.
    const QString dir = m_data.path() + QStringLiteral("/zentu-server/sessions/") + id;
    QFile pidFile(dir + QStringLiteral("/supervisor.pid"));
    QVERIFY(pidFile.open(QIODevice::ReadOnly));
    const qint64 supervisor = pidFile.readAll().trimmed().toLongLong();
    QVERIFY(SessionFixture::processRunning(supervisor));
    const QList<qint64> processes = SessionFixture::descendantsOf(supervisor) << supervisor;
    QVERIFY(processes.size() >= 4);

    // Only X clients holding the session's cookie get onto its display.
    QFile displayFile(dir + QStringLiteral("/display"));
    QVERIFY(displayFile.open(QIODevice::ReadOnly));
    const QString display = QString::fromLatin1(displayFile.readAll().trimmed());
    const QString authority = dir + QStringLiteral("/Xauthority");
    QCOMPARE(QFile::permissions(authority), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                | QFileDevice::ReadUser | QFileDevice::WriteUser);
    QVERIFY(SessionFixture::displayOpens(display, authority, false));
    QVERIFY(!SessionFixture::displayOpens(display, QString(), false));
    QVERIFY(!SessionFixture::displayOpens(display, authority, true));
    // The key's private exponent is as long as its modulus.
    QString keyError;
    QVERIFY2(sessionKeyUsable(dir + QStringLiteral("/key.pem"), &keyError), qPrintable(keyError));

    options.password = password + QStringLiteral("0");
    {
        RdpProbe wrong;
        QString error;
        const bool connected = wrong.connect(options, &error);
        QVERIFY(!connected || wrong.waitFor([&] { return !wrong.connected(); }, 10000));
    }
    // A refused client never counted, so none has left.
    QVERIFY(!listed(id).contains(QStringLiteral("lastDisconnect")));

    options.password = password;
    QString error;
    {
        // A client that goes away by itself, as when its window is closed.
        RdpProbe leaving;
        QVERIFY2(leaving.connect(options, &error), qPrintable(error));
        QCOMPARE(listed(id).value(QStringLiteral("clients")).toInt(), 1);
    }
    QTRY_VERIFY_WITH_TIMEOUT(listed(id).value(QStringLiteral("clients")).toInt() == 0, 10000);
    QVERIFY(listed(id).contains(QStringLiteral("lastDisconnect")));

    RdpProbe probe;
    QVERIFY2(probe.connect(options, &error), qPrintable(error));
    // The list the client refreshes once connected already counts it.
    QCOMPARE(listed(id).value(QStringLiteral("clients")).toInt(), 1);
    QVERIFY(probe.waitFor([&] { return probe.frame().size() == QSize(800, 600) && probe.framesReceived() > 0; },
                          15000));

    const QJsonObject connected = call(QStringLiteral("Zentu.connect"), { { QStringLiteral("id"), id } });
    QCOMPARE(connected.value(QStringLiteral("result")).toObject().value(QStringLiteral("port")).toInt(),
             int(options.port));

    // The probe does not hang up by itself here: the reply comes once the
    // display server has given up waiting and counted the client out.
    QVERIFY(call(QStringLiteral("Zentu.disconnect"), { { QStringLiteral("id"), id } }).contains(QStringLiteral("result")));
    QCOMPARE(listed(id).value(QStringLiteral("clients")).toInt(), 0);
    QVERIFY(probe.waitFor([&] { return !probe.connected(); }, 10000));
    QCOMPARE(probe.errorInfo(), 1u);

    QVERIFY(call(QStringLiteral("Zentu.terminate"), { { QStringLiteral("id"), id } }).contains(QStringLiteral("result")));
    QVERIFY(listed(id).isEmpty());
    for (qint64 pid : processes)
        QVERIFY2(!SessionFixture::processRunning(pid), qPrintable(QString::number(pid)));
}

void TestSessionLaunch::failedStartKeepsItsLog_data()
{
    QTest::addColumn<QChar>("idFill");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("logged");
    QTest::addColumn<bool>("named"); // the message names the program
    QTest::newRow("not found") << QChar(QLatin1Char('b')) << QStringLiteral("zentu-no-such-program --flag")
                               << QStringList { QStringLiteral("zentu-no-such-program") } << true;
    // Found on PATH but failing at once: the shell's own words reach the log.
    QTest::newRow("fails at once") << QChar(QLatin1Char('d'))
                                   << QStringLiteral("sh -c 'echo zentu-bad-option >&2; exit 3'")
                                   << QStringList { QStringLiteral("zentu-bad-option"), QStringLiteral("failed at start") }
                                   << false;
}

void TestSessionLaunch::failedStartKeepsItsLog()
{
    QFETCH(QChar, idFill);
    QFETCH(QString, command);
    QFETCH(QStringList, logged);
    QFETCH(bool, named);
    const QString id = sessionId(idFill.toLatin1());
    const QJsonObject reply = call(QStringLiteral("Zentu.start"), { { QStringLiteral("id"), id },
                                                                    { QStringLiteral("command"), command },
                                                                    { QStringLiteral("geometry"), QStringLiteral("640x480") } });
    const QJsonObject error = reply.value(QStringLiteral("error")).toObject();
    QVERIFY2(error.contains(QStringLiteral("id")) && error.contains(QStringLiteral("log")),
             QJsonDocument(reply).toJson().constData());
    const QString message = error.value(QStringLiteral("message")).toString();
    QVERIFY2(named ? message.contains(logged.first()) : !message.isEmpty(), qPrintable(message));
    const QJsonObject log = call(QStringLiteral("Zentu.log"), { { QStringLiteral("id"), error.value(QStringLiteral("id")) },
                                                                { QStringLiteral("log"), error.value(QStringLiteral("log")) } });
    const QString contents = log.value(QStringLiteral("result")).toObject().value(QStringLiteral("contents")).toString();
    for (const QString& text : logged)
        QVERIFY2(contents.contains(text), qPrintable(contents));
    QVERIFY(listed(id).isEmpty());
}

void TestSessionLaunch::sessionEndsWithItsCommand()
{
    const QString id = sessionId('c');
    const QString flag = m_data.path() + QStringLiteral("/go");
    // The command ends once the test creates the flag file.
    const QJsonObject reply = call(QStringLiteral("Zentu.start"),
                                   { { QStringLiteral("id"), id },
                                     { QStringLiteral("command"),
                                       QStringLiteral("sh -c 'while [ ! -e %1 ]; do sleep 0.1; done'").arg(flag) },
                                     { QStringLiteral("geometry"), QStringLiteral("rootless") } });
    const QJsonObject result = reply.value(QStringLiteral("result")).toObject();
    QVERIFY2(!result.isEmpty(), QJsonDocument(reply).toJson().constData());
    QCOMPARE(result.value(QStringLiteral("windowMode")).toString(), QStringLiteral("rootless"));
    QFile pidFile(m_data.path() + QStringLiteral("/zentu-server/sessions/") + id + QStringLiteral("/supervisor.pid"));
    QVERIFY(pidFile.open(QIODevice::ReadOnly));
    const qint64 supervisor = pidFile.readAll().trimmed().toLongLong();
    const QList<qint64> processes = SessionFixture::descendantsOf(supervisor) << supervisor;
    QVERIFY(!listed(id).isEmpty());
    RdpProbe::Options options;
    options.port = quint16(result.value(QStringLiteral("port")).toInt());
    options.password = result.value(QStringLiteral("password")).toString();
    options.socksPort = m_socksPort;
    options.remoteApp = true;
    RdpProbe probe;
    QString error;
    QVERIFY2(probe.connect(options, &error), qPrintable(error));
    // The display server runs rootless: it opens the rootless-window channel.
    QVERIFY(probe.waitFor([&] { return !probe.railMessages().isEmpty(); }, 10000));

    // The program ends, as when its user logs out: the client hears so.
    QFile go(flag);
    QVERIFY(go.open(QIODevice::WriteOnly));
    go.close();
    QVERIFY(probe.waitFor([&] { return !probe.connected(); }, 15000));
    QCOMPARE(probe.errorInfo(), 12u);
    QTRY_VERIFY_WITH_TIMEOUT(listed(id).isEmpty(), 20000);
    for (qint64 pid : processes)
        QTRY_VERIFY_WITH_TIMEOUT(!SessionFixture::processRunning(pid), 10000);
    const QDir dir(m_data.path() + QStringLiteral("/zentu-server/sessions/") + id);
    QVERIFY(dir.exists(QStringLiteral("session.log")));
    QVERIFY(!dir.exists(QStringLiteral("password")) && !dir.exists(QStringLiteral("key.pem")));
}

QTEST_GUILESS_MAIN(TestSessionLaunch)
#include "tst_sessionlaunch.moc"
