#pragma once

// The frame shared by the four custom static virtual channels: the Ex entry
// point and what it registers, the channel events, reassembly of chunked
// data, a receive thread per channel fed by a message queue, the 8-byte
// little-endian message header and the send path. A channel adds its name,
// its client interface and the decoding of what the server sends.

#include <freerdp/svc.h>
#include <winpr/stream.h>
#include <winpr/wlog.h>

#include <cstddef>

// Every message: type (u16), zero (u16), payload length (u32), payload.
constexpr size_t QZCHANNEL_HEADER_LENGTH = 8;
// Largest message one channel reassembles; the total the server announces
// is not trusted beyond it.
constexpr size_t QZCHANNEL_MAX_MESSAGE = 16 * 1024 * 1024;

// The first two fields of every channel's client interface.
struct QzChannelInterfaceHead
{
    void* handle;
    void* custom;
};

struct QzChannelPlugin;

enum class QzDispatchResult
{
    Handled,
    Short,
    Unknown,
};

// What one channel adds to the frame.
struct QzChannelKind
{
    const char* name;
    const char* logTag;
    size_t interfaceSize;
    // Fills the client-to-server operations of a fresh interface.
    void (*fillOperations)(void* iface);
    // Decodes one message from the server and calls the interface's callback.
    QzDispatchResult (*dispatch)(QzChannelPlugin* plugin, UINT16 type, const BYTE* payload, size_t length);
};

// The body of every channel's entry point.
BOOL qzchannel_entry(const QzChannelKind* kind, PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle);

// The channel's interface, or null when the library offered none.
void* qzchannel_interface(QzChannelPlugin* plugin);
wLog* qzchannel_log(QzChannelPlugin* plugin);

// A message with the header written and room for payloadLength bytes; the
// payload follows at the stream's position. Null when out of memory.
wStream* qzchannel_message_new(UINT16 type, size_t payloadLength);
// Writes the payload length into the header and seals the stream.
wStream* qzchannel_message_finish(wStream* s);
// Writes a finished message on the channel; takes the stream in every case.
void qzchannel_send(QzChannelPlugin* plugin, wStream* s);
// Sends a message through the interface's plug-in handle.
void qzchannel_send_from(void* iface, wStream* s);

// Bounded little-endian reading of a payload.
struct QzReader
{
    const BYTE* data;
    size_t left;

    bool u8(BYTE* value);
    bool u16(UINT16* value);
    bool u32(UINT32* value);
};
