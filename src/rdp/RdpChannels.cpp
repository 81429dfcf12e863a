#include "RdpChannels.h"

#include "RdpClientContext.h"
#include "RdpClipboard.h"
#include "RdpLogging.h"

#include <freerdp/addin.h>
#include <freerdp/client/channels.h>
#include <freerdp/client/cmdline.h>
#include <freerdp/event.h>

#include <cstring>

namespace {

// The add-in provider: every channel this client loads (clipboard,
// rootless windows) is one of the library's static add-ins.
PVIRTUALCHANNELENTRY RdpInstanceLoadStaticAddinEntry(LPCSTR name, LPCSTR subsystem, LPCSTR type, DWORD flags)
{
    return freerdp_channels_load_static_addin_entry(name, subsystem, type, flags);
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
        context->rail = rail;
    }
}

void RdpInstanceOnChannelDisconnected(void* data, ChannelDisconnectedEventArgs* event)
{
    auto* context = static_cast<RdpClientContext*>(data);
    if (isChannel(event, CLIPRDR_SVC_CHANNEL_NAME))
        context->cliprdr = nullptr;
    else if (isChannel(event, RAIL_SVC_CHANNEL_NAME))
        context->rail = nullptr;
}

} // namespace

namespace RdpChannels {

void load(RdpClientContext* context)
{
    rdpContext* rdp = context->rdp();
    PubSub_SubscribeChannelConnected(rdp->pubSub, RdpInstanceOnChannelConnected);
    PubSub_SubscribeChannelDisconnected(rdp->pubSub, RdpInstanceOnChannelDisconnected);
    freerdp_register_addin_provider(RdpInstanceLoadStaticAddinEntry, 0);
    if (!freerdp_client_load_addins(rdp->channels, rdp->settings))
        qCWarning(lcRdp) << "loading the virtual channels failed";
}

} // namespace RdpChannels
