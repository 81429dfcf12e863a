#include "RdpProbe.h"

#include <freerdp/cache/pointer.h>
#include <freerdp/channels/channels.h>
#include <freerdp/client/channels.h>
#include <freerdp/freerdp.h>
#include <freerdp/gdi/gdi.h>
#include <freerdp/graphics.h>
#include <freerdp/primitives.h>
#include <freerdp/svc.h>
#include <freerdp/window.h>
#include <winpr/synch.h>
#include <winpr/wtsapi.h>

#include <QElapsedTimer>
#include <QtEndian>

#include <cstring>

namespace {

struct ProbeContext
{
    rdpContext base;
    RdpProbe* probe;
    pSurfaceFrameMarker gdiFrameMarker;
};

RdpProbe* probeOf(rdpContext* context)
{
    return reinterpret_cast<ProbeContext*>(context)->probe;
}

struct ProbeChannel
{
    CHANNEL_ENTRY_POINTS_FREERDP_EX entryPoints;
    CHANNEL_DEF def;
    LPVOID initHandle = nullptr;
    DWORD openHandle = 0;
    RdpProbe* probe = nullptr;
    QByteArray partial;
};

// Per probe: a test may run several clients at once.
using ChannelKey = QPair<const RdpProbe*, QString>;

QMap<ChannelKey, ProbeChannel*>& openChannels()
{
    static QMap<ChannelKey, ProbeChannel*> channels;
    return channels;
}

void VCAPITYPE openEvent(LPVOID user, DWORD, UINT event, LPVOID data, UINT32 length, UINT32,
                         UINT32 flags)
{
    auto* channel = static_cast<ProbeChannel*>(user);
    if (event == CHANNEL_EVENT_WRITE_COMPLETE || event == CHANNEL_EVENT_WRITE_CANCELLED) {
        free(data);
        return;
    }
    if (event != CHANNEL_EVENT_DATA_RECEIVED)
        return;
    if (flags & CHANNEL_FLAG_FIRST)
        channel->partial.clear();
    channel->partial.append(static_cast<const char*>(data), int(length));
    if (flags & CHANNEL_FLAG_LAST)
        channel->probe->channelData(QString::fromLatin1(channel->def.name), channel->partial);
}

void VCAPITYPE initEvent(LPVOID user, LPVOID initHandle, UINT event, LPVOID, UINT)
{
    auto* channel = static_cast<ProbeChannel*>(user);
    switch (event) {
    case CHANNEL_EVENT_CONNECTED:
        if (channel->entryPoints.pVirtualChannelOpenEx(initHandle, &channel->openHandle,
                                                       channel->def.name, openEvent) == CHANNEL_RC_OK)
            openChannels().insert(ChannelKey(channel->probe, QString::fromLatin1(channel->def.name)), channel);
        break;
    case CHANNEL_EVENT_DISCONNECTED:
        openChannels().remove(ChannelKey(channel->probe, QString::fromLatin1(channel->def.name)));
        channel->entryPoints.pVirtualChannelCloseEx(initHandle, channel->openHandle);
        break;
    case CHANNEL_EVENT_TERMINATED:
        delete channel;
        break;
    default:
        break;
    }
}

BOOL channelEntry(const char* name, PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle)
{
    auto* ep = reinterpret_cast<CHANNEL_ENTRY_POINTS_FREERDP_EX*>(entryPoints);
    if (ep->cbSize < sizeof(CHANNEL_ENTRY_POINTS_FREERDP_EX)
        || ep->MagicNumber != FREERDP_CHANNEL_MAGIC_NUMBER)
        return FALSE;
    auto* channel = new ProbeChannel;
    channel->entryPoints = *ep;
    channel->probe = probeOf(ep->context);
    channel->initHandle = initHandle;
    std::memset(&channel->def, 0, sizeof(channel->def));
    std::strncpy(channel->def.name, name, sizeof(channel->def.name) - 1);
    channel->def.options = CHANNEL_OPTION_INITIALIZED | CHANNEL_OPTION_ENCRYPT_RDP;
    if (ep->pVirtualChannelInitEx(channel, nullptr, initHandle, &channel->def, 1,
                                  VIRTUAL_CHANNEL_VERSION_WIN2000, initEvent) != CHANNEL_RC_OK) {
        delete channel;
        return FALSE;
    }
    return TRUE;
}

BOOL VCAPITYPE qzdeskEntry(PCHANNEL_ENTRY_POINTS_EX ep, PVOID init) { return channelEntry("qzdesk", ep, init); }
BOOL VCAPITYPE qzcfgEntry(PCHANNEL_ENTRY_POINTS_EX ep, PVOID init) { return channelEntry("qzcfg", ep, init); }
BOOL VCAPITYPE qzshareEntry(PCHANNEL_ENTRY_POINTS_EX ep, PVOID init) { return channelEntry("qzshare", ep, init); }
BOOL VCAPITYPE qzrailEntry(PCHANNEL_ENTRY_POINTS_EX ep, PVOID init) { return channelEntry("qzrail", ep, init); }
BOOL VCAPITYPE railEntry(PCHANNEL_ENTRY_POINTS_EX ep, PVOID init) { return channelEntry("rail", ep, init); }
BOOL VCAPITYPE cliprdrEntry(PCHANNEL_ENTRY_POINTS_EX ep, PVOID init) { return channelEntry("cliprdr", ep, init); }

BOOL beginPaint(rdpContext*) { return TRUE; }
BOOL endPaint(rdpContext*) { return TRUE; }

BOOL desktopResize(rdpContext* context)
{
    return gdi_resize(context->gdi, context->settings->DesktopWidth, context->settings->DesktopHeight);
}

BOOL frameMarker(rdpContext* context, const SURFACE_FRAME_MARKER* marker)
{
    auto* ctx = reinterpret_cast<ProbeContext*>(context);
    // The library's handler paints and acknowledges the frame.
    const BOOL ok = ctx->gdiFrameMarker && ctx->probe->acknowledges()
        ? ctx->gdiFrameMarker(context, marker)
        : TRUE;
    if (marker->frameAction == SURFACECMD_FRAMEACTION_END)
        ctx->probe->frameEnded();
    return ok;
}

BOOL pointerNew(rdpContext*, rdpPointer*) { return TRUE; }
void pointerFree(rdpContext*, rdpPointer*) {}
BOOL pointerSet(rdpContext* context, const rdpPointer*)
{
    probeOf(context)->pointerChanged();
    return TRUE;
}
BOOL pointerNoop(rdpContext*) { return TRUE; }
BOOL pointerPosition(rdpContext*, UINT32, UINT32) { return TRUE; }

RdpProbe::WindowOrder windowOrderOf(RdpProbe::WindowOrder::Kind kind, const WINDOW_ORDER_INFO* info,
                                    const WINDOW_STATE_ORDER* state)
{
    RdpProbe::WindowOrder order;
    order.kind = kind;
    order.id = info->windowId;
    order.fields = info->fieldFlags;
    if (!state)
        return order;
    order.x = state->windowOffsetX;
    order.y = state->windowOffsetY;
    order.width = int(state->windowWidth);
    order.height = int(state->windowHeight);
    order.title = QString::fromUtf16(reinterpret_cast<const char16_t*>(state->titleInfo.string),
                                     state->titleInfo.length / 2);
    order.owner = state->ownerWindowId;
    order.style = state->style;
    order.extendedStyle = state->extendedStyle;
    order.showState = state->showState;
    return order;
}

BOOL windowCreate(rdpContext* context, const WINDOW_ORDER_INFO* info, const WINDOW_STATE_ORDER* state)
{
    probeOf(context)->windowOrder(windowOrderOf(RdpProbe::WindowOrder::Create, info, state));
    return TRUE;
}

BOOL windowUpdate(rdpContext* context, const WINDOW_ORDER_INFO* info, const WINDOW_STATE_ORDER* state)
{
    probeOf(context)->windowOrder(windowOrderOf(RdpProbe::WindowOrder::Update, info, state));
    return TRUE;
}

BOOL windowDelete(rdpContext* context, const WINDOW_ORDER_INFO* info)
{
    probeOf(context)->windowOrder(windowOrderOf(RdpProbe::WindowOrder::Delete, info, nullptr));
    return TRUE;
}

BOOL monitoredDesktop(rdpContext* context, const WINDOW_ORDER_INFO* info, const MONITORED_DESKTOP_ORDER* desktop)
{
    RdpProbe::WindowOrder order = windowOrderOf(RdpProbe::WindowOrder::Desktop, info, nullptr);
    order.active = desktop->activeWindowId;
    for (UINT32 i = 0; i < desktop->numWindowIds; ++i)
        order.zOrder.append(desktop->windowIds[i]);
    probeOf(context)->windowOrder(order);
    return TRUE;
}

BOOL preConnect(freerdp* instance)
{
    rdpChannels* channels = instance->context->channels;
    rdpSettings* settings = instance->settings;
    return freerdp_channels_client_load_ex(channels, settings, qzdeskEntry, nullptr) == 0
        && freerdp_channels_client_load_ex(channels, settings, qzcfgEntry, nullptr) == 0
        && freerdp_channels_client_load_ex(channels, settings, qzshareEntry, nullptr) == 0
        && freerdp_channels_client_load_ex(channels, settings, railEntry, nullptr) == 0
        && (!settings->RemoteApplicationMode
            || freerdp_channels_client_load_ex(channels, settings, qzrailEntry, nullptr) == 0)
        && (!probeOf(instance->context)->joinsClipboard()
            || freerdp_channels_client_load_ex(channels, settings, cliprdrEntry, nullptr) == 0);
}

BOOL postConnect(freerdp* instance)
{
    instance->update->BeginPaint = beginPaint;
    instance->update->EndPaint = endPaint;
    instance->update->DesktopResize = desktopResize;
    if (!gdi_init(instance, PIXEL_FORMAT_BGRX32))
        return FALSE;
    auto* ctx = reinterpret_cast<ProbeContext*>(instance->context);
    ctx->gdiFrameMarker = instance->update->SurfaceFrameMarker;
    instance->update->SurfaceFrameMarker = frameMarker;
    rdpPointer pointer {};
    pointer.size = sizeof(rdpPointer);
    pointer.New = pointerNew;
    pointer.Free = pointerFree;
    pointer.Set = pointerSet;
    pointer.SetNull = pointerNoop;
    pointer.SetDefault = pointerNoop;
    pointer.SetPosition = pointerPosition;
    graphics_register_pointer(instance->context->graphics, &pointer);
    pointer_cache_register_callbacks(instance->update);
    rdpWindowUpdate* window = instance->update->window;
    window->WindowCreate = windowCreate;
    window->WindowUpdate = windowUpdate;
    window->WindowDelete = windowDelete;
    window->MonitoredDesktop = monitoredDesktop;
    return TRUE;
}

} // namespace

RdpProbe::RdpProbe() = default;

RdpProbe::~RdpProbe()
{
    if (!m_instance)
        return;
    if (m_established)
        freerdp_disconnect(m_instance);
    gdi_free(m_instance);
    freerdp_context_free(m_instance);
    freerdp_free(m_instance);
}

bool RdpProbe::connect(const Options& options, QString* error)
{
    primitives_set_hints(PRIMITIVES_ONLY_CPU);
    m_withholdAcknowledgements = options.withholdAcknowledgements;
    m_rawClipboard = options.rawClipboard;
    m_instance = freerdp_new();
    m_instance->ContextSize = sizeof(ProbeContext);
    m_instance->PreConnect = preConnect;
    m_instance->PostConnect = postConnect;
    if (!freerdp_context_new(m_instance)) {
        *error = QStringLiteral("freerdp_context_new failed");
        return false;
    }
    reinterpret_cast<ProbeContext*>(m_instance->context)->probe = this;
    rdpSettings* s = m_instance->settings;
    freerdp_settings_set_string(s, FreeRDP_ServerHostname, options.host.toUtf8().constData());
    freerdp_settings_set_uint32(s, FreeRDP_ServerPort, options.port);
    freerdp_settings_set_string(s, FreeRDP_Username, options.user.toUtf8().constData());
    freerdp_settings_set_string(s, FreeRDP_Password, options.password.toUtf8().constData());
    freerdp_settings_set_bool(s, FreeRDP_RdpSecurity, !options.tls);
    freerdp_settings_set_bool(s, FreeRDP_TlsSecurity, options.tls);
    freerdp_settings_set_bool(s, FreeRDP_NlaSecurity, FALSE);
    freerdp_settings_set_bool(s, FreeRDP_ExtSecurity, FALSE);
    freerdp_settings_set_bool(s, FreeRDP_UseRdpSecurityLayer, !options.tls);
    freerdp_settings_set_bool(s, FreeRDP_IgnoreCertificate, TRUE);
    freerdp_settings_set_bool(s, FreeRDP_SoftwareGdi, TRUE);
    freerdp_settings_set_uint32(s, FreeRDP_ColorDepth, 32);
    freerdp_settings_set_bool(s, FreeRDP_RemoteFxCodec, options.remoteFx ? TRUE : FALSE);
    freerdp_settings_set_bool(s, FreeRDP_FastPathOutput, TRUE);
    freerdp_settings_set_bool(s, FreeRDP_FrameMarkerCommandEnabled, TRUE);
    freerdp_settings_set_bool(s, FreeRDP_SurfaceFrameMarkerEnabled, TRUE);
    freerdp_settings_set_uint32(s, FreeRDP_DesktopWidth, UINT32(options.width));
    freerdp_settings_set_uint32(s, FreeRDP_DesktopHeight, UINT32(options.height));
    if (options.remoteApp) {
        freerdp_settings_set_bool(s, FreeRDP_RemoteApplicationMode, TRUE);
        freerdp_settings_set_string(s, FreeRDP_RemoteApplicationProgram, "nothing");
        freerdp_settings_set_bool(s, FreeRDP_RemoteAppLanguageBarSupported, TRUE);
        freerdp_settings_set_bool(s, FreeRDP_Workarea, TRUE);
    }
    if (options.socksPort != 0) {
        freerdp_settings_set_uint32(s, FreeRDP_ProxyType, PROXY_TYPE_SOCKS);
        freerdp_settings_set_string(s, FreeRDP_ProxyHostname, "localhost");
        freerdp_settings_set_uint16(s, FreeRDP_ProxyPort, options.socksPort);
    }
    if (!freerdp_connect(m_instance)) {
        *error = QStringLiteral("connect failed: %1 (error info %2)")
                     .arg(QString::fromLatin1(freerdp_get_last_error_string(
                         freerdp_get_last_error(m_instance->context))))
                     .arg(freerdp_error_info(m_instance));
        return false;
    }
    m_connected = true;
    m_established = true;
    return true;
}

bool RdpProbe::pump(int ms)
{
    if (!m_connected)
        return false;
    HANDLE handles[64];
    const DWORD count = freerdp_get_event_handles(m_instance->context, handles, 64);
    if (count == 0 || WaitForMultipleObjects(count, handles, FALSE, DWORD(ms)) == WAIT_FAILED
        || !freerdp_check_event_handles(m_instance->context)
        || freerdp_shall_disconnect(m_instance)) {
        m_connected = false;
    }
    return m_connected;
}

bool RdpProbe::waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        if (!pump(50) && !condition())
            return false;
    }
    return true;
}

QImage RdpProbe::frame() const
{
    rdpGdi* gdi = m_instance ? m_instance->context->gdi : nullptr;
    if (!gdi)
        return QImage();
    return QImage(gdi->primary_buffer, int(gdi->width), int(gdi->height), int(gdi->stride),
                  QImage::Format_RGB32)
        .copy();
}

quint32 RdpProbe::errorInfo() const
{
    return m_instance ? freerdp_error_info(m_instance) : 0;
}

const QList<ChannelMessage>& RdpProbe::messages(const QString& channel) const
{
    static const QList<ChannelMessage> none;
    const auto it = m_messages.find(channel);
    return it == m_messages.end() ? none : *it;
}

void RdpProbe::channelData(const QString& channel, const QByteArray& message)
{
    if (channel == QLatin1String("rail")) {
        m_railMessages.append(message);
        return;
    }
    ChannelMessage decoded;
    QString error;
    if (decodeChannelMessage(message, &decoded, &error))
        m_messages[channel].append(decoded);
}

bool RdpProbe::send(const QString& channel, quint16 type, const QByteArray& payload)
{
    return sendRaw(channel, encodeChannelMessage(type, payload));
}

bool RdpProbe::sendRaw(const QString& channel, const QByteArray& data)
{
    ProbeChannel* open = openChannels().value(ChannelKey(this, channel));
    if (!open)
        return false;
    void* buffer = malloc(size_t(data.size()));
    std::memcpy(buffer, data.constData(), size_t(data.size()));
    if (open->entryPoints.pVirtualChannelWriteEx(open->initHandle, open->openHandle, buffer,
                                                 ULONG(data.size()), buffer) != CHANNEL_RC_OK) {
        free(buffer);
        return false;
    }
    return true;
}

bool RdpProbe::sendRail(quint16 orderType, const QByteArray& body)
{
    QByteArray data(4, '\0');
    qToLittleEndian<quint16>(orderType, data.data());
    qToLittleEndian<quint16>(quint16(4 + body.size()), data.data() + 2);
    return sendRaw(QStringLiteral("rail"), data + body);
}

void RdpProbe::sendKey(quint16 scancode, bool down, bool extended)
{
    UINT16 flags = down ? KBD_FLAGS_DOWN : KBD_FLAGS_RELEASE;
    if (extended)
        flags |= KBD_FLAGS_EXTENDED;
    freerdp_input_send_keyboard_event(m_instance->input, flags, scancode);
}

void RdpProbe::sendUnicode(quint16 codeUnit, bool down)
{
    freerdp_input_send_unicode_keyboard_event(m_instance->input, down ? 0 : KBD_FLAGS_RELEASE, codeUnit);
}

void RdpProbe::sendSynchronize(quint32 lockFlags)
{
    freerdp_input_send_synchronize_event(m_instance->input, lockFlags);
}

void RdpProbe::sendMouse(quint16 flags, int x, int y)
{
    freerdp_input_send_mouse_event(m_instance->input, flags, UINT16(x), UINT16(y));
}
