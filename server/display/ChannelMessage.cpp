#include "ChannelMessage.h"

#include <QtEndian>

QByteArray encodeChannelMessage(quint16 type, const QByteArray& payload)
{
    QByteArray out(8, '\0');
    qToLittleEndian<quint16>(type, out.data());
    qToLittleEndian<quint32>(quint32(payload.size()), out.data() + 4);
    out.append(payload);
    return out;
}

bool decodeChannelMessage(const QByteArray& data, ChannelMessage* message, QString* error)
{
    if (data.size() < 8) {
        *error = QStringLiteral("message shorter than its header (%1 bytes)").arg(data.size());
        return false;
    }
    const quint32 length = qFromLittleEndian<quint32>(data.constData() + 4);
    if (length != quint32(data.size() - 8)) {
        *error = QStringLiteral("header announces %1 payload bytes, %2 present")
                     .arg(length)
                     .arg(data.size() - 8);
        return false;
    }
    message->type = qFromLittleEndian<quint16>(data.constData());
    message->payload = data.mid(8);
    return true;
}

QByteArray encodeU16List(std::initializer_list<quint16> values)
{
    QByteArray out(int(values.size() * 2), '\0');
    int offset = 0;
    for (quint16 v : values) {
        qToLittleEndian<quint16>(v, out.data() + offset);
        offset += 2;
    }
    return out;
}

bool decodeU16List(const QByteArray& payload, int count, quint16* values)
{
    if (payload.size() < count * 2)
        return false;
    for (int i = 0; i < count; ++i)
        values[i] = qFromLittleEndian<quint16>(payload.constData() + 2 * i);
    return true;
}
