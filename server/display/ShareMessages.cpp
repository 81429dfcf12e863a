#include "ShareMessages.h"

#include <QtEndian>

QByteArray encodeShareU32(quint32 value)
{
    QByteArray out(4, '\0');
    qToLittleEndian<quint32>(value, out.data());
    return out;
}

QByteArray encodeShareStatus(bool sharing, const QList<ShareParticipant>& participants)
{
    QByteArray out(1, sharing ? '\1' : '\0');
    for (const ShareParticipant& p : participants) {
        char fixed[6];
        qToLittleEndian<quint32>(p.id, fixed);
        qToLittleEndian<quint16>(p.control ? 1 : 0, fixed + 4);
        out.append(fixed, 6);
        // A zero inside the name would end it early and shift the next entry.
        for (QChar c : p.name) {
            if (c.unicode() == 0)
                continue;
            char unit[2];
            qToLittleEndian<quint16>(c.unicode(), unit);
            out.append(unit, 2);
        }
        out.append(2, '\0');
    }
    return out;
}

QByteArray encodeShareMouse(quint16 x, quint16 y, quint32 flags)
{
    QByteArray out(8, '\0');
    qToLittleEndian<quint16>(x, out.data());
    qToLittleEndian<quint16>(y, out.data() + 2);
    qToLittleEndian<quint32>(flags, out.data() + 4);
    return out;
}

bool decodeShareU32(const QByteArray& payload, quint32* value)
{
    if (payload.size() < 4)
        return false;
    *value = qFromLittleEndian<quint32>(payload.constData());
    return true;
}

bool decodeSharePassword(const QByteArray& payload, QString* password)
{
    QString text;
    for (int i = 0; i + 1 < payload.size(); i += 2) {
        const quint16 unit = qFromLittleEndian<quint16>(payload.constData() + i);
        if (unit == 0) {
            *password = text;
            return true;
        }
        text.append(QChar(unit));
    }
    return false;
}
