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
    const int steps = qBound(-255, delta / 120, 255);
    if (steps < 0)
        return static_cast<quint16>(0x0300 | (steps & 0xFF));
    if (steps > 0)
        return static_cast<quint16>(0x0200 | (steps & 0x1FF));
    return 0;
}

int takeWheelSteps(int* pending, int delta)
{
    if ((*pending > 0 && delta < 0) || (*pending < 0 && delta > 0))
        *pending = 0;
    // The rest is below a step, so only the delta needs a bound.
    *pending += qBound(-255 * 120, delta, 255 * 120);
    const int whole = *pending / 120 * 120;
    *pending -= whole;
    return whole;
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
