#include "qzshare.h"

#include "common/qzchannel.h"

#include <winpr/string.h>

#include <cstdlib>
#include <cstring>

namespace {

UINT qzshare_start_sharing(QzshareClientContext* context, const char* password)
{
    qzchannel_send_from(context, qzshare_encode_start_sharing(password));
    return 1;
}

UINT qzshare_end_sharing(QzshareClientContext* context)
{
    qzchannel_send_from(context, qzshare_encode_end_sharing());
    return 1;
}

UINT qzshare_kick_user(QzshareClientContext* context, UINT32 clientId)
{
    qzchannel_send_from(context, qzshare_encode_kick_user(clientId));
    return 1;
}

UINT qzshare_give_control(QzshareClientContext* context, UINT32 clientId)
{
    qzchannel_send_from(context, qzshare_encode_give_control(clientId));
    return 1;
}

void qzshare_fill_operations(void* iface)
{
    auto* context = static_cast<QzshareClientContext*>(iface);
    context->StartSharing = qzshare_start_sharing;
    context->EndSharing = qzshare_end_sharing;
    context->KickUser = qzshare_kick_user;
    context->GiveControl = qzshare_give_control;
}

QzDispatchResult qzshare_dispatch(QzChannelPlugin* plugin, UINT16 type, const BYTE* payload, size_t length)
{
    auto* context = static_cast<QzshareClientContext*>(qzchannel_interface(plugin));
    switch (type) {
    case QZSHARE_CLIENT_ID:
    case QZSHARE_DISCONNECT_INFO: {
        UINT32 value = 0;
        if (!qzshare_decode_u32(payload, length, &value))
            return QzDispatchResult::Short;
        QzshareClientIdOperation callback = nullptr;
        if (context)
            callback = type == QZSHARE_CLIENT_ID ? context->ClientId : context->DisconnectInfo;
        if (callback)
            callback(context, value);
        return QzDispatchResult::Handled;
    }
    case QZSHARE_SERVER_STATUS: {
        QzshareServerStatus status = {};
        if (!qzshare_decode_server_status(payload, length, &status))
            return QzDispatchResult::Short;
        if (status.truncated)
            WLog_Print(qzchannel_log(plugin), WLOG_ERROR, "exceeded stream length while reading client name");
        if (context && context->ServerStatus)
            context->ServerStatus(context, status.sharing, status.participants, status.count);
        qzshare_server_status_free(&status);
        return QzDispatchResult::Handled;
    }
    case QZSHARE_MOUSE_EVENT: {
        UINT16 x = 0;
        UINT16 y = 0;
        UINT32 flags = 0;
        if (!qzshare_decode_mouse_event(payload, length, &x, &y, &flags))
            return QzDispatchResult::Short;
        if (context && context->MouseEvent)
            context->MouseEvent(context, x, y, flags);
        return QzDispatchResult::Handled;
    }
    default:
        return QzDispatchResult::Unknown;
    }
}

const QzChannelKind qzshareKind = {
    QZSHARE_CHANNEL_NAME,
    "com.talvene.zentu.channels.qzshare",
    sizeof(QzshareClientContext),
    qzshare_fill_operations,
    qzshare_dispatch,
};

wStream* encodeClientId(UINT16 type, UINT32 clientId)
{
    wStream* s = qzchannel_message_new(type, 4);
    if (!s)
        return nullptr;
    Stream_Write_UINT32(s, clientId);
    return qzchannel_message_finish(s);
}

// A UTF-16LE name of units code units (unaligned in the message) as UTF-8;
// an empty string when it does not convert.
char* nameToUtf8(const BYTE* data, size_t units)
{
    auto* wide = static_cast<WCHAR*>(calloc(units + 1, sizeof(WCHAR)));
    char* name = nullptr;
    if (wide) {
        for (size_t i = 0; i < units; ++i)
            wide[i] = WCHAR(data[2 * i] | (data[2 * i + 1] << 8));
        if (ConvertFromUnicode(CP_UTF8, 0, wide, -1, &name, 0, nullptr, nullptr) <= 0) {
            free(name);
            name = nullptr;
        }
        free(wide);
    }
    return name ? name : static_cast<char*>(calloc(1, 1));
}

} // namespace

BOOL VCAPITYPE qzshare_VirtualChannelEntryEx(PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle)
{
    return qzchannel_entry(&qzshareKind, entryPoints, initHandle);
}

wStream* qzshare_encode_start_sharing(const char* password)
{
    WCHAR* wide = nullptr;
    const int units = ConvertToUnicode(CP_UTF8, 0, password ? password : "", -1, &wide, 0);
    wStream* s = units > 0 ? qzchannel_message_new(QZSHARE_START_SHARING, size_t(units) * 2) : nullptr;
    if (s) {
        // The converted text ends with its 16-bit terminator.
        for (int i = 0; i < units; ++i)
            Stream_Write_UINT16(s, UINT16(wide[i]));
        qzchannel_message_finish(s);
    }
    if (wide) {
        memset(wide, 0, size_t(units > 0 ? units : 0) * sizeof(WCHAR));
        free(wide);
    }
    return s;
}

wStream* qzshare_encode_end_sharing()
{
    return qzchannel_message_finish(qzchannel_message_new(QZSHARE_END_SHARING, 0));
}

wStream* qzshare_encode_kick_user(UINT32 clientId)
{
    return encodeClientId(QZSHARE_KICK_USER, clientId);
}

wStream* qzshare_encode_give_control(UINT32 clientId)
{
    return encodeClientId(QZSHARE_GIVE_CONTROL, clientId);
}

bool qzshare_decode_u32(const BYTE* payload, size_t length, UINT32* value)
{
    QzReader reader{payload, length};
    return reader.u32(value);
}

bool qzshare_decode_mouse_event(const BYTE* payload, size_t length, UINT16* x, UINT16* y, UINT32* flags)
{
    QzReader reader{payload, length};
    return reader.u16(x) && reader.u16(y) && reader.u32(flags);
}

bool qzshare_decode_server_status(const BYTE* payload, size_t length, QzshareServerStatus* status)
{
    *status = {};
    QzReader reader{payload, length};
    if (!reader.u8(&status->sharing))
        return false;
    UINT32 room = 0;
    // An entry takes at least 8 bytes: id, flags and the name's terminator.
    while (reader.left >= 8) {
        if (status->count == room) {
            room += 4;
            auto* grown = static_cast<QzshareParticipant*>(
                realloc(status->participants, room * sizeof(QzshareParticipant)));
            if (!grown)
                break;
            status->participants = grown;
        }
        QzshareParticipant& entry = status->participants[status->count];
        reader.u32(&entry.id);
        reader.u16(&entry.flags);
        size_t units = 0;
        while (2 * units + 1 < reader.left && (reader.data[2 * units] | reader.data[2 * units + 1]) != 0)
            ++units;
        ++status->count;
        if (2 * units + 1 >= reader.left) {
            entry.name = static_cast<char*>(calloc(1, 1));
            status->truncated = true;
            break;
        }
        entry.name = nameToUtf8(reader.data, units);
        reader.data += 2 * units + 2;
        reader.left -= 2 * units + 2;
    }
    return true;
}

void qzshare_server_status_free(QzshareServerStatus* status)
{
    for (UINT32 i = 0; i < status->count; ++i)
        free(status->participants[i].name);
    free(status->participants);
    *status = {};
}
