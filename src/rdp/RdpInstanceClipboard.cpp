// The clipboard part of RdpInstance: plain text both ways through the
// library's clipboard channel, on the GUI thread.
#include "RdpInstance.h"

#include "RdpClientContext.h"
#include "RdpClipboardCodec.h"
#include "RdpLogging.h"

#include <QApplication>
#include <QX11Info>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

// Whether any X client holds the selection behind mode. Asks the X server
// only, never the owner, so it cannot block on a stalled application.
bool selectionHasOwner(QClipboard::Mode mode)
{
    if (!QX11Info::isPlatformX11())
        return true;
    Display* display = QX11Info::display();
    const Atom selection = mode == QClipboard::Selection
        ? XA_PRIMARY
        : XInternAtom(display, "CLIPBOARD", False);
    return XGetSelectionOwner(display, selection) != None;
}

} // namespace

void RdpInstance::handleCliprdrMonitorReady()
{
    if (!m_context || !m_context->cliprdr)
        return;
    CLIPRDR_GENERAL_CAPABILITY_SET general = {};
    general.capabilitySetType = CB_CAPSTYPE_GENERAL;
    general.capabilitySetLength = CB_CAPSTYPE_GENERAL_LEN;
    general.version = CB_CAPS_VERSION_2;
    general.generalFlags = CB_USE_LONG_FORMAT_NAMES;
    CLIPRDR_CAPABILITIES capabilities = {};
    capabilities.cCapabilitiesSets = 1;
    capabilities.capabilitySets = reinterpret_cast<CLIPRDR_CAPABILITY_SET*>(&general);
    m_context->cliprdr->ClientCapabilities(m_context->cliprdr, &capabilities);
    m_clipboardReady = true;
    qCDebug(lcRdp) << "clipboard channel ready";
    announceClipboardFormats();
}

void RdpInstance::announceClipboardFormats()
{
    CLIPRDR_FORMAT formats[2] = {};
    formats[0].formatId = RdpClipboardCodec::UnicodeText;
    formats[1].formatId = RdpClipboardCodec::Text;
    CLIPRDR_FORMAT_LIST list = {};
    list.msgType = CB_FORMAT_LIST;
    list.numFormats = 2;
    list.formats = formats;
    m_context->cliprdr->ClientFormatList(m_context->cliprdr, &list);
}

void RdpInstance::sendDataFormats(QClipboard::Mode mode)
{
    // The ready flag first: while connecting, the channel's interface is
    // being set on the worker.
    const bool ready = m_clipboardReady && m_context && m_context->cliprdr;
    bool* ignore = mode == QClipboard::Clipboard ? &m_ignoreClipboardChange
        : mode == QClipboard::Selection          ? &m_ignoreSelectionChange
                                                 : nullptr;
    if (!ignore)
        return;
    if (ready && !*ignore && !isServerClipboardEcho(mode))
        announceClipboardFormats();
    *ignore = false;
}

bool RdpInstance::isServerClipboardEcho(QClipboard::Mode mode) const
{
    // Besides the change it makes at once, X reports the clearing of a
    // selection again later, when the flag has gone: an empty selection
    // offers nothing, and the server's own text must not go back to it.
    if (!selectionHasOwner(mode))
        return true;
    const QClipboard* clipboard = QApplication::clipboard();
    const bool owned = mode == QClipboard::Clipboard ? clipboard->ownsClipboard() : clipboard->ownsSelection();
    return owned && clipboard->text(mode) == m_serverClipboardText;
}

void RdpInstance::handleCliprdrServerFormatList(const QList<unsigned long>& formats)
{
    if (!m_context || !m_context->cliprdr)
        return;
    CLIPRDR_FORMAT_LIST_RESPONSE response = {};
    response.msgType = CB_FORMAT_LIST_RESPONSE;
    response.msgFlags = CB_RESPONSE_OK;
    m_context->cliprdr->ClientFormatListResponse(m_context->cliprdr, &response);

    QClipboard* clipboard = QApplication::clipboard();
    m_ignoreClipboardChange = true;
    clipboard->clear(QClipboard::Clipboard);
    if (clipboard->supportsSelection()) {
        m_ignoreSelectionChange = true;
        clipboard->clear(QClipboard::Selection);
    }
    const int format = RdpClipboardCodec::preferredFormat(formats);
    qCDebug(lcRdp) << "server clipboard formats" << formats << "requesting" << format;
    if (format >= 0)
        requestClipboardData(static_cast<quint32>(format));
}

void RdpInstance::requestClipboardData(quint32 format)
{
    m_requests.sent(format);
    CLIPRDR_FORMAT_DATA_REQUEST request = {};
    request.msgType = CB_FORMAT_DATA_REQUEST;
    request.requestedFormatId = format;
    m_context->cliprdr->ClientFormatDataRequest(m_context->cliprdr, &request);
}

void RdpInstance::handleCliprdrServerFormatDataResponse(const QByteArray& data)
{
    // A later request is still outstanding: only its answer counts.
    if (!m_requests.acceptResponse())
        return;
    const int format = m_requests.format();
    if (format != static_cast<int>(RdpClipboardCodec::UnicodeText)
        && format != static_cast<int>(RdpClipboardCodec::Text))
        return;
    const QString text = RdpClipboardCodec::decode(static_cast<quint32>(format), data);
    m_serverClipboardText = text;
    QClipboard* clipboard = QApplication::clipboard();
    m_ignoreClipboardChange = true;
    clipboard->setText(text, QClipboard::Clipboard);
    if (clipboard->supportsSelection()) {
        m_ignoreSelectionChange = true;
        clipboard->setText(text, QClipboard::Selection);
    }
}

void RdpInstance::handleCliprdrServerFormatDataRequest(unsigned long format)
{
    if (!m_context || !m_context->cliprdr)
        return;
    const QClipboard* clipboard = QApplication::clipboard();
    QString text = clipboard->text(QClipboard::Clipboard);
    if (text.isEmpty() && clipboard->supportsSelection())
        text = clipboard->text(QClipboard::Selection);
    const QByteArray data = RdpClipboardCodec::encode(static_cast<quint32>(format), text);
    qCDebug(lcRdp) << "server asks for clipboard format" << format << "answering" << data.size() << "bytes";
    CLIPRDR_FORMAT_DATA_RESPONSE response = {};
    response.msgType = CB_FORMAT_DATA_RESPONSE;
    response.msgFlags = data.isEmpty() ? CB_RESPONSE_FAIL : CB_RESPONSE_OK;
    response.dataLen = static_cast<UINT32>(data.size());
    response.requestedFormatData = reinterpret_cast<const BYTE*>(data.constData());
    m_context->cliprdr->ClientFormatDataResponse(m_context->cliprdr, &response);
}
