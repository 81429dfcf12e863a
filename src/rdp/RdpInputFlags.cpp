#include "RdpInputFlags.h"

namespace RdpInputFlags {

quint16 button(Qt::MouseButton button, bool press)
{
    switch (button) {
    case Qt::LeftButton:
        return press ? 0x9000 : 0x1000;
    case Qt::RightButton:
        return press ? 0xA000 : 0x2000;
    case Qt::MiddleButton:
        return press ? 0xC000 : 0x4000;
    default:
        return 0;
    }
}

quint16 wheel(int delta)
{
    const int steps = delta / 120;
    if (steps < 0)
        return static_cast<quint16>(0x0300 | (steps & 0xFF));
    if (steps > 0)
        return static_cast<quint16>(0x0200 | (steps & 0x1FF));
    return 0;
}

quint16 keyFlags(quint32 scanCode, bool press)
{
    quint16 flags = press ? KeyDown : KeyRelease;
    if (scanCode & 0x100)
        flags |= KeyExtended;
    return flags;
}

quint16 keyCode(quint32 scanCode)
{
    return static_cast<quint16>(scanCode & 0xFF);
}

} // namespace RdpInputFlags
