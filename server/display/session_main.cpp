// zentu2_session: runs one session detached from the login that started it:
// a private Xvnc display, the RDP display server and the user's command, and
// tears all of them down when any one ends or on SIGTERM. SIGUSR1 is passed
// to the display server (disconnect all clients). With "--window-mode
// rootless" the display server shows the command's windows one by one,
// without a desktop.
//
// Files in the session directory: "session.log" (all output, kept under a
// size limit, with the part before in "session.log.1"), "display" (":N"),
// "Xauthority" (the display's cookie: only clients that can read it get in),
// "port" (written by the display server once it listens there), "ready"
// (written once the display server listens and the command has shown a
// window or survived a grace time), and "supervisor.pid" (removed on exit).

#include <X11/Xlib.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Options
{
    // port: a fixed one for the display server; by default it picks a free one.
    std::string dir, geometry = "1024x768", command, port = "0", displayServer;
    // "rootless": the display server shows each window on its own, no desktop.
    std::string windowMode;
};

// Bytes in one log file; the whole log is at most twice this.
constexpr off_t LogLimit = 256 * 1024;

void logLine(const std::string& text)
{
    std::fprintf(stderr, "zentu2_session: %s\n", text.c_str());
}

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            int keepFd = -1)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // Own process group, so the whole command tree can be signalled.
    setpgid(0, 0);
    for (const std::string& e : env)
        putenv(strdup(e.c_str()));
    for (int fd = 3; fd < 1024; ++fd) {
        if (fd != keepFd)
            close(fd);
    }
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    std::fprintf(stderr, "zentu2_session: cannot run %s: %s\n", args[0], std::strerror(errno));
    _exit(127);
}

bool writeFile(const std::string& path, const std::string& contents)
{
    const std::string tmp = path + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f)
        return false;
    std::fputs(contents.c_str(), f);
    return std::fclose(f) == 0 && std::rename(tmp.c_str(), path.c_str()) == 0;
}

bool writeAll(int fd, const char* data, ssize_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, data, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

// The log writer: copies everything read from input into the log file and
// keeps that file under LogLimit; a full file becomes "<path>.1", replacing
// the one before. Ends once every writer has closed the pipe, so it outlives
// nothing the session runs and no signal cuts the log short.
[[noreturn]] void runLogWriter(int input, const std::string& path)
{
    for (int number : { SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2, SIGPIPE })
        signal(number, SIG_IGN);
    int out = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    off_t size = out >= 0 ? lseek(out, 0, SEEK_END) : 0;
    char buffer[8192];
    for (;;) {
        const ssize_t got = read(input, buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            _exit(0);
        if (size + got > LogLimit) {
            if (out >= 0)
                close(out);
            std::rename(path.c_str(), (path + ".1").c_str());
            out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
            size = 0;
        }
        if (out >= 0 && writeAll(out, buffer, got))
            size += got;
    }
}

// The port the display server reported; 0 until it has.
int reportedPort(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f)
        return 0;
    int port = 0;
    if (std::fscanf(f, "%d", &port) != 1 || port < 1 || port > 65535)
        port = 0;
    std::fclose(f);
    return port;
}

// A fresh MIT-MAGIC-COOKIE-1 in a file that only the session's user can read.
// The X server loads it at start and then admits only clients that present
// it. A FamilyWild entry (no address, no display number) matches the display
// whatever number the X server picks.
bool writeAuthority(const std::string& path)
{
    char cookie[16];
    const int random = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    const bool filled = random >= 0 && read(random, cookie, sizeof(cookie)) == ssize_t(sizeof(cookie));
    if (random >= 0)
        close(random);
    if (!filled)
        return false;
    std::string entry;
    auto field = [&entry](const std::string& bytes) {
        entry += char(bytes.size() >> 8);
        entry += char(bytes.size() & 0xff);
        entry += bytes;
    };
    entry += "\xff\xff"; // FamilyWild
    field("");
    field("");
    field("MIT-MAGIC-COOKIE-1");
    field(std::string(cookie, sizeof(cookie)));
    unlink(path.c_str());
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool written = write(fd, entry.data(), entry.size()) == ssize_t(entry.size());
    return close(fd) == 0 && written;
}

bool alive(pid_t pid)
{
    return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0;
}

// Signals a process group and waits up to the timeout for its leader.
void stop(pid_t pid, int signal, int timeoutMs)
{
    if (pid <= 0)
        return;
    kill(-pid, signal);
    kill(pid, signal);
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        if (waitpid(pid, nullptr, WNOHANG) != 0)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const std::string value = argv[i + 1];
        if (key == "--dir") o.dir = value;
        else if (key == "--geometry") o.geometry = value;
        else if (key == "--command") o.command = value;
        else if (key == "--port") o.port = value;
        else if (key == "--display-server") o.displayServer = value;
        else if (key == "--window-mode") o.windowMode = value;
    }
    if (o.dir.empty() || o.command.empty() || o.displayServer.empty()) {
        std::fprintf(stderr, "usage: zentu2_session --dir D --display-server PATH "
                             "--command CMD [--geometry WxH] [--port P] [--window-mode rootless]\n");
        return 2;
    }
    setsid();
    // All output of the session goes through the log writer, which bounds it.
    int logPipe[2];
    const int nullFd = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (nullFd < 0 || pipe2(logPipe, O_CLOEXEC) != 0)
        return 2;
    const pid_t logWriter = fork();
    if (logWriter < 0)
        return 2;
    if (logWriter == 0) {
        // Holds none of the descriptors the supervisor was started with.
        for (int fd = 0; fd <= 2; ++fd)
            dup2(nullFd, fd);
        close(logPipe[1]);
        runLogWriter(logPipe[0], o.dir + "/session.log");
    }
    close(logPipe[0]);
    dup2(nullFd, 0);
    dup2(logPipe[1], 1);
    dup2(logPipe[1], 2);
    close(logPipe[1]);
    writeFile(o.dir + "/supervisor.pid", std::to_string(getpid()) + "\n");

    sigset_t watched;
    sigemptyset(&watched);
    sigaddset(&watched, SIGTERM);
    sigaddset(&watched, SIGINT);
    sigaddset(&watched, SIGHUP);
    sigaddset(&watched, SIGUSR1);
    sigaddset(&watched, SIGCHLD);
    sigprocmask(SIG_BLOCK, &watched, nullptr);

    // The display server, the command and this process's own watch on the
    // display all present the session's cookie.
    const std::string authority = o.dir + "/Xauthority";
    if (!writeAuthority(authority)) {
        logLine("cannot write " + authority);
        return 2;
    }
    setenv("XAUTHORITY", authority.c_str(), 1);

    // Xvnc picks a free display number and reports it on the pipe.
    int displayPipe[2];
    if (pipe(displayPipe) != 0)
        return 2;
    const pid_t xvnc = spawn({ "Xvnc", "-displayfd", std::to_string(displayPipe[1]), "-geometry",
                               o.geometry, "-depth", "24", "-rfbport", "-1", "-SecurityTypes",
                               "None", "-nolisten", "tcp", "-auth", authority },
                             {}, displayPipe[1]);
    close(displayPipe[1]);
    std::string number;
    char c;
    while (read(displayPipe[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(displayPipe[0]);
    pid_t server = -1, command = -1, commandGroup = -1;
    bool commandEnded = false;
    int status = 1;
    if (number.empty()) {
        logLine("the X display did not start");
    } else {
        const std::string display = ":" + number;
        writeFile(o.dir + "/display", display + "\n");
        logLine("display " + display);
        // The display server binds the port itself and names it in the port
        // file once it listens: nothing else can pass for it in between.
        const std::string portFile = o.dir + "/port";
        unlink(portFile.c_str());
        std::vector<std::string> serverArguments { o.displayServer, "--display", display, "--port",
                                                   o.port, "--port-file", portFile, "--password-file",
                                                   o.dir + "/password", "--key", o.dir + "/key.pem",
                                                   "--state-file", o.dir + "/clients" };
        if (o.windowMode == "rootless")
            serverArguments.push_back("--rootless");
        server = spawn(serverArguments, {});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (alive(server) && reportedPort(portFile) == 0
               && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (!alive(server) || reportedPort(portFile) == 0) {
            logLine("the RDP display server did not start");
        } else {
            const char* shell = std::getenv("SHELL");
            const std::string loginShell = shell && *shell ? shell : "/bin/sh";
            command = commandGroup = spawn({ loginShell, "-lc", o.command }, { "DISPLAY=" + display });
            // A command that fails at once fails the start: no "ready", its
            // output stays in the log for the client to fetch.
            int early = 0;
            bool endRequested = false;
            // The first window on the display shows the command is up; one
            // without windows is given the whole grace time.
            Display* dpy = XOpenDisplay(display.c_str());
            if (dpy)
                XSelectInput(dpy, DefaultRootWindow(dpy), SubstructureNotifyMask);
            const auto graceEnd = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            const timespec slice { 0, 50 * 1000 * 1000 };
            siginfo_t info;
            bool windowSeen = false;
            while (!windowSeen && std::chrono::steady_clock::now() < graceEnd) {
                const int signal = sigtimedwait(&watched, &info, &slice);
                if (signal == SIGUSR1) {
                    kill(server, SIGUSR1);
                } else if (signal == SIGCHLD) {
                    if (waitpid(command, &early, WNOHANG) == command) {
                        command = -1;
                        break;
                    }
                } else if (signal > 0) {
                    endRequested = true;
                    break;
                }
                while (dpy && XPending(dpy) > 0) {
                    XEvent event;
                    XNextEvent(dpy, &event);
                    windowSeen = windowSeen || event.type == MapNotify;
                }
            }
            if (dpy)
                XCloseDisplay(dpy);
            if (command < 0 && !(WIFEXITED(early) && WEXITSTATUS(early) == 0)) {
                logLine("the command failed at start ("
                        + (WIFEXITED(early) ? "exit status " + std::to_string(WEXITSTATUS(early))
                                            : "signal " + std::to_string(WTERMSIG(early)))
                        + ")");
            } else {
                writeFile(o.dir + "/ready", "1\n");
                logLine("started: " + o.command);
            }
            while (command > 0 && !endRequested) {
                if (sigwaitinfo(&watched, &info) < 0)
                    continue;
                if (info.si_signo == SIGUSR1) {
                    kill(server, SIGUSR1);
                    continue;
                }
                if (info.si_signo == SIGCHLD) {
                    int childStatus = 0;
                    const pid_t ended = waitpid(command, &childStatus, WNOHANG);
                    if (ended == command) {
                        command = -1;
                        commandEnded = true;
                        status = 0;
                        logLine("the command ended");
                        break;
                    }
                    if (!alive(server)) {
                        server = -1;
                        logLine("the RDP display server ended");
                        break;
                    }
                    if (!alive(xvnc)) {
                        logLine("the X display ended");
                        break;
                    }
                    continue;
                }
                logLine("ending on signal " + std::to_string(info.si_signo));
                status = 0;
                break;
            }
        }
    }
    // Clients hear why first: the server sends the error info as it ends,
    // "logged off" when the command ended by itself.
    stop(server, commandEnded ? SIGUSR2 : SIGTERM, 3000);
    stop(command, SIGTERM, 2000);
    // The command's process group may outlive its leader.
    if (commandGroup > 0)
        kill(-commandGroup, SIGKILL);
    stop(xvnc, SIGTERM, 3000);
    // The log stays for reading; the secrets of the ended session do not.
    unlink((o.dir + "/password").c_str());
    unlink((o.dir + "/key.pem").c_str());
    unlink(authority.c_str());
    unlink((o.dir + "/port").c_str());
    unlink((o.dir + "/ready").c_str());
    unlink((o.dir + "/supervisor.pid").c_str());
    // The log is complete once the writer has read the last of it; a process
    // that escaped the session and still holds the pipe is not waited for.
    dup2(nullFd, 1);
    dup2(nullFd, 2);
    for (int waited = 0; waited < 2000 && waitpid(logWriter, nullptr, WNOHANG) == 0; waited += 20)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return status;
}
