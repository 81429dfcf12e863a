#pragma once

// The rootless-window control channel: the client reports activation,
// stacking and geometry of its local windows and the layout of its monitors.
// The server sends nothing on it.

#include <freerdp/svc.h>
#include <winpr/stream.h>

#define QZRAIL_CHANNEL_NAME "qzrail"
// Monitors beyond this many are not sent.
#define QZRAIL_MAX_MONITORS 32

enum : UINT16 {
    QZRAIL_WINDOW_GEOMETRY = 5,
    QZRAIL_WINDOW_RAISE = 6,
    QZRAIL_WINDOW_ZORDER = 7,
    QZRAIL_WINDOW_ACTIVATE = 8,
    QZRAIL_MONITOR_LAYOUT = 9,
};

// A monitor's work area in remote pixels; right and bottom exclusive.
struct QzrailMonitor
{
    UINT16 left;
    UINT16 top;
    UINT16 right;
    UINT16 bottom;
};

struct QzrailClientContext;
typedef UINT (*QzrailWindowActivate)(QzrailClientContext* context, UINT32 windowId);
typedef UINT (*QzrailWindowZOrder)(QzrailClientContext* context, UINT32 windowId, UINT32 otherId);
typedef UINT (*QzrailWindowRaise)(QzrailClientContext* context, UINT32 windowId);
// Right and bottom exclusive.
typedef UINT (*QzrailWindowGeometry)(QzrailClientContext* context, UINT32 windowId, INT32 left, INT32 top,
                                     INT32 right, INT32 bottom);
typedef UINT (*QzrailMonitorLayout)(QzrailClientContext* context, UINT32 count, const QzrailMonitor* monitors);

struct QzrailClientContext
{
    void* handle;
    void* custom;
    QzrailWindowActivate WindowActivate;
    QzrailWindowZOrder WindowZOrder;
    QzrailWindowRaise WindowRaise;
    QzrailWindowGeometry WindowGeometry;
    QzrailMonitorLayout MonitorLayout;
};

BOOL VCAPITYPE qzrail_VirtualChannelEntryEx(PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle);

wStream* qzrail_encode_window_activate(UINT32 windowId);
wStream* qzrail_encode_window_zorder(UINT32 windowId, UINT32 otherId);
wStream* qzrail_encode_window_raise(UINT32 windowId);
wStream* qzrail_encode_window_geometry(UINT32 windowId, INT32 left, INT32 top, INT32 right, INT32 bottom);
// Sends the first QZRAIL_MAX_MONITORS records and the count it sends.
wStream* qzrail_encode_monitor_layout(UINT32 count, const QzrailMonitor* monitors);
