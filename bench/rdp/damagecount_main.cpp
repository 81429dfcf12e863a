// Counts how often the local X display's contents change, whoever draws:
// one count per damage report of the root window (reported when the damage
// goes from empty to non-empty, then cleared), which measures the frames
// any RDP client shows. Prints the time of the first change covering at
// least half the screen of a 1024x768 desktop (the first full frame) and
// the counts after the given number of seconds.
// Usage: damage_count <seconds>
#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: damage_count <seconds>\n");
        return 2;
    }
    const int seconds = std::atoi(argv[1]);
    Display* display = XOpenDisplay(nullptr);
    int eventBase = 0, errorBase = 0;
    if (!display || !XDamageQueryExtension(display, &eventBase, &errorBase)) {
        std::fprintf(stderr, "no display with DAMAGE\n");
        return 1;
    }
    const Damage damage = XDamageCreate(display, DefaultRootWindow(display), XDamageReportNonEmpty);
    // The new damage object starts with the whole screen damaged: clear it
    // and drop its report before the count begins.
    XDamageSubtract(display, damage, None, None);
    XSync(display, True);
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    long long first = -1;
    long changes = 0;
    pollfd fd {ConnectionNumber(display), POLLIN, 0};
    for (;;) {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        if (elapsed >= seconds * 1000LL)
            break;
        if (!XPending(display)) {
            poll(&fd, 1, static_cast<int>(seconds * 1000LL - elapsed));
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != eventBase + XDamageNotify)
            continue;
        const auto& notify = reinterpret_cast<const XDamageNotifyEvent&>(event);
        if (first < 0 && notify.area.width >= 512 && notify.area.height >= 384)
            first = elapsed;
        ++changes;
        XDamageSubtract(display, damage, None, None);
    }
    std::printf("first full frame after %lld ms, %ld changes in %d s\n", first, changes, seconds);
    return 0;
}
