// The sshd fixture itself: other areas' tests rely on it behaving as documented.
#include "SshServer.h"

#include <QTcpSocket>
#include <QtTest>

class TestSshServer : public QObject
{
    Q_OBJECT

private slots:
    void loginRestoresEnvironmentAndPort();
};

void TestSshServer::loginRestoresEnvironmentAndPort()
{
    const QByteArray home = qgetenv("HOME");
    const QByteArray path = qgetenv("PATH");
    quint16 port = 0;
    {
        SshServer server;
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));
        port = server.port();
        QVERIFY(server.hostKeyFingerprint().startsWith(QLatin1String("SHA256:")));

        const SshServer::RunResult result = server.runSsh(QStringLiteral("cat; echo \"[$PATH]\""), "from stdin\n");
        QVERIFY2(result.finished, result.standardError.constData());
        QCOMPARE(result.exitCode, 0);
        const QList<QByteArray> lines = result.standardOutput.split('\n');
        QCOMPARE(lines.value(0), QByteArray("from stdin"));
        QVERIFY2(lines.value(1).contains(SshServer::binDir().toLocal8Bit() + ':'), lines.value(1).constData());
        QVERIFY(server.serverLog().contains(QStringLiteral("Accepted publickey for %1").arg(server.user())));

        // A plain "ssh" of this process reaches the fixture once exported.
        server.exportClientEnvironment();
        QCOMPARE(qgetenv("HOME"), server.clientHome().toLocal8Bit());
        QVERIFY(qgetenv("PATH").startsWith(server.clientBinDir().toLocal8Bit() + ':'));
        QProcess ssh;
        ssh.start(QStringLiteral("ssh"), {QStringLiteral("-l"), server.user(), QStringLiteral("-p"),
                                          QString::number(server.port()), server.host(), QStringLiteral("echo ok")});
        QVERIFY(ssh.waitForFinished(30000));
        QCOMPARE(ssh.exitCode(), 0);
        QCOMPARE(ssh.readAllStandardOutput(), QByteArray("ok\n"));
    }
    QCOMPARE(qgetenv("HOME"), home);
    QCOMPARE(qgetenv("PATH"), path);
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!probe.waitForConnected(2000));
    QCOMPARE(probe.error(), QAbstractSocket::ConnectionRefusedError);
}

QTEST_GUILESS_MAIN(TestSshServer)
#include "tst_sshserver.moc"
