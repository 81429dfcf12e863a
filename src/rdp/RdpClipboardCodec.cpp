#include "RdpClipboardCodec.h"

namespace RdpClipboardCodec {

int preferredFormat(const QList<unsigned long>& formats)
{
    if (formats.contains(UnicodeText))
        return UnicodeText;
    if (formats.contains(Text))
        return Text;
    return -1;
}

QString decode(quint32 format, const QByteArray& data)
{
    QString text;
    if (format == UnicodeText) {
        const int units = data.size() / 2;
        text.resize(units);
        for (int i = 0; i < units; ++i) {
            const auto low = static_cast<uchar>(data.at(2 * i));
            const auto high = static_cast<uchar>(data.at(2 * i + 1));
            text[i] = QChar(static_cast<ushort>(low | (high << 8)));
        }
    } else if (format == Text) {
        const int end = data.indexOf('\0');
        text = QString::fromLatin1(data.constData(), end < 0 ? data.size() : end);
    } else {
        return QString();
    }
    int length = text.size();
    while (length > 0 && text.at(length - 1).isNull())
        --length;
    text.truncate(length);
    return text;
}

QByteArray encode(quint32 format, const QString& text)
{
    if (format == UnicodeText) {
        QByteArray data;
        data.reserve(text.size() * 2);
        for (const QChar c : text) {
            data.append(static_cast<char>(c.unicode() & 0xFF));
            data.append(static_cast<char>(c.unicode() >> 8));
        }
        return data;
    }
    if (format == Text)
        return text.toLatin1();
    return QByteArray();
}

} // namespace RdpClipboardCodec

void RdpClipboardRequests::sent(quint32 format)
{
    ++m_pending;
    m_format = static_cast<int>(format);
}

bool RdpClipboardRequests::acceptResponse()
{
    if (m_pending > 0)
        --m_pending;
    return m_pending == 0;
}

void RdpClipboardRequests::reset()
{
    m_format = -1;
    m_pending = 0;
}
