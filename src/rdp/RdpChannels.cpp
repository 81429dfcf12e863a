#include "RdpChannels.h"

#include "RdpClientContext.h"
#include "RdpClipboard.h"
#include "RdpInstance.h"
#include "RdpLogging.h"
#include "RdpRailWindows.h"
#include "RdpViewer.h"

#include <freerdp/addin.h>
#include <freerdp/client/channels.h>
#include <freerdp/client/cmdline.h>
#include <freerdp/event.h>

#include <common/handover.h>
#include <qzcfg/qzcfg.h>
#include <qzdesk/qzdesk.h>
#include <qzrail/qzrail.h>
#include <qzshare/qzshare.h>

#include <cstring>

namespace {

struct CustomChannel
{
    enum Mode { Desktop, Rootless, Both };
    const char* name;
    PVIRTUALCHANNELENTRYEX entry;
    Mode mode;
};

// In the order they are loaded: the desktop's size and sharing belong to
// the desktop window, window control to rootless sessions.
const CustomChannel customChannels[] = {
    {QZRAIL_CHANNEL_NAME, qzrail_VirtualChannelEntryEx, CustomChannel::Rootless},
    {QZDESK_CHANNEL_NAME, qzdesk_VirtualChannelEntryEx, CustomChannel::Desktop},
    {QZSHARE_CHANNEL_NAME, qzshare_VirtualChannelEntryEx, CustomChannel::Desktop},
    {QZCFG_CHANNEL_NAME, qzcfg_VirtualChannelEntryEx, CustomChannel::Both},
};

// The add-in provider: our own channels by name, everything else
// (clipboard, rootless windows) from the library's static add-ins. The
// library asks for static channels in the Ex style first.
PVIRTUALCHANNELENTRY RdpInstanceLoadStaticAddinEntry(LPCSTR name, LPCSTR subsystem, LPCSTR type, DWORD flags)
{
    if (name && !subsystem && !type && (flags & FREERDP_ADDIN_CHANNEL_ENTRYEX)) {
        for (const CustomChannel& channel : customChannels) {
            // The library casts an Ex entry back by the flag it asked with.
            if (std::strcmp(name, channel.name) == 0)
                return reinterpret_cast<PVIRTUALCHANNELENTRY>(reinterpret_cast<void (*)()>(channel.entry));
        }
    }
    return freerdp_channels_load_static_addin_entry(name, subsystem, type, flags);
}

// These run on the channels' receive threads: they hand the message to the
// instance's slot as a queued call and never touch widgets. The library
// stops the receive threads before the context goes away.
template <typename Interface, typename... Args>
void forwardToInstance(Interface* channel, const char* slot, Args... args)
{
    auto* context = static_cast<RdpClientContext*>(channel->custom);
    RdpInstance* instance = context ? context->instance : nullptr;
    if (instance)
        HandOver::post(instance, [&] { QMetaObject::invokeMethod(instance, slot, Qt::QueuedConnection, args...); });
}

// The rail channel's thread: the windows answer on the GUI thread, through
// the instance, which outlives the channel threads (the windows do not).
// The server's messages reach that thread through the library's queue only
// after the interface was set up.
UINT RdpInstanceRailServerSystemParam(RailClientContext* rail, const RAIL_SYSPARAM_ORDER*)
{
    HandOver::acquire(rail);
    forwardToInstance(rail, "handleRailServerSystemParam");
    return CHANNEL_RC_OK;
}

UINT RdpInstanceRailServerHandshake(RailClientContext* rail, const RAIL_HANDSHAKE_ORDER*)
{
    HandOver::acquire(rail);
    forwardToInstance(rail, "handleRailServerHandshake");
    return CHANNEL_RC_OK;
}

UINT RdpInstanceQzdeskDesktopResized(QzdeskClientContext* qzdesk, UINT16 width, UINT16 height)
{
    qCDebug(lcRdp) << "desktop resized to" << width << "x" << height;
    forwardToInstance(qzdesk, "handleQzdeskDesktopResized", Q_ARG(QSize, QSize(width, height)));
    return 1;
}

UINT RdpInstanceQzdeskMinMaxInfo(QzdeskClientContext* qzdesk, UINT16 minWidth, UINT16 minHeight, UINT16 maxWidth,
                                 UINT16 maxHeight)
{
    qCDebug(lcRdp) << "desktop sizes from" << minWidth << "x" << minHeight << "to" << maxWidth << "x" << maxHeight;
    forwardToInstance(qzdesk, "handleQzdeskMinMaxInfo", Q_ARG(QSize, QSize(minWidth, minHeight)),
                      Q_ARG(QSize, QSize(maxWidth, maxHeight)));
    return 1;
}

UINT RdpInstanceQzshareClientId(QzshareClientContext* qzshare, UINT32 clientId)
{
    forwardToInstance(qzshare, "handleQzshareClientId", Q_ARG(unsigned long, clientId));
    return 1;
}

UINT RdpInstanceQzshareServerStatus(QzshareClientContext* qzshare, BYTE sharing,
                                    const QzshareParticipant* participants, UINT32 count)
{
    QList<RdpViewer> viewers;
    viewers.reserve(static_cast<int>(count));
    for (UINT32 i = 0; i < count; ++i) {
        const QzshareParticipant& entry = participants[i];
        viewers.append(RdpViewer(entry.id, QString::fromUtf8(entry.name), entry.id == 0, (entry.flags & 3) != 0));
    }
    forwardToInstance(qzshare, "handleQzshareServerStatus", Q_ARG(bool, sharing != 0),
                      Q_ARG(QList<RdpViewer>, viewers));
    return 1;
}

UINT RdpInstanceQzshareDisconnectInfo(QzshareClientContext* qzshare, UINT32 value)
{
    forwardToInstance(qzshare, "handleQzshareDisconnectInfo", Q_ARG(unsigned long, value));
    return 1;
}

UINT RdpInstanceQzshareMouseEvent(QzshareClientContext* qzshare, UINT16 x, UINT16 y, UINT32 flags)
{
    forwardToInstance(qzshare, "handleQzshareMouseEvent", Q_ARG(QPoint, QPoint(x, y)), Q_ARG(unsigned long, flags));
    return 1;
}

UINT RdpInstanceQzcfgOptionsUpdatedNotify(QzcfgClientContext* qzcfg, const char* text)
{
    qCDebug(lcRdp) << "server options" << text;
    forwardToInstance(qzcfg, "handleQzcfgOptionsUpdatedNotify", Q_ARG(QString, QString::fromUtf8(text)));
    return 1;
}

UINT RdpInstanceQzcfgSetOptionsResponse(QzcfgClientContext* qzcfg, const char* text)
{
    forwardToInstance(qzcfg, "handleQzcfgSetOptionsResponse", Q_ARG(QString, QString::fromUtf8(text)));
    return 1;
}

template <typename Event>
bool isChannel(const Event* event, const char* name)
{
    return event->name && std::strcmp(event->name, name) == 0;
}

void RdpInstanceOnChannelConnected(void* data, ChannelConnectedEventArgs* event)
{
    auto* context = static_cast<RdpClientContext*>(data);
    if (isChannel(event, CLIPRDR_SVC_CHANNEL_NAME)) {
        auto* cliprdr = static_cast<CliprdrClientContext*>(event->pInterface);
        RdpClipboard::install(context, cliprdr);
        context->cliprdr = cliprdr;
    } else if (isChannel(event, RAIL_SVC_CHANNEL_NAME)) {
        auto* rail = static_cast<RailClientContext*>(event->pInterface);
        rail->custom = context;
        rail->ServerSystemParam = RdpInstanceRailServerSystemParam;
        rail->ServerHandshake = RdpInstanceRailServerHandshake;
        context->rail = rail;
        HandOver::release(rail);
    } else if (!event->pInterface) {
        // The library's other channels, or one of ours loaded without an interface.
    } else if (isChannel(event, QZDESK_CHANNEL_NAME)) {
        auto* qzdesk = static_cast<QzdeskClientContext*>(event->pInterface);
        qzdesk->custom = context;
        qzdesk->DesktopResized = RdpInstanceQzdeskDesktopResized;
        qzdesk->MinMaxInfo = RdpInstanceQzdeskMinMaxInfo;
        context->qzdesk = qzdesk;
    } else if (isChannel(event, QZRAIL_CHANNEL_NAME)) {
        auto* qzrail = static_cast<QzrailClientContext*>(event->pInterface);
        qzrail->custom = context;
        context->qzrail = qzrail;
    } else if (isChannel(event, QZSHARE_CHANNEL_NAME)) {
        auto* qzshare = static_cast<QzshareClientContext*>(event->pInterface);
        qzshare->custom = context;
        qzshare->ClientId = RdpInstanceQzshareClientId;
        qzshare->ServerStatus = RdpInstanceQzshareServerStatus;
        qzshare->DisconnectInfo = RdpInstanceQzshareDisconnectInfo;
        qzshare->MouseEvent = RdpInstanceQzshareMouseEvent;
        context->qzshare = qzshare;
    } else if (isChannel(event, QZCFG_CHANNEL_NAME)) {
        auto* qzcfg = static_cast<QzcfgClientContext*>(event->pInterface);
        qzcfg->custom = context;
        qzcfg->OptionsUpdatedNotify = RdpInstanceQzcfgOptionsUpdatedNotify;
        qzcfg->SetOptionsResponse = RdpInstanceQzcfgSetOptionsResponse;
        context->qzcfg = qzcfg;
    }
}

// Forgets the custom channel's interface when the event is about it.
template <typename Interface>
void clearInterface(ChannelDisconnectedEventArgs* event, const char* name, Interface*& field)
{
    if (!isChannel(event, name))
        return;
    if (field)
        field->custom = nullptr;
    field = nullptr;
}

void RdpInstanceOnChannelDisconnected(void* data, ChannelDisconnectedEventArgs* event)
{
    auto* context = static_cast<RdpClientContext*>(data);
    if (isChannel(event, CLIPRDR_SVC_CHANNEL_NAME))
        context->cliprdr = nullptr;
    else if (isChannel(event, RAIL_SVC_CHANNEL_NAME))
        context->rail = nullptr;
    clearInterface(event, QZDESK_CHANNEL_NAME, context->qzdesk);
    clearInterface(event, QZRAIL_CHANNEL_NAME, context->qzrail);
    clearInterface(event, QZSHARE_CHANNEL_NAME, context->qzshare);
    clearInterface(event, QZCFG_CHANNEL_NAME, context->qzcfg);
}

} // namespace

namespace RdpChannels {

void load(RdpClientContext* context)
{
    rdpContext* rdp = context->rdp();
    PubSub_SubscribeChannelConnected(rdp->pubSub, RdpInstanceOnChannelConnected);
    PubSub_SubscribeChannelDisconnected(rdp->pubSub, RdpInstanceOnChannelDisconnected);
    freerdp_register_addin_provider(RdpInstanceLoadStaticAddinEntry, 0);
    const CustomChannel::Mode mode = freerdp_settings_get_bool(rdp->settings, FreeRDP_RemoteApplicationMode)
        ? CustomChannel::Rootless
        : CustomChannel::Desktop;
    for (const CustomChannel& channel : customChannels) {
        if (channel.mode != mode && channel.mode != CustomChannel::Both)
            continue;
        char* params[] = {const_cast<char*>(channel.name)};
        if (!freerdp_client_add_static_channel(rdp->settings, 1, params))
            qCWarning(lcRdp) << "cannot add the channel" << channel.name;
    }
    if (!freerdp_client_load_addins(rdp->channels, rdp->settings))
        qCWarning(lcRdp) << "loading the virtual channels failed";
}

} // namespace RdpChannels
