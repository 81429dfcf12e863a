#include "NetString.h"

#include <QCoreApplication>

#include <cstring>

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads text as a base-10 integer the way strtol does, but the whole text
// must be the number. A minus sign is refused: writers never produce one and
// a negative length must not move the reader backwards.
bool parseLength(const char* text, int size, int* length)
{
    int i = 0;
    while (i < size && isSpace(text[i]))
        ++i;
    if (i < size && text[i] == '+')
        ++i;
    if (i == size)
        return false;
    int value = 0;
    for (; i < size; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    *length = value;
    return true;
}

} // namespace

QByteArray encodeNetString(const QByteArray& payload)
{
    QByteArray frame = QByteArray::number(payload.size());
    frame.reserve(frame.size() + payload.size() + 2);
    frame += ':';
    frame += payload;
    frame += ',';
    return frame;
}

void NetStringBuffer::append(const QByteArray& bytes)
{
    append(bytes.constData(), bytes.size());
}

void NetStringBuffer::append(const char* data, int size)
{
    compact();
    m_data.append(data, size);
}

NetStringBuffer::Outcome NetStringBuffer::takeFrame(QByteArray* payload)
{
    const char* begin = m_data.constData() + m_offset;
    const int available = m_data.size() - m_offset;
    // The colon may only stand at index 1 to MaxLengthDigits, so looking
    // further than that cannot change the outcome.
    const int searched = qMin(available, MaxLengthDigits + 1);
    const void* found = std::memchr(begin, ':', size_t(searched));
    if (!found)
        return available > MaxLengthDigits ? InvalidNetString : NeedMore;
    const int colon = int(static_cast<const char*>(found) - begin);
    if (colon == 0)
        return InvalidNetString;

    int length = 0;
    if (!parseLength(begin, colon, &length))
        return InvalidLength;
    if (length > MaxPayload)
        return LengthTooBig;

    const int end = colon + 1 + length;
    if (end >= available)
        return NeedMore;
    // The byte at end is the terminator; it is consumed without being checked.
    *payload = QByteArray(begin + colon + 1, length);
    m_offset += end + 1;
    return Payload;
}

QByteArray NetStringBuffer::buffer() const
{
    return m_data.mid(m_offset);
}

int NetStringBuffer::size() const
{
    return m_data.size() - m_offset;
}

bool NetStringBuffer::isEmpty() const
{
    return size() == 0;
}

int NetStringBuffer::indexOf(const QByteArray& needle) const
{
    const int index = m_data.indexOf(needle, m_offset);
    return index < 0 ? -1 : index - m_offset;
}

void NetStringBuffer::discard(int count)
{
    m_offset += qBound(0, count, size());
    compact();
}

void NetStringBuffer::keepLast(int count)
{
    if (count < size())
        discard(size() - count);
}

const char* NetStringBuffer::errorText(Outcome outcome)
{
    switch (outcome) {
    case InvalidNetString:
        return QT_TRANSLATE_NOOP("NetStringBuffer", "Got an invalid NetString");
    case InvalidLength:
        return QT_TRANSLATE_NOOP("NetStringBuffer", "Got an invalid NetString length");
    case LengthTooBig:
        return QT_TRANSLATE_NOOP("NetStringBuffer", "Got a NetString length that is too big");
    case Payload:
    case NeedMore:
        break;
    }
    return "";
}

QString NetStringBuffer::errorString(Outcome outcome)
{
    return QCoreApplication::translate("NetStringBuffer", errorText(outcome));
}

void NetStringBuffer::compact()
{
    if (m_offset == 0)
        return;
    if (m_offset == m_data.size()) {
        m_data.resize(0);
        m_offset = 0;
    } else if (m_offset >= ReadChunk && m_offset * 2 >= m_data.size()) {
        m_data.remove(0, m_offset);
        m_offset = 0;
    }
}
