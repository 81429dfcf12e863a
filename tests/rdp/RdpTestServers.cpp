#include "RdpTestServers.h"

#include "RdpDesktopWidget.h"
#include "RdpMainWidget.h"
#include "RdpToolbar.h"
#include "SessionKey.h"
#include "SshServer.h"

#include <QDir>
#include <QFile>
#include <QScreen>
#include <QTcpSocket>
#include <QTest>

namespace {

void end(std::unique_ptr<QProcess>& process)
{
    if (process && process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(10000);
    }
    process.reset();
}

bool started(QProcess& process, QString* error)
{
    if (process.waitForStarted(10000))
        return true;
    *error = QStringLiteral("%1 did not start: %2").arg(process.program(), process.errorString());
    return false;
}

} // namespace

bool showsRemoteOnScreen(RdpDesktopWidget* desktop, const QImage& remote, double scale, QString* mismatch)
{
    QWidget* viewport = desktop->parentWidget();
    const QRect shown = QRect(desktop->mapFrom(viewport, QPoint(0, 0)), viewport->size()) & desktop->rect();
    const QPoint origin = desktop->mapToGlobal(shown.topLeft());
    // The root window's pixels: what the X server shows there.
    const QImage screen = desktop->screen()
                              ->grabWindow(0, origin.x(), origin.y(), shown.width(), shown.height())
                              .toImage()
                              .convertToFormat(QImage::Format_RGB32);
    const auto* window = qobject_cast<RdpMainWidget*>(desktop->window());
    const QRect toolbar(desktop->mapFrom(window, window->toolbar()->pos()), window->toolbar()->size());
    int compared = 0;
    for (int y = 8; y < remote.height(); y += 48) {
        for (int x = 8; x < remote.width(); x += 48) {
            const QPoint local(static_cast<int>(x / scale), static_cast<int>(y / scale));
            if (!shown.contains(local) || toolbar.contains(local))
                continue;
            ++compared;
            const QRgb a = screen.pixel(local - shown.topLeft());
            const QRgb b = remote.pixel(x, y);
            // RemoteFX quantises a little.
            if (qAbs(qRed(a) - qRed(b)) > 12 || qAbs(qGreen(a) - qGreen(b)) > 12 || qAbs(qBlue(a) - qBlue(b)) > 12) {
                *mismatch = QStringLiteral("on screen at %1,%2: %3 instead of %4")
                                .arg(local.x()).arg(local.y()).arg(a, 8, 16).arg(b, 8, 16);
                return false;
            }
        }
    }
    if (compared < 20) {
        *mismatch = QStringLiteral("only %1 points shown").arg(compared);
        return false;
    }
    return true;
}

bool portAccepts(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return socket.waitForConnected(1000);
}

RdpTestServer::~RdpTestServer()
{
    stop();
}

void RdpTestServer::stop()
{
    end(m_server);
    end(m_extra);
    end(m_xvfb);
}

void RdpTestServer::endServer()
{
    end(m_server);
}

QProcessEnvironment RdpTestServer::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    return environment;
}

bool RdpTestServer::startXvfb(QString* error, const QStringList& screens)
{
    // Xvfb picks a free display itself and names it on the given descriptor.
    m_xvfb = std::make_unique<QProcess>();
    m_xvfb->start(QStringLiteral("Xvfb"), QStringList{QStringLiteral("-displayfd"), QStringLiteral("1")} + screens
                                              + QStringList{QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!started(*m_xvfb, error))
        return false;
    if (!QTest::qWaitFor([this] { return m_xvfb->canReadLine(); }, 20000)) {
        *error = QStringLiteral("Xvfb did not name its display: %1")
                     .arg(QString::fromLocal8Bit(m_xvfb->readAllStandardError()));
        return false;
    }
    m_display = QLatin1Char(':') + QString::fromLatin1(m_xvfb->readLine().trimmed());
    return true;
}

bool RdpTestServer::startServer(const QString& program, const QStringList& arguments, QString* error)
{
    m_port = SshServer::freePort();
    m_server = std::make_unique<QProcess>();
    m_server->setProcessEnvironment(environment());
    m_server->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList withPort = arguments;
    withPort.replaceInStrings(QStringLiteral("%port"), QString::number(m_port));
    m_server->start(program, withPort);
    if (!started(*m_server, error))
        return false;
    if (!QTest::qWaitFor([this] { return portAccepts(m_port) || m_server->state() == QProcess::NotRunning; }, 20000)
        || m_server->state() == QProcess::NotRunning) {
        *error = QStringLiteral("%1 did not listen").arg(program);
        return false;
    }
    return true;
}

bool RdpDisplayServer::start(QString* error)
{
    const QString key = m_dir.filePath(QStringLiteral("key.pem"));
    const QString passwordFile = m_dir.filePath(QStringLiteral("password"));
    QFile file(passwordFile);
    if (!m_dir.isValid() || !file.open(QIODevice::WriteOnly) || file.write(password().toUtf8()) < 0) {
        *error = QStringLiteral("cannot write the password file");
        return false;
    }
    file.close();
    return writeSessionKey(key, error)
        && startXvfb(error)
        && startServer(QDir(SshServer::binDir()).filePath(QStringLiteral("zentu2_display")),
                       {QStringLiteral("--display"), display(), QStringLiteral("--port"), QStringLiteral("%port"),
                        QStringLiteral("--password-file"), passwordFile, QStringLiteral("--key"), key},
                       error);
}

bool RdpShadowServer::start(QString* error)
{
    if (!startXvfb(error))
        return false;
    m_extra = std::make_unique<QProcess>();
    m_extra->setProcessEnvironment(environment());
    m_extra->start(QDir(SshServer::binDir()).filePath(QStringLiteral("rdp_probe")), QStringList());
    if (!started(*m_extra, error))
        return false;
    if (!QTest::qWaitFor([this] { return !probeLines().filter(QStringLiteral("ready")).isEmpty(); }, 20000)) {
        *error = QStringLiteral("the probe did not come up: %1")
                     .arg(QString::fromLocal8Bit(m_extra->readAllStandardError()));
        return false;
    }
    m_probeOutput.clear();
    return startServer(QStringLiteral("freerdp-shadow-cli"),
                       {QStringLiteral("/bind-address:127.0.0.1"), QStringLiteral("/port:%port"),
                        QStringLiteral("/sec:rdp"), QStringLiteral("-auth")},
                       error);
}

QStringList RdpShadowServer::probeLines()
{
    if (m_extra)
        m_probeOutput += m_extra->readAllStandardOutput();
    return QString::fromLatin1(m_probeOutput).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
