// Time from exec of a program to its first top-level window being mapped
// with a given title, as the X server sees it: the program runs the given
// number of times, each run ended once the window is up, and the median and
// every run are printed, with the CPU time (user + system) the program had
// used by then: on a shared machine the wall time also holds the waits for
// a core. With no window manager the program's windows are
// children of the root window, whose structure changes are watched.
// Usage: startup_time <runs> <window title> <program> [arguments]
#include <X11/Xlib.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

double nowMs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

// User plus system CPU time of a process in milliseconds, or -1.
double cpuMs(pid_t pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(file, line))
        return -1;
    // utime and stime are fields 14 and 15; the command name may hold spaces.
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i >= 14)
            ticks += std::atof(field.c_str());
    }
    return ticks * 1000 / sysconf(_SC_CLK_TCK);
}

struct Run
{
    double wallMs = -1;
    double cpuMs = -1;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool hasTitle(Display* display, Window window, const char* title)
{
    char* name = nullptr;
    if (!XFetchName(display, window, &name) || !name)
        return false;
    const bool same = std::strcmp(name, title) == 0;
    XFree(name);
    return same;
}

// Until the window is mapped; wallMs is -1 after 30 s or an early exit.
Run runOnce(Display* display, const char* title, char** command)
{
    while (XPending(display)) {
        XEvent stale;
        XNextEvent(display, &stale);
    }
    const double start = nowMs();
    const pid_t child = fork();
    if (child == 0) {
        execvp(command[0], command);
        _exit(127);
    }
    Run result;
    pollfd fd {ConnectionNumber(display), POLLIN, 0};
    while (nowMs() - start < 30000) {
        if (!XPending(display)) {
            int status = 0;
            if (waitpid(child, &status, WNOHANG) == child)
                return result;
            poll(&fd, 1, 50);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MapNotify && hasTitle(display, event.xmap.window, title)) {
            result.wallMs = nowMs() - start;
            result.cpuMs = cpuMs(child);
            break;
        }
    }
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: startup_time <runs> <window title> <program> [arguments]\n");
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    Display* display = XOpenDisplay(nullptr);
    if (!display || runs <= 0) {
        std::fprintf(stderr, "no display or no runs\n");
        return 1;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);
    std::vector<double> wall;
    std::vector<double> cpu;
    for (int i = 0; i < runs; ++i) {
        const Run run = runOnce(display, argv[2], argv + 3);
        if (run.wallMs < 0) {
            std::fprintf(stderr, "run %d: no window titled \"%s\"\n", i + 1, argv[2]);
            return 1;
        }
        wall.push_back(run.wallMs);
        cpu.push_back(run.cpuMs);
    }
    std::printf("median %.0f ms (CPU %.0f ms) of %d runs:", median(wall), median(cpu), runs);
    for (int i = 0; i < runs; ++i)
        std::printf(" %.0f/%.0f", wall[i], cpu[i]);
    std::printf("\n");
    return 0;
}
