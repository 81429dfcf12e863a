#include "qzcfg.h"

#include "common/qzchannel.h"

#include <cstdlib>
#include <cstring>

namespace {

UINT qzcfg_send_options(QzcfgClientContext* context, const char* text)
{
    qzchannel_send_from(context, qzcfg_encode_set_options(text));
    return 1;
}

void qzcfg_fill_operations(void* iface)
{
    static_cast<QzcfgClientContext*>(iface)->SendOptions = qzcfg_send_options;
}

QzDispatchResult qzcfg_dispatch(QzChannelPlugin* plugin, UINT16 type, const BYTE* payload, size_t length)
{
    if (type != QZCFG_OPTIONS_UPDATED_NOTIFY && type != QZCFG_SET_OPTIONS_RESPONSE)
        return QzDispatchResult::Unknown;
    auto* context = static_cast<QzcfgClientContext*>(qzchannel_interface(plugin));
    QzcfgText callback = nullptr;
    if (context)
        callback = type == QZCFG_OPTIONS_UPDATED_NOTIFY ? context->OptionsUpdatedNotify : context->SetOptionsResponse;
    if (!callback)
        return QzDispatchResult::Handled;
    char* text = qzcfg_decode_text(payload, length);
    if (!text) {
        WLog_Print(qzchannel_log(plugin), WLOG_ERROR, "no memory for %zu bytes of options", length);
        return QzDispatchResult::Handled;
    }
    callback(context, text);
    free(text);
    return QzDispatchResult::Handled;
}

const QzChannelKind qzcfgKind = {
    QZCFG_CHANNEL_NAME,
    "com.talvene.zentu.channels.qzcfg",
    sizeof(QzcfgClientContext),
    qzcfg_fill_operations,
    qzcfg_dispatch,
};

} // namespace

BOOL VCAPITYPE qzcfg_VirtualChannelEntryEx(PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle)
{
    return qzchannel_entry(&qzcfgKind, entryPoints, initHandle);
}

wStream* qzcfg_encode_set_options(const char* text)
{
    const size_t length = text ? strlen(text) : 0;
    wStream* s = qzchannel_message_new(QZCFG_SET_OPTIONS, length);
    if (!s)
        return nullptr;
    Stream_Write(s, text, length);
    return qzchannel_message_finish(s);
}

char* qzcfg_decode_text(const BYTE* payload, size_t length)
{
    auto* text = static_cast<char*>(malloc(length + 1));
    if (!text)
        return nullptr;
    if (length > 0)
        memcpy(text, payload, length);
    text[length] = '\0';
    return text;
}
