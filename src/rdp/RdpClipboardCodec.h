#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Text conversions and choices of the clipboard channel. Only two formats
// travel: Unicode text (UTF-16LE) and Latin-1 text.
namespace RdpClipboardCodec {

constexpr quint32 UnicodeText = 13;
constexpr quint32 Text = 1;

// The format to ask the server for from its list, or -1 for none.
int preferredFormat(const QList<unsigned long>& formats);
// The text in the server's data for the requested format, without
// trailing zero characters; a null string for formats we do not read.
QString decode(quint32 format, const QByteArray& data);
// The data to answer a server request with; empty when there is none.
QByteArray encode(quint32 format, const QString& text);

} // namespace RdpClipboardCodec

// Data requests to the server: when the server announces new contents
// before the answer to an earlier request came, only the answer to the
// latest request is applied.
class RdpClipboardRequests
{
public:
    void sent(quint32 format);
    // For an arriving answer: true when it answers the latest request.
    bool acceptResponse();
    int format() const { return m_format; }
    void reset();

private:
    int m_format = -1;
    int m_pending = 0;
};
