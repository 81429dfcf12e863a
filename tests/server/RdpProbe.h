#pragma once

#include "ChannelMessage.h"

#include <QImage>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

struct rdp_freerdp;

// A minimal RDP client on the FreeRDP client library for tests: connects with
// RDP security, keeps the frame buffer, counts frames and speaks the custom
// channels "qzdesk" and "qzcfg" (and "qzrail" in remote application mode); it also joins "qzshare" and "rail" to write
// on them, and on request "cliprdr", whose messages share the custom channels'
// header layout (type, flags, length). In remote application mode it also
// records the window orders. Single-threaded: the test drives it with pump().
class RdpProbe
{
public:
    struct Options
    {
        QString host = QStringLiteral("127.0.0.1");
        quint16 port = 0;
        QString user = QStringLiteral("tester");
        QString password;
        quint16 socksPort = 0; // 0: direct
        bool remoteFx = true;
        int width = 1024, height = 768;
        // Announce frame acknowledgements but never send one.
        bool withholdAcknowledgements = false;
        // Join the clipboard channel as a raw channel: the test writes its messages.
        bool rawClipboard = false;
        // TLS instead of RDP security, as clients that join directly use.
        bool tls = false;
        // Rootless: ask for remote applications and record window orders.
        bool remoteApp = false;
    };

    // A window or monitored-desktop order as received.
    struct WindowOrder
    {
        enum Kind { Create, Update, Delete, Desktop };
        Kind kind = Create;
        quint32 id = 0;
        quint32 fields = 0;
        int x = 0, y = 0, width = 0, height = 0;
        QString title;
        quint32 owner = 0, style = 0, extendedStyle = 0, showState = 0;
        quint32 active = 0;
        QList<quint32> zOrder; // topmost first
    };

    RdpProbe();
    ~RdpProbe();
    RdpProbe(const RdpProbe&) = delete;
    RdpProbe& operator=(const RdpProbe&) = delete;

    bool connect(const Options& options, QString* error);
    // Processes what arrived for up to ms milliseconds; false once disconnected.
    bool pump(int ms);
    // Pumps until the condition holds or the timeout passes.
    bool waitFor(const std::function<bool()>& condition, int timeoutMs);
    bool connected() const { return m_connected; }

    QImage frame() const;
    int framesReceived() const { return m_frames; }
    int pointerUpdates() const { return m_pointers; }
    quint32 errorInfo() const;

    const QList<ChannelMessage>& messages(const QString& channel) const;
    bool send(const QString& channel, quint16 type, const QByteArray& payload);
    // Writes the bytes as they are, header included.
    bool sendRaw(const QString& channel, const QByteArray& data);
    // A standard rail order (4-byte header: type, length) on "rail".
    bool sendRail(quint16 orderType, const QByteArray& body);
    const QList<QByteArray>& railMessages() const { return m_railMessages; }
    const QList<WindowOrder>& windowOrders() const { return m_windowOrders; }
    void windowOrder(const WindowOrder& order) { m_windowOrders.append(order); }

    void sendKey(quint16 scancode, bool down, bool extended = false);
    void sendMouse(quint16 flags, int x, int y);
    void sendUnicode(quint16 codeUnit, bool down);
    void sendSynchronize(quint32 lockFlags);

    // Plug-in callbacks.
    void channelData(const QString& channel, const QByteArray& message);
    void frameEnded() { ++m_frames; }
    bool acknowledges() const { return !m_withholdAcknowledgements; }
    bool joinsClipboard() const { return m_rawClipboard; }
    void pointerChanged() { ++m_pointers; }
    void setConnected(bool connected) { m_connected = connected; }

private:
    rdp_freerdp* m_instance = nullptr;
    bool m_connected = false;
    // Set once freerdp_connect succeeded: the connection is then taken down
    // (channels terminated, codecs freed) even after the server has ended it.
    bool m_established = false;
    int m_frames = 0;
    int m_pointers = 0;
    bool m_withholdAcknowledgements = false;
    bool m_rawClipboard = false;
    QMap<QString, QList<ChannelMessage>> m_messages;
    QList<QByteArray> m_railMessages;
    QList<WindowOrder> m_windowOrders;
};
