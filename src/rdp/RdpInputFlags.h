#pragma once

#include <Qt>
#include <QtGlobal>

// RDP pointer and keyboard event flags (MS-RDPBCGR 2.2.8.1.1.3.1.1).
namespace RdpInputFlags {

constexpr quint16 Move = 0x0800;
constexpr quint16 Down = 0x8000;
constexpr quint16 KeyDown = 0x4000;
constexpr quint16 KeyRelease = 0x8000;
constexpr quint16 KeyExtended = 0x0100;

// Flags of a button press or release; 0 for buttons RDP has no flag for.
quint16 button(Qt::MouseButton button, bool press);
// Flags of a wheel turn by the given angle delta (120 per step), at most
// 255 steps; 0 for less than a step, which must not be sent: flags 0 are a
// pointer move.
quint16 wheel(int delta);
// Adds a wheel delta to what is left of earlier ones (*pending) and takes
// out the whole steps, returned as a delta for wheel(). Touchpads deliver
// many small deltas that only together make a step. A turn the other way
// drops what was left of the old direction.
int takeWheelSteps(int* pending, int delta);
// Flags and code of a key event from an RDP scan code with its extended bit (0x100).
quint16 keyFlags(quint32 scanCode, bool press);
quint16 keyCode(quint32 scanCode);

} // namespace RdpInputFlags
