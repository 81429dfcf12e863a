#pragma once

#include <QtGlobal>

// The local X keyboard's lock keys, read from the X server.
namespace RdpKeyboardState {

// RDP synchronize flags for the locks that are on: Scroll Lock 1,
// Num Lock 2, Caps Lock 4, Kana Lock 8.
quint32 lockFlags();

} // namespace RdpKeyboardState
