#include "RailCommand.h"

#include <QtEndian>

namespace {

quint32 u32At(const QByteArray& payload, int index)
{
    return qFromLittleEndian<quint32>(payload.constData() + 4 * index);
}

int fixedSize(quint16 type)
{
    switch (type) {
    case RailCommand::Geometry:
        return 20;
    case RailCommand::ZOrder:
        return 8;
    case RailCommand::Raise:
    case RailCommand::Activate:
    case RailCommand::MonitorLayout:
        return 4;
    default:
        return -1;
    }
}

} // namespace

bool decodeRailCommand(quint16 type, const QByteArray& payload, RailCommand* command, QString* error)
{
    const int size = fixedSize(type);
    if (size < 0) {
        *error = QStringLiteral("unknown message type %1").arg(type);
        return false;
    }
    if (payload.size() < size) {
        *error = QStringLiteral("message type %1 too short (%2 bytes)").arg(type).arg(payload.size());
        return false;
    }
    *command = RailCommand();
    command->kind = RailCommand::Kind(type);
    if (type != RailCommand::MonitorLayout) {
        command->windowId = u32At(payload, 0);
        if (type == RailCommand::ZOrder)
            command->otherId = u32At(payload, 1);
        if (type == RailCommand::Geometry) {
            command->left = qint32(u32At(payload, 1));
            command->top = qint32(u32At(payload, 2));
            command->right = qint32(u32At(payload, 3));
            command->bottom = qint32(u32At(payload, 4));
        }
        return true;
    }
    const quint32 count = u32At(payload, 0);
    if (count > MaxRailMonitors || payload.size() < int(4 + 8 * count)) {
        *error = QStringLiteral("monitor layout of %1 monitors in %2 bytes").arg(count).arg(payload.size());
        return false;
    }
    for (quint32 i = 0; i < count; ++i) {
        const char* record = payload.constData() + 4 + 8 * i;
        RailCommand::Monitor m;
        m.left = qFromLittleEndian<quint16>(record);
        m.top = qFromLittleEndian<quint16>(record + 2);
        m.right = qFromLittleEndian<quint16>(record + 4);
        m.bottom = qFromLittleEndian<quint16>(record + 6);
        if (m.right > m.left && m.bottom > m.top)
            command->monitors.push_back(m);
    }
    if (command->monitors.empty()) {
        *error = QStringLiteral("monitor layout without a usable monitor");
        return false;
    }
    return true;
}
