#pragma once

#include <QByteArray>
#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

// A real RDP desktop peer for the display tests: an Xvfb of its own with
// the rdp_probe program on it, shared by FreeRDP's shadow server on a free
// port of 127.0.0.1 (RDP security, no authentication). Every process is
// stopped by its pid when the fixture is destroyed.
class RdpShadowServer
{
public:
    RdpShadowServer() = default;
    ~RdpShadowServer();

    RdpShadowServer(const RdpShadowServer&) = delete;
    RdpShadowServer& operator=(const RdpShadowServer&) = delete;

    bool start(QString* error);
    // Kills the shadow server alone, as a crash would.
    void killServer();
    void stop();

    quint16 port() const { return m_port; }
    QString display() const { return m_display; }
    QSize screenSize() const { return QSize(1024, 768); }

    // The server's screen as the X server holds it.
    QImage capture() const;
    // Lines the probe has logged so far ("button 1 10 20", "key a").
    QStringList probeLines();

private:
    bool startProcess(QProcess* process, const QString& program, const QStringList& arguments,
                      QString* error);

    std::unique_ptr<QProcess> m_xvfb;
    std::unique_ptr<QProcess> m_probe;
    std::unique_ptr<QProcess> m_shadow;
    QString m_display;
    quint16 m_port = 0;
    QByteArray m_probeOutput;
};
