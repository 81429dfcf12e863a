#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Payloads of the sharing channel "qzshare" (the header is ChannelMessage's).
namespace ShareMessage {
enum : quint16 {
    ClientId = 1,
    ServerStatus = 2,
    StartSharing = 3,
    EndSharing = 4,
    KickUser = 5,
    GiveControl = 6,
    DisconnectInfo = 7,
    MouseEvent = 8,
};
}

struct ShareParticipant
{
    quint32 id = 0;
    bool control = false;
    QString name;
};

// Client id and disconnect info: one 32-bit value.
QByteArray encodeShareU32(quint32 value);
// The sharing flag, then per participant its id, flags (1: has control) and
// its name in UTF-16LE with a 16-bit terminator.
QByteArray encodeShareStatus(bool sharing, const QList<ShareParticipant>& participants);
QByteArray encodeShareMouse(quint16 x, quint16 y, quint32 flags);

// Kick and give control; false when the payload is too short.
bool decodeShareU32(const QByteArray& payload, quint32* value);
// The password of start sharing, UTF-16LE up to its 16-bit terminator; false
// when the terminator is missing.
bool decodeSharePassword(const QByteArray& payload, QString* password);
