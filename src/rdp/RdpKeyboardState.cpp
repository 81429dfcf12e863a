#include "RdpKeyboardState.h"

#include <QX11Info>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace RdpKeyboardState {

namespace {

// The modifier mask bit that carries the key of the given keysym, or 0.
unsigned int modifierMask(Display* display, XModifierKeymap* map, KeySym keysym)
{
    const KeyCode keycode = XKeysymToKeycode(display, keysym);
    if (keycode == 0)
        return 0;
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int i = 0; i < map->max_keypermod; ++i) {
            if (map->modifiermap[modifier * map->max_keypermod + i] == keycode)
                return 1u << modifier;
        }
    }
    return 0;
}

} // namespace

quint32 lockFlags()
{
    if (!QX11Info::isPlatformX11())
        return 0;
    Display* display = QX11Info::display();
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned int state = 0;
    XQueryPointer(display, QX11Info::appRootWindow(), &root, &child, &rootX, &rootY, &x, &y, &state);
    XModifierKeymap* map = XGetModifierMapping(display);
    if (!map)
        return 0;
    quint32 flags = 0;
    const struct {
        KeySym keysym;
        quint32 flag;
    } locks[] = {{XK_Scroll_Lock, 1}, {XK_Num_Lock, 2}, {XK_Caps_Lock, 4}, {XK_Kana_Lock, 8}};
    for (const auto& lock : locks) {
        const unsigned int mask = modifierMask(display, map, lock.keysym);
        if (mask && (state & mask))
            flags |= lock.flag;
    }
    XFreeModifiermap(map);
    return flags;
}

QList<quint32> heldModifiers()
{
    QList<quint32> held;
    if (!QX11Info::isPlatformX11())
        return held;
    Display* display = QX11Info::display();
    char keys[32] = {};
    XQueryKeymap(display, keys);
    const KeySym modifiers[] = {XK_Control_L, XK_Control_R, XK_Shift_L,        XK_Shift_R,
                                XK_Alt_L,     XK_Alt_R,     XK_Mode_switch,    XK_ISO_Level3_Shift,
                                XK_Super_L,   XK_Super_R,   XK_Menu};
    for (const KeySym keysym : modifiers) {
        const KeyCode keycode = XKeysymToKeycode(display, keysym);
        if (keycode != 0 && (keys[keycode / 8] & (1 << (keycode % 8))) && !held.contains(keycode))
            held.append(keycode);
    }
    return held;
}

} // namespace RdpKeyboardState
