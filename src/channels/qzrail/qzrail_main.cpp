#include "qzrail.h"

#include "common/qzchannel.h"

namespace {

UINT qzrail_window_activate(QzrailClientContext* context, UINT32 windowId)
{
    qzchannel_send_from(context, qzrail_encode_window_activate(windowId));
    return 1;
}

UINT qzrail_window_zorder(QzrailClientContext* context, UINT32 windowId, UINT32 otherId)
{
    qzchannel_send_from(context, qzrail_encode_window_zorder(windowId, otherId));
    return 1;
}

UINT qzrail_window_raise(QzrailClientContext* context, UINT32 windowId)
{
    qzchannel_send_from(context, qzrail_encode_window_raise(windowId));
    return 1;
}

UINT qzrail_window_geometry(QzrailClientContext* context, UINT32 windowId, INT32 left, INT32 top, INT32 right,
                            INT32 bottom)
{
    qzchannel_send_from(context, qzrail_encode_window_geometry(windowId, left, top, right, bottom));
    return 1;
}

UINT qzrail_monitor_layout(QzrailClientContext* context, UINT32 count, const QzrailMonitor* monitors)
{
    qzchannel_send_from(context, qzrail_encode_monitor_layout(count, monitors));
    return 1;
}

void qzrail_fill_operations(void* iface)
{
    auto* context = static_cast<QzrailClientContext*>(iface);
    context->WindowActivate = qzrail_window_activate;
    context->WindowZOrder = qzrail_window_zorder;
    context->WindowRaise = qzrail_window_raise;
    context->WindowGeometry = qzrail_window_geometry;
    context->MonitorLayout = qzrail_monitor_layout;
}

QzDispatchResult qzrail_dispatch(QzChannelPlugin*, UINT16, const BYTE*, size_t)
{
    return QzDispatchResult::Unknown;
}

const QzChannelKind qzrailKind = {
    QZRAIL_CHANNEL_NAME,
    "com.talvene.zentu.channels.qzrail",
    sizeof(QzrailClientContext),
    qzrail_fill_operations,
    qzrail_dispatch,
};

wStream* encodeIds(UINT16 type, UINT32 windowId, const UINT32* more, size_t moreCount)
{
    wStream* s = qzchannel_message_new(type, 4 * (1 + moreCount));
    if (!s)
        return nullptr;
    Stream_Write_UINT32(s, windowId);
    for (size_t i = 0; i < moreCount; ++i)
        Stream_Write_UINT32(s, more[i]);
    return qzchannel_message_finish(s);
}

} // namespace

BOOL VCAPITYPE qzrail_VirtualChannelEntryEx(PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle)
{
    return qzchannel_entry(&qzrailKind, entryPoints, initHandle);
}

wStream* qzrail_encode_window_activate(UINT32 windowId)
{
    return encodeIds(QZRAIL_WINDOW_ACTIVATE, windowId, nullptr, 0);
}

wStream* qzrail_encode_window_zorder(UINT32 windowId, UINT32 otherId)
{
    return encodeIds(QZRAIL_WINDOW_ZORDER, windowId, &otherId, 1);
}

wStream* qzrail_encode_window_raise(UINT32 windowId)
{
    return encodeIds(QZRAIL_WINDOW_RAISE, windowId, nullptr, 0);
}

wStream* qzrail_encode_window_geometry(UINT32 windowId, INT32 left, INT32 top, INT32 right, INT32 bottom)
{
    const UINT32 edges[4] = {UINT32(left), UINT32(top), UINT32(right), UINT32(bottom)};
    return encodeIds(QZRAIL_WINDOW_GEOMETRY, windowId, edges, 4);
}

wStream* qzrail_encode_monitor_layout(UINT32 count, const QzrailMonitor* monitors)
{
    if (!monitors || count > QZRAIL_MAX_MONITORS)
        count = monitors ? QZRAIL_MAX_MONITORS : 0;
    wStream* s = qzchannel_message_new(QZRAIL_MONITOR_LAYOUT, 4 + 8 * size_t(count));
    if (!s)
        return nullptr;
    Stream_Write_UINT32(s, count);
    for (UINT32 i = 0; i < count; ++i) {
        Stream_Write_UINT16(s, monitors[i].left);
        Stream_Write_UINT16(s, monitors[i].top);
        Stream_Write_UINT16(s, monitors[i].right);
        Stream_Write_UINT16(s, monitors[i].bottom);
    }
    return qzchannel_message_finish(s);
}
