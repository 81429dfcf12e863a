#pragma once

// The sharing channel: the owner starts and ends sharing, removes
// participants and hands control over; the server reports the local
// client's id, the participants and their pointers.

#include <freerdp/svc.h>
#include <winpr/stream.h>

#include <cstddef>

#define QZSHARE_CHANNEL_NAME "qzshare"

enum : UINT16 {
    QZSHARE_CLIENT_ID = 1,
    QZSHARE_SERVER_STATUS = 2,
    QZSHARE_START_SHARING = 3,
    QZSHARE_END_SHARING = 4,
    QZSHARE_KICK_USER = 5,
    QZSHARE_GIVE_CONTROL = 6,
    QZSHARE_DISCONNECT_INFO = 7,
    QZSHARE_MOUSE_EVENT = 8,
};

struct QzshareParticipant
{
    UINT32 id;
    // Bits 0 and 1: the participant has control.
    UINT16 flags;
    // UTF-8, never null.
    char* name;
};

struct QzshareServerStatus
{
    BYTE sharing;
    QzshareParticipant* participants;
    UINT32 count;
    // The last participant's name ran past the end of the message.
    bool truncated;
};

struct QzshareClientContext;
typedef UINT (*QzshareStartSharing)(QzshareClientContext* context, const char* password);
typedef UINT (*QzshareEndSharing)(QzshareClientContext* context);
typedef UINT (*QzshareClientIdOperation)(QzshareClientContext* context, UINT32 clientId);
typedef UINT (*QzshareServerStatusCallback)(QzshareClientContext* context, BYTE sharing,
                                            const QzshareParticipant* participants, UINT32 count);
typedef UINT (*QzshareMouseEvent)(QzshareClientContext* context, UINT16 x, UINT16 y, UINT32 flags);

struct QzshareClientContext
{
    void* handle;
    void* custom;
    QzshareStartSharing StartSharing;
    QzshareEndSharing EndSharing;
    QzshareClientIdOperation KickUser;
    QzshareClientIdOperation GiveControl;
    QzshareClientIdOperation ClientId;
    void* Reserved;
    QzshareServerStatusCallback ServerStatus;
    QzshareClientIdOperation DisconnectInfo;
    QzshareMouseEvent MouseEvent;
};

BOOL VCAPITYPE qzshare_VirtualChannelEntryEx(PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle);

// The password as UTF-16LE with a 16-bit terminator.
wStream* qzshare_encode_start_sharing(const char* password);
wStream* qzshare_encode_end_sharing();
wStream* qzshare_encode_kick_user(UINT32 clientId);
wStream* qzshare_encode_give_control(UINT32 clientId);
// Client id and disconnect info: one 32-bit value.
bool qzshare_decode_u32(const BYTE* payload, size_t length, UINT32* value);
bool qzshare_decode_mouse_event(const BYTE* payload, size_t length, UINT16* x, UINT16* y, UINT32* flags);
// Fills status (free it with qzshare_server_status_free); false when even
// the sharing flag is missing.
bool qzshare_decode_server_status(const BYTE* payload, size_t length, QzshareServerStatus* status);
void qzshare_server_status_free(QzshareServerStatus* status);
