#pragma once

#include <QList>
#include <QtGlobal>

// The local X keyboard's lock keys, read from the X server.
namespace RdpKeyboardState {

// RDP synchronize flags for the locks that are on: Scroll Lock 1,
// Num Lock 2, Caps Lock 4, Kana Lock 8.
quint32 lockFlags();

// X keycodes of the modifier keys held down now (Control, Shift, Alt,
// Mode_switch, ISO_Level3_Shift, Super, Menu; left before right).
QList<quint32> heldModifiers();

} // namespace RdpKeyboardState
