#pragma once

#include "DisplayCapture.h"

#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// Real RDP peers for the display tests, each on an Xvfb of its own and a free
// port of 127.0.0.1. Every process is stopped by its pid on destruction.
class RdpTestServer
{
public:
    virtual ~RdpTestServer();
    RdpTestServer(const RdpTestServer&) = delete;
    RdpTestServer& operator=(const RdpTestServer&) = delete;

    void stop();
    quint16 port() const { return m_port; }
    QString display() const { return m_display; }
    // The environment of a program on the server's display.
    QProcessEnvironment environment() const;

protected:
    RdpTestServer() = default;
    // Screens and extensions are Xvfb's arguments; by default one 1024x768 screen.
    bool startXvfb(QString* error,
                   const QStringList& screens = {QStringLiteral("-screen"), QStringLiteral("0"),
                                                 QStringLiteral("1024x768x24")});
    // Starts the server program and waits until it listens on the port.
    bool startServer(const QString& program, const QStringList& arguments, QString* error);
    void endServer();

    std::unique_ptr<QProcess> m_extra;

private:
    std::unique_ptr<QProcess> m_xvfb;
    std::unique_ptr<QProcess> m_server;
    QString m_display;
    quint16 m_port = 0;
};

// The project's display server (zentu2_display) with a fresh key and
// password; unlike FreeRDP's shadow server it speaks the clipboard channel.
class RdpDisplayServer : public RdpTestServer
{
public:
    bool start(QString* error);
    QString password() const { return QStringLiteral("display-test-password"); }

private:
    QTemporaryDir m_dir;
};

// FreeRDP's shadow server (RDP security, no authentication) sharing a
// display that shows the rdp_probe program.
class RdpShadowServer : public RdpTestServer
{
public:
    bool start(QString* error);
    // Kills the shadow server alone, as a crash would.
    void killServer() { endServer(); }
    QSize screenSize() const { return QSize(1024, 768); }
    // The server's screen as the X server holds it.
    QImage capture() const { return captureDisplay(display()); }
    // Lines the probe has logged so far ("button 1 10 20", "key a").
    QStringList probeLines();

private:
    QByteArray m_probeOutput;
};

// An Xvfb alone, with the given screens and extensions.
class RdpTestXvfb : public RdpTestServer
{
public:
    bool start(const QStringList& screens, QString* error) { return startXvfb(error, screens); }
};

bool portAccepts(quint16 port);

class RdpDesktopWidget;

// Whether the X server shows the remote screen in the desktop widget at the
// given scale (remote pixels per local pixel): the centres of the probe's
// 16-pixel cells, where the codec leaves flat colour, as far as the scroll
// area shows them and the toolbar leaves them uncovered.
bool showsRemoteOnScreen(RdpDesktopWidget* desktop, const QImage& remote, double scale, QString* mismatch);
