#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include "DisplayServer.h"

#include "DisplayLog.h"
#include "PeerConnection.h"

#include <freerdp/channels/channels.h>
#include <freerdp/error.h>
#include <winpr/ssl.h>
#include <winpr/handle.h>
#include <winpr/synch.h>
#include <winpr/wtsapi.h>

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <chrono>
#include <netinet/in.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcDisplay, "zentu.server.display")

namespace {

constexpr int MaxHandles = 64;
// Connections that have not logged on yet: each holds several descriptors
// and handles, so only a few may wait, and not for long.
constexpr size_t MaxWaitingPeers = 8;
constexpr quint64 LogonDeadlineMs = 20000;
// After a failed accept (out of descriptors) the listener rests this long
// instead of spinning on a socket that stays readable.
constexpr quint64 ListenerRestMs = 1000;

} // namespace

DisplayServer::DisplayServer(DisplayConfig config)
    : m_config(std::move(config))
{
}

DisplayServer::~DisplayServer()
{
    m_peers.clear();
    m_railWindows.reset();
    m_windowTracker.reset();
    if (m_listener) {
        m_listener->Close(m_listener);
        freerdp_listener_free(m_listener);
    }
    if (m_xEvent)
        CloseHandle(m_xEvent);
    if (m_signalEvent)
        CloseHandle(m_signalEvent);
    if (m_signalFd >= 0)
        close(m_signalFd);
    m_clipboard.reset();
    m_input.reset();
}

quint64 DisplayServer::nowMs() const
{
    using namespace std::chrono;
    return quint64(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool DisplayServer::start(QString* error)
{
    if (!m_screen.open(m_config.display, error))
        return false;
    m_knownWidth = m_screen.width();
    m_knownHeight = m_screen.height();
    QString tlsError;
    if (!m_tls.make(m_config.keyFile, &tlsError))
        qCWarning(lcDisplay) << tlsError << "- clients joining directly cannot connect";
    m_input = std::make_unique<X11Input>(m_screen.display());
    m_clipboard = std::make_unique<X11Clipboard>(m_screen.display(), m_screen.root());
    m_clipboard->setOwnerChangedHandler([this] {
        for (auto& peer : m_peers)
            peer->announceClipboard();
    });
    if (m_config.rootless) {
        m_windowTracker = std::make_unique<X11WindowTracker>(m_screen.display(), m_screen.root());
        m_railWindows = std::make_unique<RailWindows>(*m_windowTracker);
    }

    sigset_t watched;
    sigemptyset(&watched);
    sigaddset(&watched, SIGTERM);
    sigaddset(&watched, SIGINT);
    sigaddset(&watched, SIGUSR1);
    sigaddset(&watched, SIGUSR2);
    sigprocmask(SIG_BLOCK, &watched, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    m_signalFd = signalfd(-1, &watched, SFD_NONBLOCK | SFD_CLOEXEC);
    m_signalEvent = CreateFileDescriptorEventA(nullptr, FALSE, FALSE, m_signalFd, WINPR_FD_READ);
    m_xEvent = CreateFileDescriptorEventA(nullptr, FALSE, FALSE, m_screen.connectionFd(),
                                          WINPR_FD_READ);
    if (m_signalFd < 0 || !m_signalEvent || !m_xEvent) {
        *error = QStringLiteral("cannot watch signals and the X connection");
        return false;
    }

    WTSRegisterWtsApiFunctionTable(FreeRDP_InitWtsApi());
    winpr_InitializeSSL(WINPR_SSL_INIT_DEFAULT);
    m_listener = freerdp_listener_new();
    if (!m_listener) {
        *error = QStringLiteral("cannot create the RDP listener");
        return false;
    }
    m_listener->info = this;
    m_listener->PeerAccepted = peerAccepted;
    if (!m_listener->Open(m_listener, "127.0.0.1", UINT16(m_config.port))) {
        *error = QStringLiteral("cannot listen on 127.0.0.1:%1").arg(m_config.port);
        return false;
    }
    const quint16 port = listeningPort();
    if (port == 0) {
        *error = QStringLiteral("cannot tell the port listened on");
        return false;
    }
    writeState();
    // Written last: whoever waits for this file may connect at once, and the
    // port is the one this process holds, not one picked and released earlier.
    if (!m_config.portFile.isEmpty()) {
        QSaveFile file(m_config.portFile);
        if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray::number(port) + '\n') < 0
            || !file.commit()) {
            *error = QStringLiteral("cannot write %1").arg(m_config.portFile);
            return false;
        }
    }
    qCInfo(lcDisplay) << "serving" << m_config.display << "on port" << port;
    return true;
}

quint16 DisplayServer::listeningPort() const
{
    void* sockets[16] = {};
    int count = 0;
    if (!m_listener->GetFileDescriptor(m_listener, sockets, &count) || count < 1)
        return 0;
    sockaddr_in address {};
    socklen_t length = sizeof(address);
    const int fd = int(reinterpret_cast<intptr_t>(sockets[0]));
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0
        || address.sin_family != AF_INET)
        return 0;
    return ntohs(address.sin_port);
}

BOOL DisplayServer::peerAccepted(freerdp_listener* listener, freerdp_peer* peer)
{
    static_cast<DisplayServer*>(listener->info)->acceptPeer(peer);
    return TRUE;
}

void DisplayServer::acceptPeer(freerdp_peer* peer)
{
    // At the limit the oldest waiting connection makes room: idle ones then
    // cannot lock a real client out, and the logged-on ones are not touched.
    const auto waiting = [](const auto& connection) { return !connection->authenticated(); };
    if (size_t(std::count_if(m_peers.begin(), m_peers.end(), waiting)) >= MaxWaitingPeers) {
        const auto oldest = std::find_if(m_peers.begin(), m_peers.end(), waiting);
        noteDropped((*oldest)->id(), "displaced by a newer connection");
        m_peers.erase(oldest);
    }
    auto connection = std::make_unique<PeerConnection>(*this, peer, m_nextPeerId++);
    if (!connection->initialize(m_config.keyFile)) {
        qCWarning(lcDisplay) << "client" << connection->id() << "failed to initialize";
        return;
    }
    if (m_tls.isValid() && !m_tls.offerTo(peer->settings))
        qCWarning(lcDisplay) << "client" << connection->id() << "is offered no TLS";
    m_peers.push_back(std::move(connection));
}

void DisplayServer::noteDropped(int id, const char* why)
{
    // Counted, not logged one by one: a flood of connections must not flood the log.
    if (m_droppedWaiting++ % 100 == 0)
        qCInfo(lcDisplay) << "connection" << id << why << "before logging on;" << m_droppedWaiting << "so far";
}

void DisplayServer::dropLateLogons()
{
    const quint64 now = nowMs();
    for (auto it = m_peers.begin(); it != m_peers.end();) {
        if ((*it)->authenticated() || now - (*it)->acceptedAt() < LogonDeadlineMs) {
            ++it;
            continue;
        }
        noteDropped((*it)->id(), "timed out");
        it = m_peers.erase(it);
    }
}

bool DisplayServer::checkPassword(const QByteArray& password) const
{
    // Constant time: the comparison does not stop at the first difference.
    unsigned diff = unsigned(password.size() ^ m_config.password.size());
    for (int i = 0; i < password.size(); ++i)
        diff |= unsigned(char(password[i] ^ m_config.password[i % std::max(1, m_config.password.size())]));
    return diff == 0 && !m_config.password.isEmpty();
}

void DisplayServer::clientsChanged()
{
    writeState();
}

void DisplayServer::writeState()
{
    int count = 0;
    for (const auto& peer : m_peers)
        count += peer->authenticated() ? 1 : 0;
    if (count == m_lastStateCount || m_config.stateFile.isEmpty())
        return;
    // However the last client went (a disconnect, a closed window, a lost
    // link), the session list shows when.
    if (count == 0 && m_lastStateCount > 0)
        m_lastLeftAt = QDateTime::currentSecsSinceEpoch();
    QByteArray contents = QByteArray::number(count) + '\n';
    if (m_lastLeftAt > 0)
        contents += QByteArray::number(m_lastLeftAt) + '\n';
    QSaveFile file(m_config.stateFile);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(contents);
        if (file.commit())
            m_lastStateCount = count;
    }
    if (m_lastStateCount != count)
        qCWarning(lcDisplay) << "cannot write" << m_config.stateFile;
}

void DisplayServer::requestDesktopSize(PeerConnection* from, int width, int height)
{
    QString error;
    if (!m_screen.resize(width, height, &error))
        qCWarning(lcDisplay) << "client" << from->id() << "desktop size" << width << height << ":" << error;
    // Every client hears of a new size; the asking one also of a size that stayed.
    if (!applyScreenSize())
        from->sendDesktopResized(m_screen.width(), m_screen.height());
}

bool DisplayServer::applyScreenSize()
{
    if (m_screen.width() == m_knownWidth && m_screen.height() == m_knownHeight)
        return false;
    m_knownWidth = m_screen.width();
    m_knownHeight = m_screen.height();
    qCInfo(lcDisplay) << "desktop is now" << m_knownWidth << "x" << m_knownHeight;
    for (auto& peer : m_peers) {
        peer->resizeDesktop(m_knownWidth, m_knownHeight);
        peer->sendDesktopResized(m_knownWidth, m_knownHeight);
    }
    return true;
}

void DisplayServer::releaseInput()
{
    if (m_input)
        m_input->releaseAll();
}

void DisplayServer::setOptions(PeerConnection* from, const QByteArray& json)
{
    QString error;
    const UpdateOptions before = m_options;
    // The settings hold for everyone watching: like the desktop size, only
    // the owner changes them, whoever has control.
    const bool owner = m_sharing.isOwner(from);
    if (!owner)
        error = QStringLiteral("only the owner of the session changes its options");
    if (!owner || !m_options.apply(json, &error)) {
        qCWarning(lcDisplay) << "client" << from->id() << "options refused:" << error;
        from->writeChannel("qzcfg", 3,
                           QJsonDocument(QJsonObject { { QStringLiteral("error"), error } })
                               .toJson(QJsonDocument::Compact));
        return;
    }
    from->writeChannel("qzcfg", 3, QByteArrayLiteral("{\"success\":true}"));
    if (m_options == before)
        return;
    const QByteArray report = m_options.toJson();
    qCInfo(lcDisplay) << "options now" << report;
    for (auto& peer : m_peers) {
        peer->sendOptions(report);
        peer->optionsChanged();
    }
}

void DisplayServer::clipboardFromClient(PeerConnection* from, const QString& text)
{
    m_clipboard->setText(text);
    for (auto& peer : m_peers) {
        if (peer.get() != from)
            peer->announceClipboard();
    }
}

void DisplayServer::disconnectAll(uint32_t errorInfo)
{
    // Connections still logging on are simply dropped.
    m_peers.erase(std::remove_if(m_peers.begin(), m_peers.end(),
                                 [](const auto& peer) { return !peer->authenticated(); }),
                  m_peers.end());
    for (auto& peer : m_peers)
        peer->sendErrorInfoAndClose(errorInfo);
    // Give the clients a moment to read the reason and hang up first.
    const quint64 deadline = nowMs() + 2000;
    while (!m_peers.empty() && nowMs() < deadline) {
        HANDLE handles[MaxHandles];
        DWORD count = 0;
        for (auto& peer : m_peers)
            count += DWORD(peer->eventHandles(handles + count, int(MaxHandles - count)));
        WaitForMultipleObjects(count, handles, FALSE, 50);
        for (auto it = m_peers.begin(); it != m_peers.end();)
            it = (*it)->closedByClient() ? m_peers.erase(it) : std::next(it);
    }
    m_peers.clear();
    writeState();
}

quint64 DisplayServer::frameIntervalMs() const
{
    // Rounded up, so that the rate stays at or below the limit.
    const quint64 fps = quint64(std::max(1, m_options.fpsLimit));
    return (1000 + fps - 1) / fps;
}

void DisplayServer::processX()
{
    m_screen.processEvents([this](const XEvent& ev) {
        if (!m_windowTracker || !m_windowTracker->handleEvent(ev))
            m_clipboard->handleEvent(ev);
    });
    m_clipboard->expireRequests();
    applyScreenSize();
    if (m_railWindows)
        m_railWindows->sync(m_peers);
}

void DisplayServer::sendFrames()
{
    std::vector<ScreenRect> damage;
    bool wanted = false;
    for (const auto& peer : m_peers)
        wanted = wanted || peer->wantsFrame();
    if (m_screen.takeDamage(&damage) || wanted) {
        if (!m_screen.capture())
            return;
        const std::vector<ScreenRect> changed = m_diff.changedTiles(
            m_screen.pixels(), m_screen.stride(), m_screen.width(), m_screen.height(), damage);
        for (auto& peer : m_peers)
            peer->addDamage(changed);
        // Frames keep a steady cadence; a late one does not push the next back.
        const quint64 now = nowMs();
        m_lastFrameAt = std::max(m_lastFrameAt + frameIntervalMs(), now - frameIntervalMs());
        for (auto& peer : m_peers) {
            if (peer->wantsFrame())
                peer->sendFrame(m_screen);
        }
    }
    if (m_cursorPending || m_screen.cursorChanged()) {
        m_cursorPending = false;
        CursorImage cursor;
        if (m_screen.fetchCursor(&cursor)) {
            for (auto& peer : m_peers)
                peer->sendCursor(cursor);
        }
    }
}

int DisplayServer::run()
{
    for (;;) {
        HANDLE handles[MaxHandles];
        const bool listening = nowMs() >= m_listenerRestUntil;
        DWORD count = listening ? m_listener->GetEventHandles(m_listener, handles, MaxHandles - 2) : 0;
        handles[count++] = m_signalEvent;
        handles[count++] = m_xEvent;
        // Logged-on clients first: when handles run short, connections that
        // are still logging on wait for the next time-out instead of them.
        for (const bool loggedOn : { true, false }) {
            for (auto& peer : m_peers) {
                if (peer->authenticated() == loggedOn)
                    count += DWORD(peer->eventHandles(handles + count, int(MaxHandles - count)));
            }
        }

        XFlush(m_screen.display());
        bool framePending = m_screen.damaged();
        for (const auto& peer : m_peers)
            framePending = framePending || peer->wantsFrame();
        DWORD timeout = 250;
        if (framePending) {
            const quint64 due = m_lastFrameAt + frameIntervalMs();
            const quint64 now = nowMs();
            timeout = due > now ? DWORD(due - now) : 0;
        }
        if (XPending(m_screen.display()) > 0)
            timeout = 0;
        if (WaitForMultipleObjects(count, handles, FALSE, timeout) == WAIT_FAILED) {
            qCCritical(lcDisplay) << "wait failed";
            return 2;
        }

        signalfd_siginfo info;
        while (read(m_signalFd, &info, sizeof(info)) == ssize_t(sizeof(info))) {
            if (info.ssi_signo == SIGUSR1) {
                qCInfo(lcDisplay) << "disconnecting all clients";
                disconnectAll(ERRINFO_RPC_INITIATED_DISCONNECT);
            } else {
                // SIGUSR2: the session's program ended, its user logged off.
                qCInfo(lcDisplay) << "ending on signal" << info.ssi_signo;
                disconnectAll(info.ssi_signo == SIGUSR2 ? ERRINFO_LOGOFF_BY_USER
                                                        : ERRINFO_RPC_INITIATED_DISCONNECT);
                return 0;
            }
        }
        // A failed accept (no descriptors left) leaves the session and its
        // clients alone; accepting resumes after a rest.
        if (listening) {
            const bool accepted = m_listener->CheckFileDescriptor(m_listener);
            if (!accepted && !m_acceptFailing)
                qCWarning(lcDisplay) << "accepting connections fails; retrying every" << ListenerRestMs << "ms";
            m_acceptFailing = !accepted;
            if (!accepted)
                m_listenerRestUntil = nowMs() + ListenerRestMs;
        }
        processX();
        QString screenError;
        if (m_screen.failed(&screenError)) {
            qCCritical(lcDisplay) << screenError;
            disconnectAll(ERRINFO_OUT_OF_MEMORY);
            return 2;
        }
        for (auto it = m_peers.begin(); it != m_peers.end();) {
            if ((*it)->check()) {
                ++it;
                continue;
            }
            if ((*it)->authenticated())
                qCInfo(lcDisplay) << "client" << (*it)->id() << "disconnected";
            it = m_peers.erase(it);
            writeState();
        }
        dropLateLogons();
        processX();
        if (nowMs() >= m_lastFrameAt + frameIntervalMs())
            sendFrames();
    }
}
