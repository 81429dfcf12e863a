// keycolour: a window over the whole screen that turns from dark blue to
// light yellow and back on every key press, the smallest visible answer to
// a key for timing the way from a typed key to what participants see.
// Usage: keycolour (on $DISPLAY)
#include <X11/Xlib.h>

#include <cstdio>

int main()
{
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "keycolour: cannot open the display\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    const unsigned long colours[2] = { 0x102090, 0xf0e040 }; // TrueColor, 24 bit
    int current = 0;
    const Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0,
                                              unsigned(DisplayWidth(display, screen)),
                                              unsigned(DisplayHeight(display, screen)), 0, 0,
                                              colours[current]);
    XSelectInput(display, window, KeyPressMask | StructureNotifyMask);
    XMapRaised(display, window);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MapNotify) {
            // No window manager hands out the focus: take it.
            XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
        } else if (event.type == KeyPress) {
            current = 1 - current;
            XSetWindowBackground(display, window, colours[current]);
            XClearWindow(display, window);
            XFlush(display);
        }
    }
}
