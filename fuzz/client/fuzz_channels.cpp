// Drives a custom channel's plug-in through its real entry point and open
// event as the RDP library does, with the chunks the server's messages
// arrive in taken from the input: the frame's reassembly and the channel's
// decoding of what the server sends.
//
// Input: one byte choosing the channel (qzdesk, qzshare, qzcfg, or qzrail,
// on which the server sends nothing), then chunk records of flags byte,
// 16-bit total, data length byte and data. Flag bits: 0 first, 1 last,
// 2 suspend, 3 total scaled past the largest message.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <winpr/wlog.h>

#include "qzcfg/qzcfg.h"
#include "qzdesk/qzdesk.h"
#include "qzrail/qzrail.h"
#include "qzshare/qzshare.h"

namespace {

// Touches what a callback got, so that the sanitizers see every byte of it.
volatile size_t sink;

UINT deskResized(QzdeskClientContext*, UINT16 width, UINT16 height)
{
    sink = width + height;
    return CHANNEL_RC_OK;
}

UINT deskMinMax(QzdeskClientContext*, UINT16 minWidth, UINT16 minHeight, UINT16 maxWidth, UINT16 maxHeight)
{
    sink = minWidth + minHeight + maxWidth + maxHeight;
    return CHANNEL_RC_OK;
}

UINT shareId(QzshareClientContext*, UINT32 id)
{
    sink = id;
    return CHANNEL_RC_OK;
}

UINT shareStatus(QzshareClientContext*, BYTE sharing, const QzshareParticipant* participants, UINT32 count)
{
    size_t total = sharing;
    for (UINT32 i = 0; i < count; ++i) {
        if (!participants[i].name)
            std::abort();
        total += participants[i].id + participants[i].flags + strlen(participants[i].name);
    }
    sink = total;
    return CHANNEL_RC_OK;
}

UINT shareMouse(QzshareClientContext*, UINT16 x, UINT16 y, UINT32 flags)
{
    sink = x + y + flags;
    return CHANNEL_RC_OK;
}

UINT cfgText(QzcfgClientContext*, const char* text)
{
    sink = strlen(text);
    return CHANNEL_RC_OK;
}

// The library's side of one channel; the init handle is the fake itself.
struct Library
{
    CHANNEL_ENTRY_POINTS_FREERDP_EX points = {};
    LPVOID userParam = nullptr;
    void* iface = nullptr;
    PCHANNEL_INIT_EVENT_EX_FN initEvent = nullptr;
    PCHANNEL_OPEN_EVENT_EX_FN openEvent = nullptr;
    DWORD openHandle = 7;

    static Library* self(LPVOID initHandle) { return static_cast<Library*>(initHandle); }
    static UINT VCAPITYPE init(LPVOID userParam, LPVOID clientContext, LPVOID initHandle, PCHANNEL_DEF, INT, ULONG,
                               PCHANNEL_INIT_EVENT_EX_FN event)
    {
        self(initHandle)->userParam = userParam;
        self(initHandle)->iface = clientContext;
        self(initHandle)->initEvent = event;
        return CHANNEL_RC_OK;
    }
    static UINT VCAPITYPE open(LPVOID initHandle, LPDWORD openHandle, PCHAR, PCHANNEL_OPEN_EVENT_EX_FN event)
    {
        self(initHandle)->openEvent = event;
        *openHandle = self(initHandle)->openHandle;
        return CHANNEL_RC_OK;
    }
    static UINT VCAPITYPE close(LPVOID, DWORD) { return CHANNEL_RC_OK; }
    static UINT VCAPITYPE write(LPVOID, DWORD, LPVOID, ULONG, LPVOID) { return CHANNEL_RC_NOT_CONNECTED; }

    Library()
    {
        points.cbSize = sizeof(points);
        points.protocolVersion = VIRTUAL_CHANNEL_VERSION_WIN2000;
        points.pVirtualChannelInitEx = init;
        points.pVirtualChannelOpenEx = open;
        points.pVirtualChannelCloseEx = close;
        points.pVirtualChannelWriteEx = write;
        points.MagicNumber = FREERDP_CHANNEL_MAGIC_NUMBER;
    }
    void event(UINT event) { initEvent(userParam, this, event, nullptr, 0); }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    WLog_SetLogLevel(WLog_GetRoot(), WLOG_OFF);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    Library library;
    bool loaded = false;
    switch (data[0] % 4) {
    case 0:
        loaded = qzdesk_VirtualChannelEntryEx(reinterpret_cast<PCHANNEL_ENTRY_POINTS_EX>(&library.points), &library);
        if (loaded) {
            auto* desk = static_cast<QzdeskClientContext*>(library.iface);
            desk->DesktopResized = deskResized;
            desk->MinMaxInfo = deskMinMax;
        }
        break;
    case 1:
        loaded = qzshare_VirtualChannelEntryEx(reinterpret_cast<PCHANNEL_ENTRY_POINTS_EX>(&library.points), &library);
        if (loaded) {
            auto* share = static_cast<QzshareClientContext*>(library.iface);
            share->ClientId = shareId;
            share->ServerStatus = shareStatus;
            share->DisconnectInfo = shareId;
            share->MouseEvent = shareMouse;
        }
        break;
    case 2:
        loaded = qzcfg_VirtualChannelEntryEx(reinterpret_cast<PCHANNEL_ENTRY_POINTS_EX>(&library.points), &library);
        if (loaded) {
            auto* cfg = static_cast<QzcfgClientContext*>(library.iface);
            cfg->OptionsUpdatedNotify = cfgText;
            cfg->SetOptionsResponse = cfgText;
        }
        break;
    default:
        loaded = qzrail_VirtualChannelEntryEx(reinterpret_cast<PCHANNEL_ENTRY_POINTS_EX>(&library.points), &library);
        break;
    }
    if (!loaded || !library.iface)
        std::abort();
    library.event(CHANNEL_EVENT_CONNECTED);

    size_t position = 1;
    while (size - position >= 4) {
        const uint8_t bits = data[position];
        UINT32 flags = 0;
        if (bits & 1)
            flags |= CHANNEL_FLAG_FIRST;
        if (bits & 2)
            flags |= CHANNEL_FLAG_LAST;
        if (bits & 4)
            flags |= CHANNEL_FLAG_SUSPEND;
        UINT32 total = UINT32(data[position + 1]) | UINT32(data[position + 2]) << 8;
        if (bits & 8)
            total <<= 12;
        const size_t length = std::min<size_t>(data[position + 3], size - position - 4);
        position += 4;
        library.openEvent(library.userParam, library.openHandle, CHANNEL_EVENT_DATA_RECEIVED,
                          const_cast<uint8_t*>(data + position), UINT32(length), total, flags);
        position += length;
    }
    // Waits for the receive thread to have handled every message.
    library.event(CHANNEL_EVENT_DISCONNECTED);
    library.event(CHANNEL_EVENT_TERMINATED);
    return 0;
}
