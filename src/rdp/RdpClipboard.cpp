#include "RdpClipboard.h"

#include "RdpClientContext.h"
#include "RdpInstance.h"

#include <common/handover.h>

#include <QByteArray>
#include <QList>
#include <QMetaObject>

#include <limits>

namespace {

// These run on the clipboard channel's thread and hand the message to the
// instance's slot as a queued call. The channel's messages reach that thread
// through the library's queue only after install has set the interface up.
template <typename... Args>
void forwardToInstance(CliprdrClientContext* cliprdr, const char* slot, Args... args)
{
    HandOver::acquire(cliprdr);
    RdpInstance* instance = static_cast<RdpClientContext*>(cliprdr->custom)->instance;
    HandOver::post(instance, [&] { QMetaObject::invokeMethod(instance, slot, Qt::QueuedConnection, args...); });
}

UINT RdpInstanceCliprdrMonitorReady(CliprdrClientContext* cliprdr, const CLIPRDR_MONITOR_READY*)
{
    forwardToInstance(cliprdr, "handleCliprdrMonitorReady");
    return CHANNEL_RC_OK;
}

UINT RdpInstanceCliprdrServerFormatList(CliprdrClientContext* cliprdr, const CLIPRDR_FORMAT_LIST* list)
{
    QList<unsigned long> formats;
    for (UINT32 i = 0; i < list->numFormats; ++i)
        formats.append(list->formats[i].formatId);
    forwardToInstance(cliprdr, "handleCliprdrServerFormatList", Q_ARG(QList<unsigned long>, formats));
    return CHANNEL_RC_OK;
}

UINT RdpInstanceCliprdrServerFormatListResponse(CliprdrClientContext*, const CLIPRDR_FORMAT_LIST_RESPONSE*)
{
    return CHANNEL_RC_OK;
}

UINT RdpInstanceCliprdrServerFormatDataRequest(CliprdrClientContext* cliprdr,
                                               const CLIPRDR_FORMAT_DATA_REQUEST* request)
{
    forwardToInstance(cliprdr, "handleCliprdrServerFormatDataRequest",
                      Q_ARG(unsigned long, request->requestedFormatId));
    return CHANNEL_RC_OK;
}

UINT RdpInstanceCliprdrServerFormatDataResponse(CliprdrClientContext* cliprdr,
                                                const CLIPRDR_FORMAT_DATA_RESPONSE* response)
{
    QByteArray data;
    // A length past what QByteArray holds would turn negative and make it
    // read up to the first zero byte instead.
    if (response->requestedFormatData && response->dataLen > 0
        && response->dataLen <= static_cast<UINT32>(std::numeric_limits<int>::max()))
        data = QByteArray(reinterpret_cast<const char*>(response->requestedFormatData),
                          static_cast<int>(response->dataLen));
    forwardToInstance(cliprdr, "handleCliprdrServerFormatDataResponse", Q_ARG(QByteArray, data));
    return CHANNEL_RC_OK;
}

} // namespace

namespace RdpClipboard {

void install(RdpClientContext* context, CliprdrClientContext* cliprdr)
{
    cliprdr->custom = context;
    cliprdr->MonitorReady = RdpInstanceCliprdrMonitorReady;
    cliprdr->ServerFormatList = RdpInstanceCliprdrServerFormatList;
    cliprdr->ServerFormatListResponse = RdpInstanceCliprdrServerFormatListResponse;
    cliprdr->ServerFormatDataRequest = RdpInstanceCliprdrServerFormatDataRequest;
    cliprdr->ServerFormatDataResponse = RdpInstanceCliprdrServerFormatDataResponse;
    HandOver::release(cliprdr);
}

} // namespace RdpClipboard
