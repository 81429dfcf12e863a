#include "RdpDisplayServer.h"

#include "SshServer.h"
#include "TestServerProcess.h"

#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QTest>

using TestServerProcess::portAccepts;

RdpDisplayServer::~RdpDisplayServer()
{
    stop();
}

QProcessEnvironment RdpDisplayServer::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    return environment;
}

bool RdpDisplayServer::start(QString* error)
{
    if (!m_dir.isValid()) {
        *error = QStringLiteral("no temporary directory");
        return false;
    }
    const QString key = m_dir.filePath(QStringLiteral("key.pem"));
    QByteArray output;
    if (!runTool(QStringLiteral("openssl"), {QStringLiteral("genrsa"), QStringLiteral("-out"), key,
                                             QStringLiteral("2048")},
                 &output, error))
        return false;
    const QString passwordFile = m_dir.filePath(QStringLiteral("password"));
    QFile file(passwordFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(password().toUtf8()) < 0) {
        *error = QStringLiteral("cannot write the password file");
        return false;
    }
    file.close();

    m_xvfb = std::make_unique<QProcess>();
    m_xvfb->start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                           QStringLiteral("-screen"), QStringLiteral("0"),
                                           QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                                           QStringLiteral("tcp")});
    if (!m_xvfb->waitForStarted(10000) || !QTest::qWaitFor([this] { return m_xvfb->canReadLine(); }, 20000)) {
        *error = QStringLiteral("Xvfb did not start");
        return false;
    }
    m_display = QLatin1Char(':') + QString::fromLatin1(m_xvfb->readLine().trimmed());

    m_port = SshServer::freePort();
    m_server = std::make_unique<QProcess>();
    m_server->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server->start(QDir(SshServer::binDir()).filePath(QStringLiteral("zentu2_display")),
                    {QStringLiteral("--display"), m_display, QStringLiteral("--port"), QString::number(m_port),
                     QStringLiteral("--password-file"), passwordFile, QStringLiteral("--key"), key});
    if (!m_server->waitForStarted(10000)) {
        *error = QStringLiteral("zentu2_display did not start: %1").arg(m_server->errorString());
        return false;
    }
    if (!QTest::qWaitFor([this] { return portAccepts(m_port) || m_server->state() == QProcess::NotRunning; }, 20000)
        || m_server->state() == QProcess::NotRunning) {
        *error = QStringLiteral("zentu2_display did not listen");
        return false;
    }
    return true;
}

void RdpDisplayServer::stop()
{
    TestServerProcess::end(m_server);
    TestServerProcess::end(m_xvfb);
}
