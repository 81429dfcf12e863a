#include "qzchannel.h"

#include "handover.h"

#include <winpr/collections.h>
#include <winpr/synch.h>
#include <winpr/thread.h>
#include <winpr/wtsapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

// One channel of one connection. Every library event carries it as the
// user parameter given to the init call, so no table shared by connections
// is needed to find it.
struct QzChannelPlugin
{
    CHANNEL_DEF channelDef;
    CHANNEL_ENTRY_POINTS_FREERDP_EX entryPoints;
    const QzChannelKind* kind;
    void* iface;
    wLog* log;
    HANDLE thread;
    // The message being reassembled, its announced total, and whether the
    // rest of a refused message is being skipped.
    wStream* dataIn;
    size_t dataInTotal;
    bool skipping;
    void* initHandle;
    DWORD openHandle;
    bool open;
    wMessageQueue* queue;
};

namespace {

constexpr UINT32 ChannelOptions = CHANNEL_OPTION_INITIALIZED | CHANNEL_OPTION_ENCRYPT_RDP
    | CHANNEL_OPTION_COMPRESS_RDP | CHANNEL_OPTION_SHOW_PROTOCOL;

wLog* frameLog()
{
    return WLog_Get("com.talvene.zentu.channels");
}

void handleMessage(QzChannelPlugin* plugin, wStream* s)
{
    const size_t length = Stream_Length(s);
    if (length < QZCHANNEL_HEADER_LENGTH) {
        WLog_Print(plugin->log, WLOG_ERROR, "message of %zu bytes is shorter than its header", length);
        return;
    }
    UINT16 type = 0;
    Stream_Read_UINT16(s, type);
    // The length field is not compared: the library has framed the message.
    const BYTE* payload = Stream_Buffer(s) + QZCHANNEL_HEADER_LENGTH;
    switch (plugin->kind->dispatch(plugin, type, payload, length - QZCHANNEL_HEADER_LENGTH)) {
    case QzDispatchResult::Handled:
        break;
    case QzDispatchResult::Short:
        WLog_Print(plugin->log, WLOG_ERROR, "msgType %d with %zu payload bytes is too short", int(type),
                   length - QZCHANNEL_HEADER_LENGTH);
        break;
    case QzDispatchResult::Unknown:
        WLog_Print(plugin->log, WLOG_ERROR, "unknown msgType %d", int(type));
        break;
    }
}

DWORD WINAPI receiveThread(LPVOID arg)
{
    auto* plugin = static_cast<QzChannelPlugin*>(arg);
    while (MessageQueue_Wait(plugin->queue)) {
        wMessage message = {};
        if (MessageQueue_Peek(plugin->queue, &message, TRUE) <= 0)
            continue;
        HandOver::acquire(plugin);
        if (message.id == WMQ_QUIT)
            break;
        if (message.id == 0) {
            auto* s = static_cast<wStream*>(message.wParam);
            handleMessage(plugin, s);
            Stream_Free(s, TRUE);
        }
    }
    return 0;
}

void dropDataIn(QzChannelPlugin* plugin)
{
    if (plugin->dataIn)
        Stream_Free(plugin->dataIn, TRUE);
    plugin->dataIn = nullptr;
    plugin->dataInTotal = 0;
}

void receiveChunk(QzChannelPlugin* plugin, const void* data, UINT32 dataLength, UINT32 totalLength,
                  UINT32 flags)
{
    if (flags & (CHANNEL_FLAG_SUSPEND | CHANNEL_FLAG_RESUME))
        return;
    if (flags & CHANNEL_FLAG_FIRST) {
        dropDataIn(plugin);
        plugin->skipping = false;
        if (totalLength > QZCHANNEL_MAX_MESSAGE) {
            WLog_Print(plugin->log, WLOG_ERROR, "message of %u bytes refused", totalLength);
            plugin->skipping = true;
        } else {
            plugin->dataIn = Stream_New(nullptr, std::max<size_t>(totalLength, 1));
            plugin->dataInTotal = totalLength;
            if (!plugin->dataIn) {
                WLog_Print(plugin->log, WLOG_ERROR, "no memory for a message of %u bytes", totalLength);
                plugin->skipping = true;
            }
        }
    }
    if (plugin->skipping || !plugin->dataIn) {
        if (!plugin->skipping)
            WLog_Print(plugin->log, WLOG_ERROR, "chunk outside a message dropped");
        if (flags & CHANNEL_FLAG_LAST)
            plugin->skipping = false;
        return;
    }
    const size_t received = Stream_GetPosition(plugin->dataIn);
    if (dataLength > QZCHANNEL_MAX_MESSAGE - received
        || !Stream_EnsureRemainingCapacity(plugin->dataIn, dataLength)) {
        WLog_Print(plugin->log, WLOG_ERROR, "message of more than %zu bytes refused", received + dataLength);
        dropDataIn(plugin);
        plugin->skipping = !(flags & CHANNEL_FLAG_LAST);
        return;
    }
    Stream_Write(plugin->dataIn, data, dataLength);
    if (!(flags & CHANNEL_FLAG_LAST))
        return;

    wStream* s = plugin->dataIn;
    if (Stream_GetPosition(s) != plugin->dataInTotal)
        WLog_Print(plugin->log, WLOG_ERROR, "%s_plugin_process_received: read error", plugin->channelDef.name);
    plugin->dataIn = nullptr;
    plugin->dataInTotal = 0;
    Stream_SealLength(s);
    Stream_SetPosition(s, 0);
    if (!plugin->queue
        || !HandOver::post(plugin, [&] { return MessageQueue_Post(plugin->queue, nullptr, 0, s, nullptr); })) {
        WLog_Print(plugin->log, WLOG_ERROR, "message lost: no receive queue");
        Stream_Free(s, TRUE);
    }
}

VOID VCAPITYPE openEvent(LPVOID userParam, DWORD openHandle, UINT event, LPVOID data, UINT32 dataLength,
                         UINT32 totalLength, UINT32 dataFlags)
{
    auto* plugin = static_cast<QzChannelPlugin*>(userParam);
    if (event == CHANNEL_EVENT_WRITE_COMPLETE || event == CHANNEL_EVENT_WRITE_CANCELLED) {
        // The user data of every write is the stream that holds the data.
        Stream_Free(static_cast<wStream*>(data), TRUE);
        return;
    }
    if (!plugin || !plugin->open || plugin->openHandle != openHandle) {
        WLog_Print(frameLog(), WLOG_ERROR, "%s_virtual_channel_open_event: error no match",
                   plugin ? plugin->channelDef.name : "qz");
        return;
    }
    if (event == CHANNEL_EVENT_DATA_RECEIVED)
        receiveChunk(plugin, data, dataLength, totalLength, dataFlags);
}

void connectChannel(QzChannelPlugin* plugin)
{
    const UINT rc = plugin->entryPoints.pVirtualChannelOpenEx(plugin->initHandle, &plugin->openHandle,
                                                              plugin->channelDef.name, openEvent);
    if (rc != CHANNEL_RC_OK) {
        WLog_Print(plugin->log, WLOG_ERROR, "pVirtualChannelOpenEx failed with %s [%08X]", WTSErrorToString(rc),
                   rc);
        return;
    }
    plugin->open = true;
    plugin->queue = MessageQueue_New(nullptr);
    if (plugin->queue)
        plugin->thread = CreateThread(nullptr, 0, receiveThread, plugin, 0, nullptr);
    if (!plugin->thread)
        WLog_Print(plugin->log, WLOG_ERROR, "no receive thread: messages from the server are lost");
}

// Returns once the receive thread has ended.
void disconnectChannel(QzChannelPlugin* plugin)
{
    if (plugin->thread) {
        MessageQueue_PostQuit(plugin->queue, 0);
        WaitForSingleObject(plugin->thread, INFINITE);
        CloseHandle(plugin->thread);
        plugin->thread = nullptr;
    }
    if (plugin->queue) {
        wMessage message = {};
        while (MessageQueue_Peek(plugin->queue, &message, TRUE) > 0) {
            if (message.id == 0)
                Stream_Free(static_cast<wStream*>(message.wParam), TRUE);
        }
        MessageQueue_Free(plugin->queue);
        plugin->queue = nullptr;
    }
    if (plugin->open) {
        const UINT rc = plugin->entryPoints.pVirtualChannelCloseEx(plugin->initHandle, plugin->openHandle);
        if (rc != CHANNEL_RC_OK)
            WLog_Print(plugin->log, WLOG_ERROR, "pVirtualChannelCloseEx failed with %s [%08X]",
                       WTSErrorToString(rc), rc);
        plugin->open = false;
        plugin->openHandle = 0;
    }
    dropDataIn(plugin);
    plugin->skipping = false;
}

void freePlugin(QzChannelPlugin* plugin)
{
    free(plugin->iface);
    free(plugin);
}

VOID VCAPITYPE initEvent(LPVOID userParam, LPVOID initHandle, UINT event, LPVOID, UINT)
{
    auto* plugin = static_cast<QzChannelPlugin*>(userParam);
    if (!plugin || plugin->initHandle != initHandle) {
        WLog_Print(frameLog(), WLOG_ERROR, "%s_virtual_channel_init_event: error no match",
                   plugin ? plugin->channelDef.name : "qz");
        return;
    }
    switch (event) {
    case CHANNEL_EVENT_CONNECTED:
        if (!plugin->open)
            connectChannel(plugin);
        break;
    case CHANNEL_EVENT_DISCONNECTED:
        disconnectChannel(plugin);
        break;
    case CHANNEL_EVENT_TERMINATED:
        disconnectChannel(plugin);
        freePlugin(plugin);
        break;
    default:
        break;
    }
}

} // namespace

BOOL qzchannel_entry(const QzChannelKind* kind, PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle)
{
    wLog* log = WLog_Get(kind->logTag);
    if (!entryPoints || entryPoints->cbSize < sizeof(CHANNEL_ENTRY_POINTS_EX)) {
        WLog_Print(log, WLOG_ERROR, "entry point structure too small");
        return FALSE;
    }
    auto* plugin = static_cast<QzChannelPlugin*>(calloc(1, sizeof(QzChannelPlugin)));
    if (!plugin)
        return FALSE;
    plugin->kind = kind;
    plugin->log = log;
    strncpy(plugin->channelDef.name, kind->name, sizeof(plugin->channelDef.name) - 1);
    plugin->channelDef.options = ChannelOptions;
    WLog_Print(log, WLOG_DEBUG, "VirtualChannelEntry");

    auto* extended = reinterpret_cast<PCHANNEL_ENTRY_POINTS_FREERDP_EX>(entryPoints);
    memcpy(&plugin->entryPoints, entryPoints,
           std::min<size_t>(entryPoints->cbSize, sizeof(CHANNEL_ENTRY_POINTS_FREERDP_EX)));
    // Only the library's own structure says that it takes a client interface.
    if (entryPoints->cbSize >= sizeof(CHANNEL_ENTRY_POINTS_FREERDP_EX)
        && extended->MagicNumber == FREERDP_CHANNEL_MAGIC_NUMBER) {
        plugin->iface = calloc(1, kind->interfaceSize);
        if (!plugin->iface) {
            free(plugin);
            return FALSE;
        }
        static_cast<QzChannelInterfaceHead*>(plugin->iface)->handle = plugin;
        kind->fillOperations(plugin->iface);
    }
    plugin->initHandle = initHandle;
    const UINT rc = plugin->entryPoints.pVirtualChannelInitEx(plugin, plugin->iface, initHandle, &plugin->channelDef,
                                                              1, VIRTUAL_CHANNEL_VERSION_WIN2000, initEvent);
    if (rc != CHANNEL_RC_OK) {
        WLog_Print(log, WLOG_ERROR, "pVirtualChannelInitEx failed with %s [%08X]", WTSErrorToString(rc), rc);
        freePlugin(plugin);
        return FALSE;
    }
    return TRUE;
}

void* qzchannel_interface(QzChannelPlugin* plugin)
{
    return plugin->iface;
}

wLog* qzchannel_log(QzChannelPlugin* plugin)
{
    return plugin->log;
}

wStream* qzchannel_message_new(UINT16 type, size_t payloadLength)
{
    if (payloadLength > QZCHANNEL_MAX_MESSAGE)
        return nullptr;
    wStream* s = Stream_New(nullptr, payloadLength + QZCHANNEL_HEADER_LENGTH);
    if (!s)
        return nullptr;
    Stream_Write_UINT16(s, type);
    Stream_Write_UINT16(s, 0);
    Stream_Zero(s, 4);
    return s;
}

wStream* qzchannel_message_finish(wStream* s)
{
    if (!s)
        return nullptr;
    const size_t end = Stream_GetPosition(s);
    Stream_SetPosition(s, 4);
    Stream_Write_UINT32(s, UINT32(end - QZCHANNEL_HEADER_LENGTH));
    Stream_SetPosition(s, end);
    Stream_SealLength(s);
    return s;
}

void qzchannel_send(QzChannelPlugin* plugin, wStream* s)
{
    if (!s) {
        WLog_Print(plugin ? plugin->log : frameLog(), WLOG_ERROR, "no memory for a message");
        return;
    }
    const UINT rc = plugin ? plugin->entryPoints.pVirtualChannelWriteEx(plugin->initHandle, plugin->openHandle,
                                                                      Stream_Buffer(s), ULONG(Stream_Length(s)), s)
                           : UINT(CHANNEL_RC_BAD_INIT_HANDLE);
    if (rc != CHANNEL_RC_OK) {
        Stream_Free(s, TRUE);
        WLog_Print(plugin ? plugin->log : frameLog(), WLOG_ERROR, "VirtualChannelWriteEx failed with %s [%08X]",
                   WTSErrorToString(rc), rc);
    }
}

void qzchannel_send_from(void* iface, wStream* s)
{
    auto* head = static_cast<QzChannelInterfaceHead*>(iface);
    qzchannel_send(head ? static_cast<QzChannelPlugin*>(head->handle) : nullptr, s);
}

bool QzReader::u8(BYTE* value)
{
    if (left < 1)
        return false;
    *value = data[0];
    data += 1;
    left -= 1;
    return true;
}

bool QzReader::u16(UINT16* value)
{
    if (left < 2)
        return false;
    *value = UINT16(data[0] | (data[1] << 8));
    data += 2;
    left -= 2;
    return true;
}

bool QzReader::u32(UINT32* value)
{
    if (left < 4)
        return false;
    *value = UINT32(data[0]) | (UINT32(data[1]) << 8) | (UINT32(data[2]) << 16) | (UINT32(data[3]) << 24);
    data += 4;
    left -= 4;
    return true;
}
