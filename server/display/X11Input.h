#pragma once

// Qt's headers must come before Xlib's macros (Bool, Status, None).
#include <QDebug>
#include <QString>

#include <X11/Xlib.h>

#include <cstdint>
#include <set>

// Turns RDP input events into XTest input on the session display.
class X11Input
{
public:
    explicit X11Input(Display* dpy);

    void keyboard(uint16_t flags, uint8_t code);
    void unicode(uint16_t flags, uint16_t code);
    void mouse(uint16_t flags, uint16_t x, uint16_t y);
    void extendedMouse(uint16_t flags, uint16_t x, uint16_t y);
    void synchronize(uint32_t lockFlags);
    // Lets go of every key and button pressed through this input and not
    // released yet: whoever drives the session next starts with none held.
    void releaseAll();

private:
    void tapKeysym(KeySym keysym, bool down);
    bool lockActive(const char* indicator) const;
    void toggleLock(KeySym keysym);
    void key(KeyCode keycode, bool down);
    void button(unsigned number, bool down);

    Display* m_dpy;
    KeyCode m_scratchKeycode = 0;
    std::set<KeyCode> m_heldKeys;
    std::set<unsigned> m_heldButtons;
};
