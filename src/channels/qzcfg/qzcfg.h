#pragma once

// The options channel: the server reports its image quality, frame rate and
// frame acknowledgement options as JSON text and answers the client's
// changes to them.

#include <freerdp/svc.h>
#include <winpr/stream.h>

#include <cstddef>

#define QZCFG_CHANNEL_NAME "qzcfg"

enum : UINT16 {
    QZCFG_OPTIONS_UPDATED_NOTIFY = 1,
    QZCFG_SET_OPTIONS = 2,
    QZCFG_SET_OPTIONS_RESPONSE = 3,
};

struct QzcfgClientContext;
// Text is UTF-8 JSON, zero-terminated.
typedef UINT (*QzcfgText)(QzcfgClientContext* context, const char* text);

struct QzcfgClientContext
{
    void* handle;
    void* custom;
    QzcfgText OptionsUpdatedNotify;
    QzcfgText SendOptions;
    QzcfgText SetOptionsResponse;
};

BOOL VCAPITYPE qzcfg_VirtualChannelEntryEx(PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle);

// The text's bytes without a terminator.
wStream* qzcfg_encode_set_options(const char* text);
// The whole payload as a zero-terminated copy (free it with free()); null
// when out of memory.
char* qzcfg_decode_text(const BYTE* payload, size_t length);
