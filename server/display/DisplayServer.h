#pragma once

#include "SharingSession.h"
#include "TlsCertificate.h"
#include "RailWindows.h"
#include "UpdateOptions.h"
#include "X11Clipboard.h"
#include "X11Input.h"
#include "X11Screen.h"
#include "X11WindowTracker.h"

#include <freerdp/listener.h>

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

class PeerConnection;

struct DisplayConfig
{
    QString display;
    int port = 0;
    QByteArray password;
    QString keyFile;
    QString stateFile; // receives the number of connected clients and when the last one left
    QString portFile;  // receives the port listened on, once the listener is up
    bool rootless = false; // no desktop: clients get the session's windows one by one
};

// The RDP server of one session display: accepts clients on loopback and
// runs everything on one thread around a single wait.
class DisplayServer
{
public:
    explicit DisplayServer(DisplayConfig config);
    ~DisplayServer();
    DisplayServer(const DisplayServer&) = delete;
    DisplayServer& operator=(const DisplayServer&) = delete;

    bool start(QString* error);
    // Runs until SIGTERM, SIGINT or SIGUSR2 (the session's user logged off);
    // returns the process exit code.
    int run();

    X11Screen& screen() { return m_screen; }
    X11Input& input() { return *m_input; }
    // Lets go of all keys and buttons held in the session through its input.
    void releaseInput();
    X11Clipboard& clipboard() { return *m_clipboard; }
    const UpdateOptions& options() const { return m_options; }
    SharingSession& sharing() { return m_sharing; }
    // The session's windows in a rootless session, else null.
    RailWindows* railWindows() { return m_railWindows.get(); }
    quint64 nowMs() const;

    bool checkPassword(const QByteArray& password) const;
    void clientsChanged();
    void requestCursorUpdate() { m_cursorPending = true; }
    void requestDesktopSize(PeerConnection* from, int width, int height);
    void setOptions(PeerConnection* from, const QByteArray& json);
    void clipboardFromClient(PeerConnection* from, const QString& text);

private:
    static BOOL peerAccepted(freerdp_listener* listener, freerdp_peer* peer);
    void acceptPeer(freerdp_peer* peer);
    quint16 listeningPort() const;
    void noteDropped(int id, const char* why);
    // Drops the connections that did not log on in time.
    void dropLateLogons();
    void disconnectAll(uint32_t errorInfo);
    void processX();
    void sendFrames();
    // Tells every client of a size change; false when the size is the same.
    bool applyScreenSize();
    quint64 frameIntervalMs() const;
    void writeState();

    DisplayConfig m_config;
    X11Screen m_screen;
    std::unique_ptr<X11Input> m_input;
    std::unique_ptr<X11Clipboard> m_clipboard;
    std::unique_ptr<X11WindowTracker> m_windowTracker;
    std::unique_ptr<RailWindows> m_railWindows;
    UpdateOptions m_options;
    TlsCertificate m_tls;
    TileDiff m_diff;
    freerdp_listener* m_listener = nullptr;
    HANDLE m_signalEvent = nullptr;
    HANDLE m_xEvent = nullptr;
    int m_signalFd = -1;
    // Before the peers: they leave it when they are destroyed.
    SharingSession m_sharing { *this };
    std::vector<std::unique_ptr<PeerConnection>> m_peers;
    int m_nextPeerId = 1;
    quint64 m_droppedWaiting = 0;
    quint64 m_listenerRestUntil = 0;
    bool m_acceptFailing = false;
    int m_lastStateCount = -1;
    qint64 m_lastLeftAt = 0; // seconds since the epoch
    bool m_cursorPending = true;
    quint64 m_lastFrameAt = 0;
    int m_knownWidth = 0, m_knownHeight = 0;
};
