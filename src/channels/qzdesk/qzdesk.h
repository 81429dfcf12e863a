#pragma once

// The desktop channel: the client asks for a desktop size, the server tells
// when its desktop changed size and which sizes it allows.

#include <freerdp/svc.h>
#include <winpr/stream.h>

#include <cstddef>

#define QZDESK_CHANNEL_NAME "qzdesk"

enum : UINT16 {
    QZDESK_DESKTOP_SIZE = 1, // client to server: request; server to client: resized
    QZDESK_MIN_MAX_INFO = 2,
};

struct QzdeskClientContext;
typedef UINT (*QzdeskRequestDesktopSize)(QzdeskClientContext* context, UINT16 width, UINT16 height);
typedef UINT (*QzdeskDesktopResized)(QzdeskClientContext* context, UINT16 width, UINT16 height);
typedef UINT (*QzdeskMinMaxInfo)(QzdeskClientContext* context, UINT16 minWidth, UINT16 minHeight, UINT16 maxWidth,
                                 UINT16 maxHeight);

// Operations are filled by the plug-in, callbacks by the client; callbacks
// run on the channel's receive thread.
struct QzdeskClientContext
{
    void* handle;
    void* custom;
    QzdeskRequestDesktopSize RequestDesktopSize;
    QzdeskDesktopResized DesktopResized;
    QzdeskMinMaxInfo MinMaxInfo;
};

BOOL VCAPITYPE qzdesk_VirtualChannelEntryEx(PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle);

// Messages, without the plug-in: encoders give a finished message, decoders
// read a payload and fail when it is too short.
wStream* qzdesk_encode_desktop_size(UINT16 width, UINT16 height);
bool qzdesk_decode_desktop_resized(const BYTE* payload, size_t length, UINT16* width, UINT16* height);
// Minimum width and height, maximum width and height.
bool qzdesk_decode_min_max_info(const BYTE* payload, size_t length, UINT16 values[4]);
