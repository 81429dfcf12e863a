#include "qzdesk.h"

#include "common/qzchannel.h"

namespace {

UINT qzdesk_request_desktop_size(QzdeskClientContext* context, UINT16 width, UINT16 height)
{
    qzchannel_send_from(context, qzdesk_encode_desktop_size(width, height));
    return 1;
}

void qzdesk_fill_operations(void* iface)
{
    static_cast<QzdeskClientContext*>(iface)->RequestDesktopSize = qzdesk_request_desktop_size;
}

QzDispatchResult qzdesk_dispatch(QzChannelPlugin* plugin, UINT16 type, const BYTE* payload, size_t length)
{
    auto* context = static_cast<QzdeskClientContext*>(qzchannel_interface(plugin));
    switch (type) {
    case QZDESK_DESKTOP_SIZE: {
        UINT16 width = 0;
        UINT16 height = 0;
        if (!qzdesk_decode_desktop_resized(payload, length, &width, &height))
            return QzDispatchResult::Short;
        if (context && context->DesktopResized)
            context->DesktopResized(context, width, height);
        return QzDispatchResult::Handled;
    }
    case QZDESK_MIN_MAX_INFO: {
        UINT16 values[4] = {};
        if (!qzdesk_decode_min_max_info(payload, length, values))
            return QzDispatchResult::Short;
        if (context && context->MinMaxInfo)
            context->MinMaxInfo(context, values[0], values[1], values[2], values[3]);
        return QzDispatchResult::Handled;
    }
    default:
        return QzDispatchResult::Unknown;
    }
}

const QzChannelKind qzdeskKind = {
    QZDESK_CHANNEL_NAME,
    "com.talvene.zentu.channels.qzdesk",
    sizeof(QzdeskClientContext),
    qzdesk_fill_operations,
    qzdesk_dispatch,
};

} // namespace

BOOL VCAPITYPE qzdesk_VirtualChannelEntryEx(PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle)
{
    return qzchannel_entry(&qzdeskKind, entryPoints, initHandle);
}

wStream* qzdesk_encode_desktop_size(UINT16 width, UINT16 height)
{
    wStream* s = qzchannel_message_new(QZDESK_DESKTOP_SIZE, 4);
    if (!s)
        return nullptr;
    Stream_Write_UINT16(s, width);
    Stream_Write_UINT16(s, height);
    return qzchannel_message_finish(s);
}

bool qzdesk_decode_desktop_resized(const BYTE* payload, size_t length, UINT16* width, UINT16* height)
{
    QzReader reader{payload, length};
    return reader.u16(width) && reader.u16(height);
}

bool qzdesk_decode_min_max_info(const BYTE* payload, size_t length, UINT16 values[4])
{
    QzReader reader{payload, length};
    for (int i = 0; i < 4; ++i) {
        if (!reader.u16(&values[i]))
            return false;
    }
    return true;
}
