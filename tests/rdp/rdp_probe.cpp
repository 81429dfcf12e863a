// A small X program for the remote side of the display tests: covers the
// screen with a pattern whose colour encodes the position, and logs every
// button press ("button <n> <x> <y>") and key press ("key <keysym name>")
// and key release ("release <keysym name>") on its standard output, one line each, flushed at once.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>

namespace {

unsigned long patternColour(int x, int y)
{
    // 16-pixel cells: red from the column, green from the row, blue fixed,
    // so any pixel tells which cell it belongs to.
    const unsigned long red = static_cast<unsigned long>((x / 16) * 4 % 256);
    const unsigned long green = static_cast<unsigned long>((y / 16) * 4 % 256);
    return (red << 16) | (green << 8) | 0x80;
}

} // namespace

int main()
{
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot open display\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    const int width = DisplayWidth(display, screen);
    const int height = DisplayHeight(display, screen);
    const Window root = RootWindow(display, screen);

    XSetWindowAttributes attributes = {};
    attributes.override_redirect = True;
    attributes.event_mask = ExposureMask | ButtonPressMask | KeyPressMask | KeyReleaseMask;
    attributes.background_pixel = BlackPixel(display, screen);
    const Window window = XCreateWindow(display, root, 0, 0, static_cast<unsigned>(width),
                                        static_cast<unsigned>(height), 0, CopyFromParent, InputOutput,
                                        CopyFromParent,
                                        CWOverrideRedirect | CWEventMask | CWBackPixel, &attributes);
    const Pixmap pixmap = XCreatePixmap(display, window, static_cast<unsigned>(width),
                                        static_cast<unsigned>(height),
                                        static_cast<unsigned>(DefaultDepth(display, screen)));
    const GC gc = XCreateGC(display, pixmap, 0, nullptr);
    for (int y = 0; y < height; y += 16) {
        for (int x = 0; x < width; x += 16) {
            XSetForeground(display, gc, patternColour(x, y));
            XFillRectangle(display, pixmap, gc, x, y, 16, 16);
        }
    }
    XMapRaised(display, window);
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    std::printf("ready %d %d\n", width, height);
    std::fflush(stdout);

    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        switch (event.type) {
        case Expose:
            XCopyArea(display, pixmap, window, gc, event.xexpose.x, event.xexpose.y,
                      static_cast<unsigned>(event.xexpose.width), static_cast<unsigned>(event.xexpose.height),
                      event.xexpose.x, event.xexpose.y);
            break;
        case ButtonPress:
            std::printf("button %u %d %d\n", event.xbutton.button, event.xbutton.x, event.xbutton.y);
            break;
        case KeyPress:
        case KeyRelease: {
            const KeySym keysym = XLookupKeysym(&event.xkey, 0);
            const char* name = XKeysymToString(keysym);
            std::printf("%s %s\n", event.type == KeyPress ? "key" : "release", name ? name : "?");
            break;
        }
        default:
            break;
        }
        std::fflush(stdout);
    }
}
