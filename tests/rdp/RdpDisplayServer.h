#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// The project's own session display server (zentu2_display) on an Xvfb of
// its own, with a fresh RSA key and password, on a free port of 127.0.0.1.
// Unlike FreeRDP's shadow server it speaks the clipboard channel. Every
// process is stopped by its pid when the fixture is destroyed.
class RdpDisplayServer
{
public:
    RdpDisplayServer() = default;
    ~RdpDisplayServer();

    RdpDisplayServer(const RdpDisplayServer&) = delete;
    RdpDisplayServer& operator=(const RdpDisplayServer&) = delete;

    bool start(QString* error);
    void stop();

    quint16 port() const { return m_port; }
    QString password() const { return QStringLiteral("display-test-password"); }
    QString display() const { return m_display; }
    // The environment of a program on the server's display.
    QProcessEnvironment environment() const;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_xvfb;
    std::unique_ptr<QProcess> m_server;
    QString m_display;
    quint16 m_port = 0;
};
