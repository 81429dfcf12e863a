// Session command for the end-to-end tests: covers the session's screen with
// one window and appends "ready <width> <height>" once it is shown, then
// "button <n> <x> <y>" for every button press, to the file named by its
// argument. Each line is flushed at once, so a reader never sees half a line.
#include <X11/Xlib.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s LOGFILE\n", argv[0]);
        return 2;
    }
    std::FILE* log = std::fopen(argv[1], "a");
    Display* display = XOpenDisplay(nullptr);
    if (!log || !display) {
        std::fprintf(stderr, "%s: cannot open the log file or the display\n", argv[0]);
        return 1;
    }
    const int screen = DefaultScreen(display);
    const int width = DisplayWidth(display, screen);
    const int height = DisplayHeight(display, screen);

    XSetWindowAttributes attributes = {};
    attributes.override_redirect = True;
    attributes.event_mask = ExposureMask | ButtonPressMask;
    attributes.background_pixel = WhitePixel(display, screen);
    const Window window = XCreateWindow(display, RootWindow(display, screen), 0, 0,
                                        static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                                        CopyFromParent, InputOutput, CopyFromParent,
                                        CWOverrideRedirect | CWEventMask | CWBackPixel, &attributes);
    XMapRaised(display, window);

    bool ready = false;
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == Expose && !ready) {
            ready = true;
            std::fprintf(log, "ready %d %d\n", width, height);
        } else if (event.type == ButtonPress) {
            std::fprintf(log, "button %u %d %d\n", event.xbutton.button, event.xbutton.x, event.xbutton.y);
        }
        std::fflush(log);
    }
}
