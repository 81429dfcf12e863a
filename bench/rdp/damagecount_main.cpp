// Counts how often the local X display's contents change, whoever draws:
// one count per damage report of the root window (reported when the damage
// goes from empty to non-empty, then cleared), which measures the frames
// any RDP client shows. Waits for the first change covering at least half
// the screen of a 1024x768 desktop (the first full frame), lets the client
// settle for the warm-up time, then counts changes for the given number of
// seconds and reads the client's CPU time (from /proc) at the start and the
// end of that window, so that start-up cost does not count as frame cost
// for either client. At the end it adds the peak and the anonymous part of
// the resident memory.
// Usage: damage_count <client pid> <warm-up seconds> <seconds>
#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

// User plus system CPU time of a process in milliseconds, or -1.
long long cpuMilliseconds(int pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(file, line))
        return -1;
    // Fields after the command name, which may contain spaces; utime and
    // stime are fields 14 and 15 of the whole line.
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::atoll(field.c_str());
        else if (i == 15)
            stime = std::atoll(field.c_str());
    }
    return (utime + stime) * 1000 / sysconf(_SC_CLK_TCK);
}

// A field of /proc/<pid>/status in kB, or -1.
long long statusKilobytes(int pid, const std::string& field)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind(field + ':', 0) == 0)
            return std::atoll(line.c_str() + field.size() + 1);
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: damage_count <client pid> <warm-up seconds> <seconds>\n");
        return 2;
    }
    const int pid = std::atoi(argv[1]);
    const long long warmUpMs = std::atoll(argv[2]) * 1000;
    const long long windowMs = std::atoll(argv[3]) * 1000;
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
    const auto start = Clock::now();
    const auto sinceStart = [&start] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    };
    // Waiting for the first frame gives up after a minute.
    long long deadline = 60000;
    long long first = -1;
    long long windowStart = -1;
    long long cpuAtStart = 0;
    long changes = 0;
    pollfd fd {ConnectionNumber(display), POLLIN, 0};
    for (;;) {
        const long long elapsed = sinceStart();
        if (first >= 0 && windowStart < 0 && elapsed >= first + warmUpMs) {
            windowStart = elapsed;
            cpuAtStart = cpuMilliseconds(pid);
            changes = 0;
            deadline = windowStart + windowMs;
        }
        if (elapsed >= deadline)
            break;
        if (!XPending(display)) {
            const long long next = windowStart < 0 && first >= 0 ? first + warmUpMs : deadline;
            poll(&fd, 1, static_cast<int>(std::max(next - elapsed, 1LL)));
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
    if (windowStart < 0) {
        std::printf("no full frame within %lld ms\n", deadline);
        return 1;
    }
    const long long cpuAtEnd = cpuMilliseconds(pid);
    std::printf("first full frame after %lld ms, start-up CPU %lld ms, %ld changes in %lld s, "
                "CPU %lld ms in them, peak memory %lld MB, anonymous memory %.1f MB\n",
                first, cpuAtStart, changes, windowMs / 1000, cpuAtEnd - cpuAtStart,
                statusKilobytes(pid, "VmHWM") / 1024, statusKilobytes(pid, "RssAnon") / 1024.0);
    return 0;
}
