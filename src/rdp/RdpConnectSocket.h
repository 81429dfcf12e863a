#pragma once

#include <QByteArray>

#include <mutex>

struct rdp_freerdp;

// The TCP connection of one connect attempt, opened by us on the worker and
// handed to the library by descriptor ("|<fd>" as host name), so that a quit
// on the GUI thread can end a read the library blocks in without reaching
// into the library's transport, which the worker may be replacing or freeing
// at that moment. We keep a duplicate of the descriptor until the attempt is
// over: it cannot be reused for another socket meanwhile, and shutting it
// down ends the transport's connection and nothing else.
class RdpConnectSocket
{
public:
    RdpConnectSocket() = default;
    RdpConnectSocket(const RdpConnectSocket&) = delete;
    RdpConnectSocket& operator=(const RdpConnectSocket&) = delete;
    ~RdpConnectSocket();

    // Worker thread: connects to the proxy or the server that the settings
    // name and runs freerdp_connect over that connection (standard RDP
    // security only; otherwise over the library's own).
    bool connect(rdp_freerdp* instance);
    // Any thread: makes the attempt fail at once, whatever stage it is in.
    void cancel();

private:
    // A connected stream socket, or -1 when cancelled or unreachable.
    int open(const QByteArray& host, quint16 port, int timeoutMs);
    bool isCancelled();
    void release();

    std::mutex m_mutex;
    bool m_cancelled = false;
    // Our duplicate of the descriptor the library holds.
    int m_duplicate = -1;
};
