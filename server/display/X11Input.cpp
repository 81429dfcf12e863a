#include "X11Input.h"

#include <freerdp/input.h>
#include <freerdp/locale/keyboard.h>

#include <X11/XKBlib.h>
#include <X11/keysym.h>
#include <X11/extensions/XTest.h>

X11Input::X11Input(Display* dpy)
    : m_dpy(dpy)
{
    freerdp_keyboard_init(0);
    // A keycode without symbols is borrowed for characters the layout lacks.
    int minKeycode = 0, maxKeycode = 0, perKeycode = 0;
    XDisplayKeycodes(m_dpy, &minKeycode, &maxKeycode);
    KeySym* map = XGetKeyboardMapping(m_dpy, KeyCode(minKeycode), maxKeycode - minKeycode + 1,
                                      &perKeycode);
    for (int k = maxKeycode; k >= minKeycode && map; --k) {
        bool empty = true;
        for (int i = 0; i < perKeycode; ++i)
            empty = empty && map[(k - minKeycode) * perKeycode + i] == NoSymbol;
        if (empty) {
            m_scratchKeycode = KeyCode(k);
            break;
        }
    }
    if (map)
        XFree(map);
}

void X11Input::keyboard(uint16_t flags, uint8_t code)
{
    const DWORD keycode = freerdp_keyboard_get_x11_keycode_from_rdp_scancode(
        code, (flags & KBD_FLAGS_EXTENDED) ? TRUE : FALSE);
    if (keycode == 0)
        return;
    key(KeyCode(keycode), !(flags & KBD_FLAGS_RELEASE));
    XFlush(m_dpy);
}

void X11Input::key(KeyCode keycode, bool down)
{
    XTestFakeKeyEvent(m_dpy, keycode, down ? True : False, CurrentTime);
    if (down)
        m_heldKeys.insert(keycode);
    else
        m_heldKeys.erase(keycode);
}

void X11Input::button(unsigned number, bool down)
{
    XTestFakeButtonEvent(m_dpy, number, down ? True : False, CurrentTime);
    if (down)
        m_heldButtons.insert(number);
    else
        m_heldButtons.erase(number);
}

void X11Input::releaseAll()
{
    for (KeyCode keycode : m_heldKeys)
        XTestFakeKeyEvent(m_dpy, keycode, False, CurrentTime);
    for (unsigned held : m_heldButtons)
        XTestFakeButtonEvent(m_dpy, held, False, CurrentTime);
    m_heldKeys.clear();
    m_heldButtons.clear();
    XFlush(m_dpy);
}

void X11Input::unicode(uint16_t flags, uint16_t code)
{
    // Latin-1 keysyms equal their code points; the rest live at 0x01000000 + code point.
    const KeySym keysym = code < 0x100 ? KeySym(code) : KeySym(0x01000000 | code);
    tapKeysym(keysym, !(flags & KBD_FLAGS_RELEASE));
}

void X11Input::tapKeysym(KeySym keysym, bool down)
{
    KeyCode keycode = XKeysymToKeycode(m_dpy, keysym);
    bool shift = false;
    if (keycode != 0) {
        shift = XkbKeycodeToKeysym(m_dpy, keycode, 0, 0) != keysym
             && XkbKeycodeToKeysym(m_dpy, keycode, 0, 1) == keysym;
    } else if (m_scratchKeycode != 0) {
        KeySym syms[2] = { keysym, keysym };
        XChangeKeyboardMapping(m_dpy, m_scratchKeycode, 2, syms, 1);
        XSync(m_dpy, False);
        keycode = m_scratchKeycode;
    } else {
        return;
    }
    const KeyCode shiftKeycode = XKeysymToKeycode(m_dpy, XK_Shift_L);
    if (shift && down)
        XTestFakeKeyEvent(m_dpy, shiftKeycode, True, CurrentTime);
    key(keycode, down);
    if (shift && down)
        XTestFakeKeyEvent(m_dpy, shiftKeycode, False, CurrentTime);
    XFlush(m_dpy);
}

void X11Input::mouse(uint16_t flags, uint16_t x, uint16_t y)
{
    if (flags & (PTR_FLAGS_WHEEL | PTR_FLAGS_HWHEEL)) {
        const bool negative = flags & PTR_FLAGS_WHEEL_NEGATIVE;
        unsigned button;
        if (flags & PTR_FLAGS_WHEEL)
            button = negative ? 5 : 4;
        else
            button = negative ? 6 : 7;
        // One click per notch of 120; a zero rotation still counts as one notch.
        int rotation = flags & WheelRotationMask;
        if (negative)
            rotation = 0x200 - rotation;
        const int clicks = rotation >= 120 ? rotation / 120 : 1;
        for (int i = 0; i < clicks; ++i) {
            XTestFakeButtonEvent(m_dpy, button, True, CurrentTime);
            XTestFakeButtonEvent(m_dpy, button, False, CurrentTime);
        }
        XFlush(m_dpy);
        return;
    }
    XTestFakeMotionEvent(m_dpy, DefaultScreen(m_dpy), x, y, CurrentTime);
    const bool down = flags & PTR_FLAGS_DOWN;
    if (flags & PTR_FLAGS_BUTTON1)
        button(1, down);
    if (flags & PTR_FLAGS_BUTTON3)
        button(2, down);
    if (flags & PTR_FLAGS_BUTTON2)
        button(3, down);
    XFlush(m_dpy);
}

void X11Input::extendedMouse(uint16_t flags, uint16_t x, uint16_t y)
{
    XTestFakeMotionEvent(m_dpy, DefaultScreen(m_dpy), x, y, CurrentTime);
    const bool down = flags & PTR_XFLAGS_DOWN;
    if (flags & PTR_XFLAGS_BUTTON1)
        button(8, down);
    if (flags & PTR_XFLAGS_BUTTON2)
        button(9, down);
    XFlush(m_dpy);
}

bool X11Input::lockActive(const char* indicator) const
{
    const Atom atom = XInternAtom(m_dpy, indicator, False);
    Bool on = False;
    XkbGetNamedIndicator(m_dpy, atom, nullptr, &on, nullptr, nullptr);
    return on;
}

void X11Input::toggleLock(KeySym keysym)
{
    const KeyCode keycode = XKeysymToKeycode(m_dpy, keysym);
    if (keycode == 0)
        return;
    XTestFakeKeyEvent(m_dpy, keycode, True, CurrentTime);
    XTestFakeKeyEvent(m_dpy, keycode, False, CurrentTime);
}

void X11Input::synchronize(uint32_t lockFlags)
{
    if (bool(lockFlags & KBD_SYNC_CAPS_LOCK) != lockActive("Caps Lock"))
        toggleLock(XK_Caps_Lock);
    if (bool(lockFlags & KBD_SYNC_NUM_LOCK) != lockActive("Num Lock"))
        toggleLock(XK_Num_Lock);
    if (bool(lockFlags & KBD_SYNC_SCROLL_LOCK) != lockActive("Scroll Lock"))
        toggleLock(XK_Scroll_Lock);
    XFlush(m_dpy);
}
