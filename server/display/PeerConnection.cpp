#include "PeerConnection.h"

#include "ChannelMessage.h"
#include "DisplayServer.h"
#include "DisplayLog.h"
#include "SharingSession.h"

#include <freerdp/channels/cliprdr.h>
#include <freerdp/constants.h>
#include <freerdp/freerdp.h>
#include <freerdp/error.h>
#include <freerdp/update.h>
#include <winpr/stream.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/socket.h>

namespace {

struct PeerContext
{
    rdpContext base;
    PeerConnection* connection;
    HANDLE vcm;
};

PeerConnection* connectionOf(rdpContext* context)
{
    return reinterpret_cast<PeerContext*>(context)->connection;
}

PeerConnection* connectionOf(CliprdrServerContext* context)
{
    return static_cast<PeerConnection*>(context->custom);
}

BOOL contextNew(freerdp_peer*, rdpContext* context)
{
    auto* ctx = reinterpret_cast<PeerContext*>(context);
    ctx->vcm = WTSOpenServerA(reinterpret_cast<LPSTR>(context));
    return ctx->vcm && ctx->vcm != INVALID_HANDLE_VALUE;
}

void contextFree(freerdp_peer*, rdpContext* context)
{
    auto* ctx = reinterpret_cast<PeerContext*>(context);
    if (ctx->vcm && ctx->vcm != INVALID_HANDLE_VALUE)
        WTSCloseServer(ctx->vcm);
}

BOOL capabilities(freerdp_peer* peer) { return connectionOf(peer->context)->onCapabilities(); }
BOOL postConnect(freerdp_peer* peer) { return connectionOf(peer->context)->onPostConnect(); }
BOOL activate(freerdp_peer* peer) { return connectionOf(peer->context)->onActivate(); }
LicenseCallbackResult license(freerdp_peer* peer, wStream* s)
{
    return connectionOf(peer->context)->onLicense(s);
}

BOOL keyboardEvent(rdpInput* input, UINT16 flags, UINT16 code)
{
    connectionOf(input->context)->onKeyboard(flags, UINT8(code));
    return TRUE;
}

BOOL unicodeEvent(rdpInput* input, UINT16 flags, UINT16 code)
{
    connectionOf(input->context)->onUnicode(flags, code);
    return TRUE;
}

BOOL mouseEvent(rdpInput* input, UINT16 flags, UINT16 x, UINT16 y)
{
    connectionOf(input->context)->onMouse(flags, x, y);
    return TRUE;
}

BOOL extendedMouseEvent(rdpInput* input, UINT16 flags, UINT16 x, UINT16 y)
{
    connectionOf(input->context)->onExtendedMouse(flags, x, y);
    return TRUE;
}

BOOL synchronizeEvent(rdpInput* input, UINT32 flags)
{
    connectionOf(input->context)->onSynchronize(flags);
    return TRUE;
}

BOOL frameAcknowledge(rdpContext* context, UINT32 frameId)
{
    connectionOf(context)->onFrameAcknowledge(frameId);
    return TRUE;
}

BOOL refreshRect(rdpContext* context, BYTE, const RECTANGLE_16*)
{
    connectionOf(context)->onRefreshRect();
    return TRUE;
}

BOOL suppressOutput(rdpContext* context, BYTE allow, const RECTANGLE_16*)
{
    connectionOf(context)->onSuppressOutput(allow != 0);
    return TRUE;
}

UINT clipboardClientCapabilities(CliprdrServerContext*, const CLIPRDR_CAPABILITIES*)
{
    return CHANNEL_RC_OK;
}

UINT clipboardFormatList(CliprdrServerContext* context, const CLIPRDR_FORMAT_LIST* list)
{
    return connectionOf(context)->onClipboardFormatList(list);
}

UINT clipboardFormatListResponse(CliprdrServerContext*, const CLIPRDR_FORMAT_LIST_RESPONSE*)
{
    return CHANNEL_RC_OK;
}

UINT clipboardDataRequest(CliprdrServerContext* context, const CLIPRDR_FORMAT_DATA_REQUEST* request)
{
    return connectionOf(context)->onClipboardDataRequest(request);
}

UINT clipboardDataResponse(CliprdrServerContext* context,
                           const CLIPRDR_FORMAT_DATA_RESPONSE* response)
{
    return connectionOf(context)->onClipboardDataResponse(response);
}

constexpr uint32_t FormatText = 1;
constexpr uint32_t FormatUnicodeText = 13;
// Clipboard data taken from a client: twice the 4 MB the X side fetches, room
// for the same text in UTF-16. The channel layer adds the header size to the
// announced length in 32 bits, so a length near 4 GiB arrives with only a few
// bytes behind it; a length above this bound is never trusted.
constexpr UINT32 MaxClipboardBytes = 8u << 20;
// Channel messages and pointers that arrive before the client has finished
// connecting are lost; its first acknowledgement or input shows it has, else
// this delay is assumed.
constexpr quint64 InitialMessagesDelayMs = 1000;
// A client told to leave gets this long to hang up before it is dropped.
constexpr quint64 LeaveGraceMs = 3000;

} // namespace

PeerConnection::PeerConnection(DisplayServer& server, freerdp_peer* peer, int id)
    : m_server(server)
    , m_peer(peer)
    , m_id(id)
    , m_acceptedAt(server.nowMs())
{
}

PeerConnection::~PeerConnection()
{
    *m_alive = false;
    m_server.sharing().leave(this);
    m_rail.reset();
    if (m_cliprdr) {
        m_cliprdr->Close(m_cliprdr);
        cliprdr_server_context_free(m_cliprdr);
    }
    closeChannels();
    if (m_rfx)
        rfx_context_free(m_rfx);
    if (m_peer->context) {
        // One that never spoke gets no goodbye in a protocol it did not start.
        if (!m_closed && m_started)
            m_peer->Close(m_peer);
        m_peer->Disconnect(m_peer);
        freerdp_peer_context_free(m_peer);
    }
    freerdp_peer_free(m_peer);
}

bool PeerConnection::initialize(const QString& keyFile)
{
    m_peer->ContextSize = sizeof(PeerContext);
    m_peer->ContextNew = contextNew;
    m_peer->ContextFree = contextFree;
    if (!freerdp_peer_context_new(m_peer))
        return false;
    auto* ctx = reinterpret_cast<PeerContext*>(m_peer->context);
    ctx->connection = this;
    m_vcm = ctx->vcm;

    rdpSettings* settings = m_peer->settings;
    const QByteArray key = keyFile.toLocal8Bit();
    if (!freerdp_settings_set_string(settings, FreeRDP_RdpKeyFile, key.constData()))
        return false;
    freerdp_settings_set_bool(settings, FreeRDP_RdpSecurity, TRUE);
    freerdp_settings_set_bool(settings, FreeRDP_TlsSecurity, FALSE);
    freerdp_settings_set_bool(settings, FreeRDP_NlaSecurity, FALSE);
    freerdp_settings_set_uint32(settings, FreeRDP_EncryptionLevel, ENCRYPTION_LEVEL_CLIENT_COMPATIBLE);
    freerdp_settings_set_uint32(settings, FreeRDP_ColorDepth, 32);
    freerdp_settings_set_bool(settings, FreeRDP_SurfaceCommandsEnabled, TRUE);
    freerdp_settings_set_bool(settings, FreeRDP_SurfaceFrameMarkerEnabled, TRUE);
    freerdp_settings_set_bool(settings, FreeRDP_FrameMarkerCommandEnabled, TRUE);
    freerdp_settings_set_bool(settings, FreeRDP_RemoteFxCodec, TRUE);
    freerdp_settings_set_bool(settings, FreeRDP_DesktopResize, TRUE);
    freerdp_settings_set_bool(settings, FreeRDP_RefreshRect, TRUE);
    freerdp_settings_set_bool(settings, FreeRDP_SuppressOutput, TRUE);
    freerdp_settings_set_bool(settings, FreeRDP_FastPathOutput, TRUE);
    freerdp_settings_set_bool(settings, FreeRDP_UnicodeInput, TRUE);
    freerdp_settings_set_uint32(settings, FreeRDP_FrameAcknowledge, 2);
    freerdp_settings_set_uint32(settings, FreeRDP_MultifragMaxRequestSize, 0xFFFFFF);
    freerdp_settings_set_uint32(settings, FreeRDP_DesktopWidth, UINT32(m_server.screen().width()));
    freerdp_settings_set_uint32(settings, FreeRDP_DesktopHeight, UINT32(m_server.screen().height()));

    m_peer->Capabilities = capabilities;
    m_peer->PostConnect = postConnect;
    m_peer->Activate = activate;
    m_libraryLicense = m_peer->LicenseCallback;
    m_peer->LicenseCallback = license;
    m_peer->input->KeyboardEvent = keyboardEvent;
    m_peer->input->UnicodeKeyboardEvent = unicodeEvent;
    m_peer->input->MouseEvent = mouseEvent;
    m_peer->input->ExtendedMouseEvent = extendedMouseEvent;
    m_peer->input->SynchronizeEvent = synchronizeEvent;
    m_peer->update->SurfaceFrameAcknowledge = frameAcknowledge;
    m_peer->update->RefreshRect = refreshRect;
    m_peer->update->SuppressOutput = suppressOutput;
    // Connections through the SSH forward come from loopback; keep RDP encryption on.
    m_peer->local = FALSE;
    return true;
}

bool PeerConnection::startWhenSpoken()
{
    if (m_started)
        return true;
    // The library loads and checks the server key here, which costs tens of
    // milliseconds: a connection pays for it only once it sends something.
    char byte;
    if (recv(m_peer->sockfd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return true;
    m_started = true;
    return m_peer->Initialize(m_peer);
}

int PeerConnection::eventHandles(HANDLE* handles, int room)
{
    int count = int(m_peer->GetEventHandles(m_peer, handles, DWORD(room)));
    if (count < room && m_vcm)
        handles[count++] = WTSVirtualChannelManagerGetEventHandle(m_vcm);
    for (const Channel& channel : m_channels) {
        if (count < room && channel.event)
            handles[count++] = channel.event;
    }
    if (count < room && m_cliprdr)
        handles[count++] = m_cliprdr->GetEventHandle(m_cliprdr);
    if (count < room && m_rail)
        handles[count++] = m_rail->eventHandle();
    return count;
}

bool PeerConnection::check()
{
    if (m_closed && m_server.nowMs() - m_closedAt > LeaveGraceMs)
        return false;
    if (!startWhenSpoken())
        return false;
    if (m_started && !m_peer->CheckFileDescriptor(m_peer))
        return false;
    if (m_vcm && !WTSVirtualChannelManagerCheckFileDescriptor(m_vcm))
        return false;
    for (Channel& channel : m_channels) {
        if (channel.event && WaitForSingleObject(channel.event, 0) == WAIT_OBJECT_0
            && !readChannel(channel))
            return false;
    }
    if (m_cliprdr && WaitForSingleObject(m_cliprdr->GetEventHandle(m_cliprdr), 0) == WAIT_OBJECT_0
        && m_cliprdr->CheckEventHandle(m_cliprdr) != CHANNEL_RC_OK) {
        qCWarning(lcDisplay) << "client" << m_id << "clipboard channel failed";
        m_cliprdr->Close(m_cliprdr);
        cliprdr_server_context_free(m_cliprdr);
        m_cliprdr = nullptr;
    }
    if (m_rail)
        m_rail->check();
    if (m_active && !m_initialSent && m_server.nowMs() - m_activatedAt >= InitialMessagesDelayMs)
        sendInitialMessages();
    return true;
}

BOOL PeerConnection::onCapabilities()
{
    // The client proposed a size of its own; the session's size is what it gets.
    rdpSettings* settings = m_peer->settings;
    freerdp_settings_set_uint32(settings, FreeRDP_DesktopWidth, UINT32(m_server.screen().width()));
    freerdp_settings_set_uint32(settings, FreeRDP_DesktopHeight, UINT32(m_server.screen().height()));
    // Announced to a rootless client with the capabilities: at a lower window
    // level (extended window support, which the library does not name) the
    // client refuses the window orders and drops the connection. The library
    // masks the remote programs level it announces with the one set here:
    // left at 0, it tells the client that the server has no rootless windows,
    // and the client falls back to a desktop window.
    if (m_server.railWindows()) {
        freerdp_settings_set_uint32(settings, FreeRDP_RemoteWndSupportLevel, 2);
        freerdp_settings_set_uint32(settings, FreeRDP_RemoteApplicationSupportLevel, RAIL_LEVEL_SUPPORTED);
    }
    return TRUE;
}

bool PeerConnection::logOn()
{
    if (m_authenticated)
        return true;
    const char* password = freerdp_settings_get_string(m_peer->settings, FreeRDP_Password);
    const char* user = freerdp_settings_get_string(m_peer->settings, FreeRDP_Username);
    if (!m_server.sharing().admit(this, QByteArray(password ? password : ""),
                                  QString::fromUtf8(user ? user : ""))) {
        qCWarning(lcDisplay) << "client" << m_id << "refused: wrong password";
        return false;
    }
    m_authenticated = true;
    m_server.clientsChanged();
    qCInfo(lcDisplay) << "client" << m_id << "logged on";
    return true;
}

LicenseCallbackResult PeerConnection::onLicense(wStream* s)
{
    // The client's connect returns once the licence arrives, so the password
    // is checked and the client counted before the library sends it: a
    // session list asked for right after the connect already shows it.
    if (!logOn())
        return LICENSE_CB_ABORT;
    return m_libraryLicense ? m_libraryLicense(m_peer, s) : LICENSE_CB_INTERNAL_ERROR;
}

BOOL PeerConnection::onPostConnect()
{
    if (!logOn())
        return FALSE;
    openChannels();
    if (servesRail())
        startRail();
    return TRUE;
}

BOOL PeerConnection::onActivate()
{
    rdpSettings* settings = m_peer->settings;
    const int width = m_server.screen().width();
    const int height = m_server.screen().height();
    if (int(freerdp_settings_get_uint32(settings, FreeRDP_DesktopWidth)) != width
        || int(freerdp_settings_get_uint32(settings, FreeRDP_DesktopHeight)) != height) {
        // The session changed size while the client was activating.
        freerdp_settings_set_uint32(settings, FreeRDP_DesktopWidth, UINT32(width));
        freerdp_settings_set_uint32(settings, FreeRDP_DesktopHeight, UINT32(height));
        return m_peer->update->DesktopResize(m_peer->context);
    }
    if (freerdp_settings_get_bool(settings, FreeRDP_RemoteFxCodec)) {
        if (!m_rfx) {
            m_rfx = rfx_context_new(TRUE);
            if (!m_rfx)
                return FALSE;
            rfx_context_set_pixel_format(m_rfx, PIXEL_FORMAT_BGRX32);
            m_rfxCompression = 0;
        }
        rfx_context_reset(m_rfx, UINT32(width), UINT32(height));
    }
    m_active = true;
    m_activatedAt = m_server.nowMs();
    m_lastAckedFrame = m_frameId;
    m_cursorCache.clear();
    m_nextCursorIndex = 0;
    addFullDamage();
    m_server.requestCursorUpdate();
    // Back from a reactivation: the windows may have changed meanwhile.
    if (m_initialSent)
        announceWindows();
    return TRUE;
}

void PeerConnection::openChannels()
{
    // Unless this is a rootless client of a rootless session, the
    // rootless-window channel ("rail") is opened so that a client writing on
    // it is not dropped, and what arrives is ignored.
    static const char* const names[] = { "qzdesk", "qzcfg", "qzshare", "qzrail", "rail" };
    for (const char* name : names) {
        if (!WTSVirtualChannelManagerIsChannelJoined(m_vcm, name)
            || (servesRail() && qstrcmp(name, "rail") == 0))
            continue;
        Channel channel;
        channel.name = name;
        channel.handle = WTSVirtualChannelOpen(m_vcm, WTS_CURRENT_SESSION, const_cast<LPSTR>(name));
        if (!channel.handle) {
            qCWarning(lcDisplay) << "client" << m_id << "channel" << name << "did not open";
            continue;
        }
        void* buffer = nullptr;
        DWORD length = 0;
        if (WTSVirtualChannelQuery(channel.handle, WTSVirtualEventHandle, &buffer, &length)
            && length == sizeof(HANDLE)) {
            std::memcpy(&channel.event, buffer, sizeof(HANDLE));
        }
        WTSFreeMemory(buffer);
        m_channels.push_back(channel);
    }
    if (WTSVirtualChannelManagerIsChannelJoined(m_vcm, CLIPRDR_SVC_CHANNEL_NAME))
        startClipboard();
}

void PeerConnection::closeChannels()
{
    for (Channel& channel : m_channels)
        WTSVirtualChannelClose(channel.handle);
    m_channels.clear();
}

bool PeerConnection::readChannel(Channel& channel)
{
    for (;;) {
        ULONG size = 0;
        // A NULL buffer asks for the size of the next message.
        WTSVirtualChannelRead(channel.handle, 0, nullptr, 0, &size);
        if (size == 0)
            return true;
        QByteArray data(int(size), '\0');
        ULONG read = 0;
        if (!WTSVirtualChannelRead(channel.handle, 0, reinterpret_cast<PCHAR>(data.data()), size,
                                   &read))
            return false;
        data.truncate(int(read));
        handleChannelMessage(channel.name, data);
    }
}

void PeerConnection::handleChannelMessage(const QByteArray& name, const QByteArray& data)
{
    if (!name.startsWith("qz")) {
        qCInfo(lcDisplay) << "client" << m_id << name << data.size() << "bytes ignored";
        return;
    }
    ChannelMessage message;
    QString error;
    if (!decodeChannelMessage(data, &message, &error)) {
        qCWarning(lcDisplay) << "client" << m_id << name << "dropped:" << error;
        return;
    }
    if (name == "qzshare") {
        m_server.sharing().handleMessage(this, message);
    } else if (name == "qzdesk" && message.type == 1 && !m_server.sharing().isOwner(this)) {
        qCWarning(lcDisplay) << "client" << m_id << "is no owner: desktop size request refused";
    } else if (name == "qzdesk" && message.type == 1) {
        quint16 size[2];
        if (!decodeU16List(message.payload, 2, size)) {
            qCWarning(lcDisplay) << "client" << m_id << "short desktop size request dropped";
            return;
        }
        m_server.requestDesktopSize(this, size[0], size[1]);
    } else if (name == "qzcfg" && message.type == 2) {
        // Tolerate a C string's terminator after the JSON text.
        QByteArray json = message.payload;
        while (json.endsWith('\0'))
            json.chop(1);
        m_server.setOptions(this, json);
    } else if (name == "qzrail" && m_server.railWindows()) {
        QSize screen;
        QString error;
        if (!m_server.railWindows()->handleMessage(message.type, message.payload, &screen, &error))
            qCWarning(lcDisplay) << "client" << m_id << "qzrail message dropped:" << error;
        else if (screen.isValid())
            m_server.requestDesktopSize(this, screen.width(), screen.height());
    } else {
        qCInfo(lcDisplay) << "client" << m_id << name << "message type" << message.type
                          << "of" << message.payload.size() << "bytes ignored";
    }
}

void PeerConnection::writeChannel(const char* name, quint16 type, const QByteArray& payload)
{
    for (const Channel& channel : m_channels) {
        if (channel.name != name)
            continue;
        QByteArray data = encodeChannelMessage(type, payload);
        ULONG written = 0;
        if (!WTSVirtualChannelWrite(channel.handle, data.data(), ULONG(data.size()), &written))
            qCWarning(lcDisplay) << "client" << m_id << "write on" << name << "failed";
        WTSVirtualChannelManagerCheckFileDescriptor(m_vcm);
        return;
    }
}

void PeerConnection::noteClientActivity()
{
    if (m_active && !m_initialSent)
        sendInitialMessages();
}

void PeerConnection::sendInitialMessages()
{
    m_initialSent = true;
    // Whatever came before the client was ready may have been dropped: repeat
    // the pointer and the whole picture.
    m_cursorCache.clear();
    m_server.requestCursorUpdate();
    addFullDamage();
    sendMinMaxInfo();
    sendOptions(m_server.options().toJson());
    // Announcing an empty session clipboard would replace the client's own.
    if (m_cliprdr && m_server.clipboard().hasOwner())
        announceClipboard();
    m_server.sharing().ready(this);
    announceWindows();
}

void PeerConnection::startRail()
{
    RailWindows* windows = m_server.railWindows();
    m_rail = std::make_unique<RailChannel>(
        m_vcm, m_peer->context, [windows](UINT32 id) { windows->activate(id); },
        [windows](UINT32 id, UINT16 command) { windows->systemCommand(id, command); });
    if (!m_rail->start()) {
        qCWarning(lcDisplay) << "client" << m_id << "rail channel did not start";
        m_rail.reset();
    }
}

void PeerConnection::announceWindows()
{
    if (rdpContext* context = railContext())
        m_server.railWindows()->announce(context, m_id);
}

bool PeerConnection::servesRail() const
{
    return m_server.railWindows()
        && freerdp_settings_get_bool(m_peer->settings, FreeRDP_RemoteApplicationMode);
}

rdpContext* PeerConnection::railContext() const
{
    return m_active && servesRail() ? m_peer->context : nullptr;
}

void PeerConnection::sendMinMaxInfo()
{
    int minW, minH, maxW, maxH;
    m_server.screen().sizeRange(&minW, &minH, &maxW, &maxH);
    writeChannel("qzdesk", 2,
                 encodeU16List({ quint16(minW), quint16(minH), quint16(maxW), quint16(maxH) }));
}

void PeerConnection::sendOptions(const QByteArray& json)
{
    if (m_initialSent)
        writeChannel("qzcfg", 1, json);
}

void PeerConnection::sendDesktopResized(int width, int height)
{
    writeChannel("qzdesk", 1, encodeU16List({ quint16(width), quint16(height) }));
}

void PeerConnection::resizeDesktop(int width, int height)
{
    rdpSettings* settings = m_peer->settings;
    freerdp_settings_set_uint32(settings, FreeRDP_DesktopWidth, UINT32(width));
    freerdp_settings_set_uint32(settings, FreeRDP_DesktopHeight, UINT32(height));
    if (!m_active)
        return;
    std::fill(m_dirtyTiles.begin(), m_dirtyTiles.end(), 0);
    m_dirtyCount = 0;
    // The client reactivates; Activate resumes the frames.
    m_active = false;
    m_peer->update->DesktopResize(m_peer->context);
}

void PeerConnection::onKeyboard(UINT16 flags, UINT8 code)
{
    noteClientActivity();
    if (m_server.sharing().hasControl(this))
        m_server.input().keyboard(flags, code);
}

void PeerConnection::onUnicode(UINT16 flags, UINT16 code)
{
    noteClientActivity();
    if (m_server.sharing().hasControl(this))
        m_server.input().unicode(flags, code);
}

void PeerConnection::onMouse(UINT16 flags, UINT16 x, UINT16 y)
{
    noteClientActivity();
    if (!m_server.sharing().hasControl(this))
        return;
    m_server.input().mouse(flags, x, y);
    m_server.sharing().pointerEvent(this, flags, x, y);
}

void PeerConnection::onExtendedMouse(UINT16 flags, UINT16 x, UINT16 y)
{
    noteClientActivity();
    if (m_server.sharing().hasControl(this))
        m_server.input().extendedMouse(flags, x, y);
}

void PeerConnection::onSynchronize(UINT32 flags)
{
    noteClientActivity();
    if (m_server.sharing().hasControl(this))
        m_server.input().synchronize(flags);
}

void PeerConnection::onFrameAcknowledge(UINT32 frameId)
{
    noteClientActivity();
    m_lastAckedFrame = frameId;
}

void PeerConnection::onRefreshRect()
{
    addFullDamage();
}

void PeerConnection::onSuppressOutput(bool allow)
{
    m_outputSuppressed = !allow;
    if (allow)
        addFullDamage();
}

void PeerConnection::markTiles(const ScreenRect& rect)
{
    const int width = m_server.screen().width(), height = m_server.screen().height();
    const int columns = (width + TileDiff::TileSize - 1) / TileDiff::TileSize;
    const int rows = (height + TileDiff::TileSize - 1) / TileDiff::TileSize;
    if (columns != m_dirtyColumns || rows != m_dirtyRows) {
        m_dirtyColumns = columns;
        m_dirtyRows = rows;
        m_dirtyTiles.assign(size_t(columns) * size_t(rows), 0);
        m_dirtyCount = 0;
    }
    const int x0 = std::max(0, rect.x), y0 = std::max(0, rect.y);
    const int x1 = std::min(width, rect.x + rect.w), y1 = std::min(height, rect.y + rect.h);
    for (int row = y0 / TileDiff::TileSize; row * TileDiff::TileSize < y1; ++row) {
        for (int column = x0 / TileDiff::TileSize; column * TileDiff::TileSize < x1; ++column) {
            uint8_t& tile = m_dirtyTiles[size_t(row) * size_t(columns) + size_t(column)];
            m_dirtyCount += tile ? 0 : 1;
            tile = 1;
        }
    }
}

std::vector<ScreenRect> PeerConnection::takeDirtyRects()
{
    // Runs of dirty tiles along each tile row, clipped to the screen.
    const int width = m_server.screen().width(), height = m_server.screen().height();
    const int size = TileDiff::TileSize;
    std::vector<ScreenRect> rects;
    for (int row = 0; row < m_dirtyRows; ++row) {
        int column = 0;
        while (column < m_dirtyColumns) {
            if (!m_dirtyTiles[size_t(row) * size_t(m_dirtyColumns) + size_t(column)]) {
                ++column;
                continue;
            }
            const int start = column;
            while (column < m_dirtyColumns
                   && m_dirtyTiles[size_t(row) * size_t(m_dirtyColumns) + size_t(column)])
                ++column;
            ScreenRect r { start * size, row * size, 0, 0 };
            r.w = std::min(column * size, width) - r.x;
            r.h = std::min((row + 1) * size, height) - r.y;
            if (r.w > 0 && r.h > 0)
                rects.push_back(r);
        }
    }
    std::fill(m_dirtyTiles.begin(), m_dirtyTiles.end(), 0);
    m_dirtyCount = 0;
    return rects;
}

void PeerConnection::addDamage(const std::vector<ScreenRect>& rects)
{
    if (!m_active)
        return;
    for (const ScreenRect& r : rects)
        markTiles(r);
}

void PeerConnection::addFullDamage()
{
    if (m_active)
        markTiles(ScreenRect { 0, 0, m_server.screen().width(), m_server.screen().height() });
}

bool PeerConnection::wantsFrame() const
{
    if (!m_active || m_outputSuppressed || m_dirtyCount == 0)
        return false;
    const rdpSettings* settings = m_peer->settings;
    const uint32_t clientWindow = freerdp_settings_get_uint32(settings, FreeRDP_FrameAcknowledge);
    if (clientWindow == 0 || !freerdp_settings_get_bool(settings, FreeRDP_SurfaceFrameMarkerEnabled))
        return true;
    const int option = m_server.options().frameAckWindow;
    const uint32_t window = option > 0 ? uint32_t(option) : clientWindow;
    return m_frameId - m_lastAckedFrame < window;
}

void PeerConnection::sendFrame(const X11Screen& screen)
{
    const std::vector<ScreenRect> rects = takeDirtyRects();
    if (rects.empty())
        return;
    rdpUpdate* update = m_peer->update;
    const bool markers = freerdp_settings_get_bool(m_peer->settings, FreeRDP_SurfaceFrameMarkerEnabled);
    SURFACE_FRAME_MARKER marker {};
    marker.frameId = ++m_frameId;
    if (markers) {
        marker.frameAction = SURFACECMD_FRAMEACTION_BEGIN;
        update->SurfaceFrameMarker(m_peer->context, &marker);
    }
    const bool sent = m_rfx ? sendRemoteFx(screen, rects) : sendRaw(screen, rects);
    if (markers) {
        marker.frameAction = SURFACECMD_FRAMEACTION_END;
        update->SurfaceFrameMarker(m_peer->context, &marker);
    } else {
        m_lastAckedFrame = m_frameId;
    }
    if (!sent)
        qCWarning(lcDisplay) << "client" << m_id << "frame" << m_frameId << "not sent";
}

void PeerConnection::applyCompression()
{
    const int level = m_server.options().compression;
    if (level == m_rfxCompression)
        return;
    // The library's default quantization (LL3 .. HH1), coarser by two steps per level.
    static const UINT32 base[10] = { 6, 6, 6, 6, 7, 7, 8, 8, 8, 9 };
    auto* quants = static_cast<UINT32*>(calloc(10, sizeof(UINT32)));
    if (!quants)
        return;
    for (int i = 0; i < 10; ++i)
        quants[i] = std::min<UINT32>(15, base[i] + UINT32(2 * level));
    free(m_rfx->quants);
    m_rfx->quants = quants;
    m_rfx->numQuant = 1;
    m_rfx->quantIdxY = m_rfx->quantIdxCb = m_rfx->quantIdxCr = 0;
    m_rfxCompression = level;
}

void PeerConnection::optionsChanged()
{
    addFullDamage();
}

bool PeerConnection::sendRemoteFx(const X11Screen& screen, const std::vector<ScreenRect>& rects)
{
    applyCompression();
    std::vector<RFX_RECT> rfxRects;
    rfxRects.reserve(rects.size());
    for (const ScreenRect& r : rects)
        rfxRects.push_back(RFX_RECT { UINT16(r.x), UINT16(r.y), UINT16(r.w), UINT16(r.h) });
    rdpSettings* settings = m_peer->settings;
    const size_t maxSize = std::max<size_t>(
        freerdp_settings_get_uint32(settings, FreeRDP_MultifragMaxRequestSize), 0x4000) - 0x100;
    size_t count = 0;
    RFX_MESSAGE* messages = rfx_encode_messages_ex(m_rfx, rfxRects.data(), rfxRects.size(),
                                                   screen.pixels(), UINT32(screen.width()),
                                                   UINT32(screen.height()), UINT32(screen.stride()),
                                                   &count, maxSize);
    if (!messages)
        return false;
    wStream* s = Stream_New(nullptr, 0x10000);
    bool ok = s != nullptr;
    for (size_t i = 0; i < count; ++i) {
        if (ok) {
            Stream_SetPosition(s, 0);
            ok = rfx_write_message(m_rfx, s, &messages[i]);
        }
        rfx_message_free(m_rfx, &messages[i]);
        if (!ok)
            continue;
        SURFACE_BITS_COMMAND cmd {};
        cmd.cmdType = CMDTYPE_STREAM_SURFACE_BITS;
        // RemoteFX data is entropy-coded already; bulk compression only costs time.
        cmd.skipCompression = TRUE;
        cmd.destRight = UINT32(screen.width());
        cmd.destBottom = UINT32(screen.height());
        cmd.bmp.bpp = 32;
        cmd.bmp.codecID = UINT16(freerdp_settings_get_uint32(settings, FreeRDP_RemoteFxCodecId));
        cmd.bmp.width = UINT16(screen.width());
        cmd.bmp.height = UINT16(screen.height());
        cmd.bmp.bitmapDataLength = UINT32(Stream_GetPosition(s));
        cmd.bmp.bitmapData = Stream_Buffer(s);
        ok = m_peer->update->SurfaceBits(m_peer->context, &cmd);
    }
    Stream_Free(s, TRUE);
    free(messages);
    return ok;
}

bool PeerConnection::sendRaw(const X11Screen& screen, const std::vector<ScreenRect>& rects)
{
    const size_t limit = 0x3F000;
    std::vector<uint8_t> buffer;
    for (const ScreenRect& r : rects) {
        const size_t rowBytes = size_t(r.w) * 4;
        const int stripHeight = int(std::max<size_t>(1, limit / rowBytes));
        for (int top = r.y; top < r.y + r.h; top += stripHeight) {
            const int h = std::min(stripHeight, r.y + r.h - top);
            buffer.resize(rowBytes * size_t(h));
            // Uncompressed surface bits are bottom-up.
            for (int row = 0; row < h; ++row) {
                const uint8_t* src = screen.pixels() + size_t(top + row) * size_t(screen.stride())
                                   + size_t(r.x) * 4;
                std::memcpy(buffer.data() + size_t(h - 1 - row) * rowBytes, src, rowBytes);
            }
            SURFACE_BITS_COMMAND cmd {};
            cmd.cmdType = CMDTYPE_SET_SURFACE_BITS;
            cmd.destLeft = UINT32(r.x);
            cmd.destTop = UINT32(top);
            cmd.destRight = UINT32(r.x + r.w);
            cmd.destBottom = UINT32(top + h);
            cmd.bmp.bpp = 32;
            cmd.bmp.codecID = RDP_CODEC_ID_NONE;
            cmd.bmp.width = UINT16(r.w);
            cmd.bmp.height = UINT16(h);
            cmd.bmp.bitmapDataLength = UINT32(buffer.size());
            cmd.bmp.bitmapData = buffer.data();
            if (!m_peer->update->SurfaceBits(m_peer->context, &cmd))
                return false;
        }
    }
    return true;
}

void PeerConnection::sendCursor(const CursorImage& cursor)
{
    if (!m_active)
        return;
    rdpPointerUpdate* pointer = m_peer->update->pointer;
    const auto cached = m_cursorCache.find(cursor.serial);
    if (cached != m_cursorCache.end()) {
        POINTER_CACHED_UPDATE update { cached->second };
        pointer->PointerCached(m_peer->context, &update);
        return;
    }
    const int w = std::min(cursor.width, 96);
    const int h = std::min(cursor.height, 96);
    if (w <= 0 || h <= 0)
        return;
    const uint32_t cacheSize =
        std::max<uint32_t>(1, freerdp_settings_get_uint32(m_peer->settings, FreeRDP_PointerCacheSize));
    const uint32_t index = m_nextCursorIndex++ % cacheSize;
    for (auto it = m_cursorCache.begin(); it != m_cursorCache.end();) {
        it = it->second == index ? m_cursorCache.erase(it) : std::next(it);
    }
    m_cursorCache[cursor.serial] = index;

    // 32-bit colour pointer: BGRA rows bottom-up, straight alpha; the AND mask
    // (rows padded to 16 bits) stays clear so the alpha channel decides.
    std::vector<uint8_t> xorMask(size_t(w) * size_t(h) * 4);
    const size_t andStride = size_t((w + 15) / 16) * 2;
    std::vector<uint8_t> andMask(andStride * size_t(h), 0);
    for (int y = 0; y < h; ++y) {
        uint8_t* dst = xorMask.data() + size_t(h - 1 - y) * size_t(w) * 4;
        for (int x = 0; x < w; ++x) {
            const uint32_t p = cursor.argb[size_t(y) * size_t(cursor.width) + size_t(x)];
            const uint32_t a = p >> 24;
            auto channel = [a](uint32_t c) { return uint8_t(a ? std::min<uint32_t>(255, c * 255 / a) : 0); };
            dst[4 * x + 0] = channel(p & 0xFF);
            dst[4 * x + 1] = channel((p >> 8) & 0xFF);
            dst[4 * x + 2] = channel((p >> 16) & 0xFF);
            dst[4 * x + 3] = uint8_t(a);
        }
    }
    POINTER_NEW_UPDATE update {};
    update.xorBpp = 32;
    update.colorPtrAttr.cacheIndex = index;
    update.colorPtrAttr.xPos = UINT32(std::min(cursor.hotX, w - 1));
    update.colorPtrAttr.yPos = UINT32(std::min(cursor.hotY, h - 1));
    update.colorPtrAttr.width = UINT32(w);
    update.colorPtrAttr.height = UINT32(h);
    update.colorPtrAttr.lengthXorMask = UINT32(xorMask.size());
    update.colorPtrAttr.xorMaskData = xorMask.data();
    update.colorPtrAttr.lengthAndMask = UINT32(andMask.size());
    update.colorPtrAttr.andMaskData = andMask.data();
    pointer->PointerNew(m_peer->context, &update);
}

void PeerConnection::startClipboard()
{
    m_cliprdr = cliprdr_server_context_new(m_vcm);
    if (!m_cliprdr)
        return;
    m_cliprdr->custom = this;
    m_cliprdr->rdpcontext = m_peer->context;
    m_cliprdr->useLongFormatNames = TRUE;
    m_cliprdr->ClientCapabilities = clipboardClientCapabilities;
    m_cliprdr->ClientFormatList = clipboardFormatList;
    m_cliprdr->ClientFormatListResponse = clipboardFormatListResponse;
    m_cliprdr->ClientFormatDataRequest = clipboardDataRequest;
    m_cliprdr->ClientFormatDataResponse = clipboardDataResponse;
    if (m_cliprdr->Open(m_cliprdr) != CHANNEL_RC_OK) {
        qCWarning(lcDisplay) << "client" << m_id << "clipboard channel did not open";
        cliprdr_server_context_free(m_cliprdr);
        m_cliprdr = nullptr;
        return;
    }
    CLIPRDR_GENERAL_CAPABILITY_SET general {};
    general.capabilitySetType = CB_CAPSTYPE_GENERAL;
    general.capabilitySetLength = CB_CAPSTYPE_GENERAL_LEN;
    general.version = CB_CAPS_VERSION_2;
    general.generalFlags = CB_USE_LONG_FORMAT_NAMES;
    CLIPRDR_CAPABILITIES caps {};
    caps.msgType = CB_CLIP_CAPS;
    caps.cCapabilitiesSets = 1;
    caps.capabilitySets = reinterpret_cast<CLIPRDR_CAPABILITY_SET*>(&general);
    CLIPRDR_MONITOR_READY ready {};
    ready.msgType = CB_MONITOR_READY;
    if (m_cliprdr->ServerCapabilities(m_cliprdr, &caps) != CHANNEL_RC_OK
        || m_cliprdr->MonitorReady(m_cliprdr, &ready) != CHANNEL_RC_OK)
        qCWarning(lcDisplay) << "client" << m_id << "clipboard start failed";
}

void PeerConnection::announceClipboard()
{
    if (!m_cliprdr)
        return;
    CLIPRDR_FORMAT formats[2] {};
    formats[0].formatId = FormatUnicodeText;
    formats[1].formatId = FormatText;
    CLIPRDR_FORMAT_LIST list {};
    list.msgType = CB_FORMAT_LIST;
    list.numFormats = 2;
    list.formats = formats;
    m_cliprdr->ServerFormatList(m_cliprdr, &list);
}

UINT PeerConnection::onClipboardFormatList(const CLIPRDR_FORMAT_LIST* list)
{
    CLIPRDR_FORMAT_LIST_RESPONSE response {};
    response.msgType = CB_FORMAT_LIST_RESPONSE;
    response.msgFlags = CB_RESPONSE_OK;
    m_cliprdr->ServerFormatListResponse(m_cliprdr, &response);
    m_requestedFormat = 0;
    // Only the participant in control changes the session's clipboard.
    if (!m_server.sharing().hasControl(this))
        return CHANNEL_RC_OK;
    for (UINT32 i = 0; i < list->numFormats; ++i) {
        const uint32_t id = list->formats[i].formatId;
        if (id == FormatUnicodeText || (id == FormatText && m_requestedFormat == 0))
            m_requestedFormat = id;
    }
    if (m_requestedFormat == 0)
        return CHANNEL_RC_OK;
    CLIPRDR_FORMAT_DATA_REQUEST request {};
    request.msgType = CB_FORMAT_DATA_REQUEST;
    request.dataLen = 4;
    request.requestedFormatId = m_requestedFormat;
    return m_cliprdr->ServerFormatDataRequest(m_cliprdr, &request);
}

UINT PeerConnection::onClipboardDataResponse(const CLIPRDR_FORMAT_DATA_RESPONSE* response)
{
    if (!(response->msgFlags & CB_RESPONSE_OK) || !response->requestedFormatData)
        return CHANNEL_RC_OK;
    if (response->dataLen > MaxClipboardBytes) {
        qCWarning(lcDisplay) << "client" << m_id << "clipboard data of" << response->dataLen
                             << "bytes refused";
        return CHANNEL_RC_OK;
    }
    const auto* data = reinterpret_cast<const char*>(response->requestedFormatData);
    const int length = int(response->dataLen);
    QString text;
    if (m_requestedFormat == FormatUnicodeText)
        text = QString::fromUtf16(reinterpret_cast<const char16_t*>(data), length / 2);
    else if (m_requestedFormat == FormatText)
        text = QString::fromLatin1(data, int(qstrnlen(data, size_t(length))));
    else
        return CHANNEL_RC_OK;
    while (text.endsWith(QChar(0)))
        text.chop(1);
    m_server.clipboardFromClient(this, text);
    return CHANNEL_RC_OK;
}

UINT PeerConnection::onClipboardDataRequest(const CLIPRDR_FORMAT_DATA_REQUEST* request)
{
    const uint32_t formatId = request->requestedFormatId;
    // What the owner copied is not for participants who merely watch.
    if (!m_server.sharing().hasControl(this)) {
        sendClipboardText(formatId, QString());
        return CHANNEL_RC_OK;
    }
    std::weak_ptr<bool> alive = m_alive;
    m_server.clipboard().requestText([this, alive, formatId](const QString& text) {
        if (!alive.expired())
            sendClipboardText(formatId, text);
    });
    return CHANNEL_RC_OK;
}

void PeerConnection::sendClipboardText(uint32_t formatId, const QString& text)
{
    if (!m_cliprdr)
        return;
    QByteArray data;
    if (formatId == FormatUnicodeText) {
        data = QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
        data.append(2, '\0');
    } else if (formatId == FormatText) {
        data = text.toLatin1();
        data.append('\0');
    }
    CLIPRDR_FORMAT_DATA_RESPONSE response {};
    response.msgType = CB_FORMAT_DATA_RESPONSE;
    const bool ok = !text.isEmpty() && !data.isEmpty();
    response.msgFlags = ok ? CB_RESPONSE_OK : CB_RESPONSE_FAIL;
    response.dataLen = ok ? UINT32(data.size()) : 0;
    response.requestedFormatData = ok ? reinterpret_cast<const BYTE*>(data.constData()) : nullptr;
    m_cliprdr->ServerFormatDataResponse(m_cliprdr, &response);
    WTSVirtualChannelManagerCheckFileDescriptor(m_vcm);
}

void PeerConnection::sendErrorInfoAndClose(uint32_t errorInfo)
{
    rdpRdp* rdp = m_peer->context->rdp;
    freerdp_set_error_info(rdp, errorInfo);
    freerdp_send_error_info(rdp);
    // Deactivate-all and the disconnect ultimatum: the client ends on its own,
    // with the error info as the reason.
    m_peer->Close(m_peer);
    m_closed = true;
    m_closedAt = m_server.nowMs();
    m_active = false;
}

bool PeerConnection::closedByClient()
{
    m_peer->DrainOutputBuffer(m_peer);
    return !m_peer->CheckFileDescriptor(m_peer);
}
