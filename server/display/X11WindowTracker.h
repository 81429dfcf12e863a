#pragma once

// Qt's headers must come before Xlib's macros (Bool, Status, None).
#include <QDebug>
#include <QString>

#include <X11/Xlib.h>

#include <map>
#include <vector>

// What the session's clients see of one top-level X window.
struct TrackedWindow
{
    enum class State { Normal, Minimized, Maximized };

    Window id = 0;
    int x = 0, y = 0, width = 0, height = 0; // outer rectangle, border included
    int border = 0;
    QString title;
    Window owner = 0;   // WM_TRANSIENT_FOR, when that window is tracked too
    bool popup = false; // override-redirect: menus, tooltips
    State state = State::Normal;

    bool operator==(const TrackedWindow& other) const;
    bool operator!=(const TrackedWindow& other) const { return !(*this == other); }
};

// A small window manager for a rootless session: follows the mapped
// top-level windows of the display from X events alone (no polling) and
// carries out what the clients ask of them: focus, stacking, geometry,
// minimising, maximising and a polite close.
class X11WindowTracker
{
public:
    X11WindowTracker(Display* dpy, Window root);
    X11WindowTracker(const X11WindowTracker&) = delete;
    X11WindowTracker& operator=(const X11WindowTracker&) = delete;

    // True when the event was about the windows tracked here.
    bool handleEvent(const XEvent& ev);
    // True once after anything a client sees has changed.
    bool takeChanged();

    // Shown windows in stacking order, bottom first.
    std::vector<TrackedWindow> windows() const;
    Window active() const { return m_active; }
    void screenSize(int* width, int* height) const;

    void activate(Window id);
    void raise(Window id);
    // Puts the window directly below the other one.
    void placeBelow(Window id, Window other);
    // Outer rectangle, right and bottom exclusive.
    void setGeometry(Window id, int left, int top, int right, int bottom);
    void minimize(Window id);
    void maximize(Window id, int left, int top, int right, int bottom);
    void restore(Window id);
    void close(Window id);

private:
    struct Entry
    {
        TrackedWindow window;
        bool mapped = false;
        // Restored rectangle of a maximised window.
        int savedX = 0, savedY = 0, savedWidth = 0, savedHeight = 0;
        bool unmappedByUs = false;
    };

    void adopt(Window id);
    void forget(Window id);
    void readTitle(Entry& entry);
    void readOwner(Entry& entry);
    void readStacking();
    void setWmState(Window id, long state);
    void chooseActive();
    void markChanged() { m_changed = true; }

    Display* m_dpy;
    Window m_root;
    Atom m_netWmName, m_utf8String, m_wmProtocols, m_wmDelete, m_wmState, m_wmChangeState;
    std::map<Window, Entry> m_windows;
    std::vector<Window> m_stacking; // bottom first, tracked windows only
    Window m_active = 0;
    bool m_changed = true;
};
