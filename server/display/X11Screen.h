#pragma once

// Qt's headers must come before Xlib's macros (Bool, Status, None).
#include <QDebug>
#include <QString>

#include "TileDiff.h"

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>

#include <QString>

#include <cstdint>
#include <vector>


struct CursorImage
{
    unsigned long serial = 0;
    int width = 0, height = 0, hotX = 0, hotY = 0;
    std::vector<uint32_t> argb; // premultiplied ARGB, row-major, top-down
};

// The session's X screen: damage tracking, shared-memory capture, the pointer
// shape and size changes through RandR. Owns the X connection; every other
// X helper works on display().
class X11Screen
{
public:
    X11Screen() = default;
    ~X11Screen();
    X11Screen(const X11Screen&) = delete;
    X11Screen& operator=(const X11Screen&) = delete;

    bool open(const QString& displayName, QString* error);
    Display* display() const { return m_dpy; }
    Window root() const { return m_root; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    int connectionFd() const;

    // Handles pending X events that belong to the screen; other events are
    // handed to the fallback (clipboard). Damage accumulates until takeDamage().
    template <typename Fallback> void processEvents(Fallback&& fallback)
    {
        while (XPending(m_dpy) > 0) {
            XEvent ev;
            XNextEvent(m_dpy, &ev);
            if (!handleEvent(ev))
                fallback(ev);
        }
    }
    bool takeDamage(std::vector<ScreenRect>* rects);
    // The screen image could not follow a size change; capture is impossible.
    bool failed(QString* error) const
    {
        *error = m_error;
        return m_failed;
    }
    bool damaged() const { return m_damaged; }
    bool cursorChanged() const { return m_cursorChanged; }
    bool fetchCursor(CursorImage* cursor);

    // Grabs the whole screen into the shared-memory image (BGRX, top-down).
    bool capture();
    const uint8_t* pixels() const;
    int stride() const;

    void sizeRange(int* minW, int* minH, int* maxW, int* maxH) const;
    bool resize(int width, int height, QString* error);

private:
    bool handleEvent(const XEvent& ev);
    bool createImage(QString* error);
    void destroyImage();

    Display* m_dpy = nullptr;
    Window m_root = 0;
    int m_width = 0, m_height = 0;
    int m_damageEvent = 0, m_fixesEvent = 0, m_randrEvent = 0;
    Damage m_damage = 0;
    XImage* m_image = nullptr;
    XShmSegmentInfo m_shm {};
    bool m_shmAttached = false;
    bool m_damaged = true;
    bool m_cursorChanged = true;
    bool m_failed = false;
    QString m_error;
};
