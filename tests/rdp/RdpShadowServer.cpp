#include "RdpShadowServer.h"

#include "SshServer.h"
#include "TestServerProcess.h"

#include <QDir>
#include <QProcessEnvironment>
#include <QTcpSocket>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

using TestServerProcess::portAccepts;

RdpShadowServer::~RdpShadowServer()
{
    stop();
}

bool RdpShadowServer::startProcess(QProcess* process, const QString& program, const QStringList& arguments,
                                   QString* error)
{
    process->start(program, arguments);
    if (!process->waitForStarted(10000)) {
        *error = QStringLiteral("%1 did not start: %2").arg(program, process->errorString());
        return false;
    }
    return true;
}

bool RdpShadowServer::start(QString* error)
{
    // Xvfb picks a free display itself and names it on the given descriptor.
    m_xvfb = std::make_unique<QProcess>();
    m_xvfb->setProcessChannelMode(QProcess::SeparateChannels);
    if (!startProcess(m_xvfb.get(), QStringLiteral("Xvfb"),
                      {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                       QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                       QStringLiteral("tcp")},
                      error))
        return false;
    if (!QTest::qWaitFor([this] { return m_xvfb->canReadLine(); }, 20000)) {
        *error = QStringLiteral("Xvfb did not name its display: %1").arg(QString::fromLocal8Bit(m_xvfb->readAllStandardError()));
        return false;
    }
    m_display = QLatin1Char(':') + QString::fromLatin1(m_xvfb->readLine().trimmed());

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);

    m_probe = std::make_unique<QProcess>();
    m_probe->setProcessEnvironment(environment);
    const QString probe = QDir(SshServer::binDir()).filePath(QStringLiteral("rdp_probe"));
    if (!startProcess(m_probe.get(), probe, {}, error))
        return false;
    if (!QTest::qWaitFor([this] {
            m_probeOutput += m_probe->readAllStandardOutput();
            return m_probeOutput.contains("ready");
        }, 20000)) {
        *error = QStringLiteral("the probe did not come up: %1").arg(QString::fromLocal8Bit(m_probe->readAllStandardError()));
        return false;
    }
    m_probeOutput.clear();

    m_port = SshServer::freePort();
    m_shadow = std::make_unique<QProcess>();
    m_shadow->setProcessEnvironment(environment);
    m_shadow->setProcessChannelMode(QProcess::MergedChannels);
    if (!startProcess(m_shadow.get(), QStringLiteral("freerdp-shadow-cli"),
                      {QStringLiteral("/bind-address:127.0.0.1"), QStringLiteral("/port:%1").arg(m_port),
                       QStringLiteral("/sec:rdp"), QStringLiteral("-auth")},
                      error))
        return false;
    if (!QTest::qWaitFor([this] { return portAccepts(m_port) || m_shadow->state() == QProcess::NotRunning; }, 20000)
        || m_shadow->state() == QProcess::NotRunning) {
        *error = QStringLiteral("the shadow server did not listen: %1").arg(QString::fromLocal8Bit(m_shadow->readAll()));
        return false;
    }
    return true;
}

void RdpShadowServer::killServer()
{
    TestServerProcess::end(m_shadow);
}

void RdpShadowServer::stop()
{
    TestServerProcess::end(m_shadow);
    TestServerProcess::end(m_probe);
    TestServerProcess::end(m_xvfb);
}

QImage RdpShadowServer::capture() const
{
    Display* display = XOpenDisplay(m_display.toLatin1().constData());
    if (!display)
        return QImage();
    const Window root = DefaultRootWindow(display);
    XImage* image = XGetImage(display, root, 0, 0, 1024, 768, AllPlanes, ZPixmap);
    QImage result;
    if (image) {
        result = QImage(1024, 768, QImage::Format_RGB32);
        for (int y = 0; y < 768; ++y) {
            auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
            for (int x = 0; x < 1024; ++x)
                line[x] = 0xFF000000u | (XGetPixel(image, x, y) & 0xFFFFFFu);
        }
        XDestroyImage(image);
    }
    XCloseDisplay(display);
    return result;
}

QStringList RdpShadowServer::probeLines()
{
    if (m_probe)
        m_probeOutput += m_probe->readAllStandardOutput();
    return QString::fromLatin1(m_probeOutput).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
