#include "RdpConnectSocket.h"

#include "RdpLogging.h"

#include <freerdp/freerdp.h>
#include <freerdp/settings.h>

#include <QElapsedTimer>

#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Polled in slices so that a cancel ends a connect within this time.
constexpr int CancelCheckMs = 100;

} // namespace

RdpConnectSocket::~RdpConnectSocket()
{
    release();
}

bool RdpConnectSocket::connect(freerdp* instance)
{
    rdpSettings* settings = instance->settings;
    // With TLS or NLA offered the library falls back to standard RDP
    // security on a second connection of its own, which cannot be ours:
    // such an attempt keeps the library's socket, and a cancel reaches it
    // only where the library checks for one (its TCP connect, not its reads).
    if (freerdp_settings_get_bool(settings, FreeRDP_TlsSecurity)
        || freerdp_settings_get_bool(settings, FreeRDP_NlaSecurity))
        return freerdp_connect(instance);
    const bool proxy = freerdp_settings_get_uint32(settings, FreeRDP_ProxyType) != PROXY_TYPE_NONE;
    const size_t hostKey = proxy ? FreeRDP_ProxyHostname : FreeRDP_ServerHostname;
    const QByteArray host(freerdp_settings_get_string(settings, hostKey));
    const quint32 port = proxy ? freerdp_settings_get_uint16(settings, FreeRDP_ProxyPort)
                               : freerdp_settings_get_uint32(settings, FreeRDP_ServerPort);
    const quint32 timeout = freerdp_settings_get_uint32(settings, FreeRDP_TcpConnectTimeout);
    const int fd = open(host, static_cast<quint16>(port), timeout > 0 ? static_cast<int>(timeout) : 15000);
    if (fd < 0) {
        freerdp_set_last_error(instance->context, isCancelled() ? FREERDP_ERROR_CONNECT_CANCELLED
                                                                : FREERDP_ERROR_CONNECT_TRANSPORT_FAILED);
        return false;
    }
    // The library takes a descriptor as "|<fd>" with the descriptor as port.
    const QByteArray external = "|" + QByteArray::number(fd);
    freerdp_settings_set_string(settings, hostKey, external.constData());
    if (proxy)
        freerdp_settings_set_uint16(settings, FreeRDP_ProxyPort, static_cast<UINT16>(fd));
    else
        freerdp_settings_set_uint32(settings, FreeRDP_ServerPort, static_cast<UINT32>(fd));
    const BOOL connected = freerdp_connect(instance);
    // The library owns the descriptor now; whatever reads the settings
    // later (a reconnect) needs the real address.
    freerdp_settings_set_string(settings, hostKey, host.constData());
    if (proxy)
        freerdp_settings_set_uint16(settings, FreeRDP_ProxyPort, static_cast<UINT16>(port));
    else
        freerdp_settings_set_uint32(settings, FreeRDP_ServerPort, port);
    release();
    return connected;
}

void RdpConnectSocket::cancel()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cancelled = true;
    if (m_duplicate >= 0)
        shutdown(m_duplicate, SHUT_RDWR);
}

bool RdpConnectSocket::isCancelled()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cancelled;
}

void RdpConnectSocket::release()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_duplicate >= 0)
        ::close(m_duplicate);
    m_duplicate = -1;
}

int RdpConnectSocket::open(const QByteArray& host, quint16 port, int timeoutMs)
{
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    const int resolved = getaddrinfo(host.constData(), QByteArray::number(port).constData(), &hints, &addresses);
    if (resolved != 0) {
        qCWarning(lcRdp) << "cannot resolve" << host << gai_strerror(resolved);
        return -1;
    }
    QElapsedTimer elapsed;
    elapsed.start();
    int fd = -1;
    for (addrinfo* address = addresses; address && fd < 0 && !isCancelled(); address = address->ai_next) {
        fd = socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address->ai_protocol);
        if (fd < 0)
            continue;
        bool connected = ::connect(fd, address->ai_addr, address->ai_addrlen) == 0;
        if (!connected && errno == EINPROGRESS) {
            pollfd pending = {fd, POLLOUT, 0};
            while (!isCancelled() && elapsed.elapsed() < timeoutMs) {
                const int ready = poll(&pending, 1, CancelCheckMs);
                if (ready == 0 || (ready < 0 && errno == EINTR))
                    continue;
                int error = 0;
                socklen_t length = sizeof(error);
                connected = ready > 0 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
                break;
            }
        }
        if (!connected) {
            ::close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(addresses);
    if (fd < 0)
        return -1;
    // Blocking, like the sockets the library opens itself.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_cancelled) {
        ::close(fd);
        return -1;
    }
    m_duplicate = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    return fd;
}
