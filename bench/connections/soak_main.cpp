// Soak of the whole client in one process against a real sshd and the
// command-interface stand-in: opens the saved connection from the main
// window, waits for the session list, closes the window, many times over;
// then connects and disconnects the display of one session many times
// through the login's forward. After a warm-up and at the end it reports
// the resident memory, the open descriptors, the processes below this one
// and the top-level windows, and fails when memory grew by 5 % or more or
// when any of the others grew at all.
// Usage: connection_soak [login cycles] [display cycles]
//        connection_soak faults [rounds] [seed]   (ZENTU_BIN_DIR=<build>/bin, under X)
// The second form kills a peer at a random moment in each round (faults.sh).
#include "CloseHelper.h"
#include "ConnectionListWidget.h"
#include "LoginFixture.h"
#include "RdpDesktopWidget.h"
#include "RdpMainWidget.h"
#include "SciProcess.h"
#include "SessionListWidget.h"
#include "SessionModel.h"
#include "StartSessionDialog.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimer>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <malloc.h>
#include <unistd.h>

namespace {

const int Timeout = 60000;

struct Figures
{
    qint64 rssKiB = 0;
    qint64 heapKiB = 0; // allocated by malloc and not freed
    int descriptors = 0;
    QStringList descriptorTargets; // what each open descriptor refers to
    int processes = 0;
    int topLevels = 0;
};

qint64 residentKiB(const QByteArray& field = QByteArrayLiteral("VmRSS:"))
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

// Every process below this one, zombies included.
int descendants()
{
    QMultiHash<qint64, qint64> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!number || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        children.insert(fields.value(1).toLongLong(), pid);
    }
    int count = 0;
    QList<qint64> queue{qint64(::getpid())};
    while (!queue.isEmpty()) {
        const QList<qint64> below = children.values(queue.takeFirst());
        count += below.size();
        queue += below;
    }
    return count;
}

// A file's path, or the kind of a pipe or socket without its inode number.
QString descriptorKind(const QString& link)
{
    char target[4096];
    const ssize_t size = ::readlink(QFile::encodeName(link).constData(), target, sizeof target);
    const QString text = QString::fromLocal8Bit(target, int(qMax<ssize_t>(size, 0)));
    static const QRegularExpression numbered(QStringLiteral("^(\\w+):\\[\\d+\\]$"));
    const QRegularExpressionMatch match = numbered.match(text);
    return match.hasMatch() ? match.captured(1) : text;
}

Figures measure()
{
    // Deferred deletes and ended children are handled before counting.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QTest::qWait(200);
    Figures figures;
    figures.rssKiB = residentKiB();
    figures.heapKiB = qint64(mallinfo2().uordblks / 1024);
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System))
        figures.descriptorTargets.append(descriptorKind(fds.filePath(fd)));
    figures.descriptors = figures.descriptorTargets.size();
    figures.processes = descendants();
    figures.topLevels = QApplication::topLevelWidgets().size();
    return figures;
}

void print(const char* phase, int cycle, const Figures& f)
{
    std::printf("%s cycle %d: RSS %lld KiB, heap in use %lld KiB, descriptors %d, processes %d, top-level widgets %d\n",
                phase, cycle, f.rssKiB, f.heapKiB, f.descriptors, f.processes, f.topLevels);
    std::fflush(stdout);
}

bool compare(const char* phase, const Figures& warm, const Figures& end)
{
    const double growth = 100.0 * double(end.rssKiB - warm.rssKiB) / double(warm.rssKiB);
    std::printf("%s: RSS growth %.2f %%, descriptors %+d, processes %+d, top-level widgets %+d\n", phase, growth,
                end.descriptors - warm.descriptors, end.processes - warm.processes, end.topLevels - warm.topLevels);
    QStringList added = end.descriptorTargets;
    for (const QString& target : warm.descriptorTargets)
        added.removeOne(target);
    for (const QString& target : qAsConst(added))
        std::printf("  descriptor added: %s\n", qPrintable(target));
    return growth < 5.0 && end.descriptors <= warm.descriptors && end.processes <= warm.processes
        && end.topLevels <= warm.topLevels;
}

// The figures after the warm-up and at the end, judged as they are: Qt's
// pixmap cache is part of what must level off, since every window draws
// through it.
Figures measureAndPrint(const char* phase, int cycle)
{
    const Figures figures = measure();
    print(phase, cycle, figures);
    return figures;
}

bool fail(const QString& what)
{
    std::fprintf(stderr, "%s; messages: %s\n", qPrintable(what), qPrintable(messageBoxTexts()));
    return false;
}

// Other programs on this machine may take the tunnel port between the
// probe and ssh's bind; the user is told to try again, and so it does, a
// bounded number of times, counted in collisions.
int collisions = 0;

SessionListWidget* logInAgainOnCollision(ConnectionListWidget& main, QString* problem)
{
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (SessionListWidget* window = logIn(main, 0, problem))
            return window;
        if (!messageBoxTexts().contains(QStringLiteral("taken by another program")))
            return nullptr;
        ++collisions;
        for (QMessageBox* box : messageBoxes())
            box->close();
    }
    return nullptr;
}

// One login: open the connection, wait for the session list, close the window.
bool loginCycle(ConnectionListWidget& main, int sessions, QString* problem)
{
    QPointer<SessionListWidget> window = logInAgainOnCollision(main, problem);
    if (!window)
        return false;
    const qint64 ssh = sshProcessId(window);
    if (!QTest::qWaitFor([&]() { return window && window->model()->rowCount() == sessions; }, Timeout)) {
        *problem = QStringLiteral("the list did not show %1 sessions").arg(sessions);
        return false;
    }
    window->close();
    if (!QTest::qWaitFor([&]() { return !window && processGone(ssh); }, Timeout)) {
        *problem = QStringLiteral("the closed login stayed");
        return false;
    }
    if (!messageBoxes().isEmpty()) {
        *problem = QStringLiteral("a message came");
        return false;
    }
    return true;
}

QPointer<RdpMainWidget> newDisplay(const QList<RdpMainWidget*>& before)
{
    QPointer<RdpMainWidget> found;
    const bool ended = QTest::qWaitFor(
        [&]() {
            for (RdpMainWidget* display : visibleTopLevels<RdpMainWidget>()) {
                if (!before.contains(display) && display->desktopWidget())
                    found = display;
            }
            return found || !messageBoxes().isEmpty();
        },
        Timeout);
    return ended && found && QTest::qWaitForWindowExposed(found, Timeout) ? found : nullptr;
}

// Connect from the list, then close the display; the list shows the session free again.
bool displayCycle(SessionListWidget* window, QString* problem)
{
    QPushButton* connect = findButton(window, "ConnectSessionButton");
    if (!QTest::qWaitFor([&]() { return selectSession(window, QStringLiteral("xterm")) && connect->isEnabled(); },
                         Timeout)) {
        *problem = QStringLiteral("Connect stays disabled");
        return false;
    }
    const QList<RdpMainWidget*> before = visibleTopLevels<RdpMainWidget>();
    QTest::mouseClick(connect, Qt::LeftButton);
    QPointer<RdpMainWidget> display = newDisplay(before);
    if (!display) {
        *problem = QStringLiteral("no display");
        return false;
    }
    if (!QTest::qWaitFor([&]() { return findSession(window, QStringLiteral("xterm")).clients() == 1; }, Timeout)) {
        *problem = QStringLiteral("the server does not count the display");
        return false;
    }
    display->close();
    if (!QTest::qWaitFor(
            [&]() { return !display && findSession(window, QStringLiteral("xterm")).clients() == 0; }, Timeout)) {
        *problem = display ? QStringLiteral("the closed display stayed") : QStringLiteral("the server still counts it");
        return false;
    }
    if (!messageBoxes().isEmpty()) {
        *problem = QStringLiteral("a message came");
        return false;
    }
    return true;
}

bool startSession(SessionListWidget* window, QString* problem)
{
    const QList<RdpMainWidget*> before = visibleTopLevels<RdpMainWidget>();
    QTest::mouseClick(findButton(window, "NewSessionButton"), Qt::LeftButton);
    auto* dialog = window->findChild<StartSessionDialog*>();
    if (!dialog) {
        *problem = QStringLiteral("no start dialog");
        return false;
    }
    QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("CommandLineEdit")), QStringLiteral("xterm"));
    QTest::mouseClick(dialog->findChild<QDialogButtonBox*>(QStringLiteral("ButtonBox"))->button(QDialogButtonBox::Ok),
                      Qt::LeftButton);
    QPointer<RdpMainWidget> display = newDisplay(before);
    if (!display) {
        *problem = QStringLiteral("the session did not start");
        return false;
    }
    display->close();
    return QTest::qWaitFor([&]() { return !display && findSession(window, QStringLiteral("xterm")).clients() == 0; },
                           Timeout);
}

bool run(const QString& root, int loginCycles, int displayCycles)
{
    LoginFixture login(root);
    QString problem;
    if (!login.start(&problem) || !login.addConnection(QStringLiteral("Soak"), &problem).isValid())
        return fail(problem);
    const auto endSessions = qScopeGuard([&login]() { terminateSessions(login.serverData()); });
    ConnectionListWidget main(login.userDirectory(), login.globalDirectory());
    main.show();

    // One running session for the list to show and the displays to connect to.
    {
        QPointer<SessionListWidget> window = logInAgainOnCollision(main, &problem);
        if (!window || !startSession(window, &problem))
            return fail(QStringLiteral("setting up: ") + problem);
        const qint64 ssh = sshProcessId(window);
        window->close();
        if (!QTest::qWaitFor([&]() { return !window && processGone(ssh); }, Timeout))
            return fail(QStringLiteral("the first login stayed"));
    }

    bool ok = true;
    const int loginWarmUp = qMin(100, loginCycles / 10);
    Figures warm;
    for (int cycle = 1; cycle <= loginCycles; ++cycle) {
        if (!loginCycle(main, 1, &problem))
            return fail(QStringLiteral("login cycle %1: %2").arg(cycle).arg(problem));
        if (cycle == loginWarmUp) {
            warm = measureAndPrint("login", cycle);
        } else if (cycle % 100 == 0 && cycle < loginCycles) {
            print("login", cycle, measure());
        }
    }
    if (loginCycles > 0) {
        const Figures end = measureAndPrint("login", loginCycles);
        std::printf("login: %d tunnel port collisions with other programs, retried\n", collisions);
        ok = compare("login", warm, end) && ok;
    }

    if (displayCycles > 0) {
        QPointer<SessionListWidget> window = logInAgainOnCollision(main, &problem);
        if (!window)
            return fail(QStringLiteral("display login: ") + problem);
        const int displayWarmUp = qMax(1, displayCycles / 10);
        for (int cycle = 1; cycle <= displayCycles; ++cycle) {
            if (!window || !displayCycle(window, &problem))
                return fail(QStringLiteral("display cycle %1: %2").arg(cycle).arg(problem));
            if (cycle == displayWarmUp) {
                warm = measureAndPrint("display", cycle);
            } else if (cycle % 20 == 0 && cycle < displayCycles) {
                print("display", cycle, measure());
            }
        }
        const Figures end = measureAndPrint("display", displayCycles);
        ok = compare("display", warm, end) && ok;
        const qint64 ssh = sshProcessId(window);
        window->close();
        if (!QTest::qWaitFor([&]() { return !window && processGone(ssh); }, Timeout))
            ok = fail(QStringLiteral("the last login stayed"));
    }
    const QList<QWidget*> visible = visibleTopLevels<QWidget>();
    if (visible.size() != 1 || visible.first() != &main)
        ok = fail(QStringLiteral("%1 windows left open").arg(visible.size() - 1));
    return ok;
}


// A process below root by name, the nearest first.
qint64 processBelow(qint64 root, const QByteArray& name)
{
    QMultiHash<qint64, qint64> children;
    QHash<qint64, QByteArray> names;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!number || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const int open = text.indexOf('(');
        const int close = text.lastIndexOf(')');
        names.insert(pid, text.mid(open + 1, close - open - 1));
        const QList<QByteArray> fields = text.mid(close + 2).split(' ');
        if (fields.value(0) != "Z")
            children.insert(fields.value(1).toLongLong(), pid);
    }
    QList<qint64> queue{root};
    while (!queue.isEmpty()) {
        const QList<qint64> below = children.values(queue.takeFirst());
        for (qint64 pid : below) {
            if (names.value(pid) == name)
                return pid;
        }
        queue += below;
    }
    return 0;
}

QMap<QString, QByteArray> savedConnections(const QString& folder)
{
    QMap<QString, QByteArray> files;
    for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files)) {
        QFile file(info.filePath());
        files.insert(info.fileName(), file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    return files;
}

// One round: a peer killed at a random moment of a login, a display or a
// clipboard transfer; the user must be told, the GUI thread must keep
// serving its timers, the saved connection must stay as it was, and the
// connection opened again must list what the server keeps. The outcome in
// *outcome.
bool faultRound(LoginFixture& login, ConnectionListWidget& main, QRandomGenerator& random, QString* outcome)
{
    const QMap<QString, QByteArray> saved = savedConnections(login.userDirectory());
    QString problem;
    QByteArray victim;
    int delay = 0;
    QElapsedTimer clock;
    qint64 longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&]() { longestGap = qMax(longestGap, clock.restart()); });

    QPointer<SessionListWidget> window;
    // Whatever happened, the next round starts with no message and no window.
    const auto tidy = qScopeGuard([&window]() {
        for (QMessageBox* box : messageBoxes())
            box->close();
        for (RdpMainWidget* display : visibleTopLevels<RdpMainWidget>())
            display->close();
        if (window)
            window->close();
        if (!QTest::qWaitFor([&window]() { return !window && visibleTopLevels<RdpMainWidget>().isEmpty(); },
                             Timeout))
            fail(QStringLiteral("windows stay"));
    });
    if (random.bounded(3) == 0) {
        victim = "ssh";
        delay = random.bounded(1500);
        window = openConnection(main, 0);
        if (!window || !QTest::qWaitFor([&]() { return !window || sshProcessId(window) > 0; }, Timeout))
            return fail(QStringLiteral("no ssh"));
        *outcome = QStringLiteral("ssh %1 ms into the login").arg(delay);
    } else {
        window = logInAgainOnCollision(main, &problem);
        if (!window)
            return fail(QStringLiteral("login: ") + problem);
        if (!QTest::qWaitFor([&]() { return window->model()->rowCount() == login.storedSessions().size(); }, Timeout))
            return fail(QStringLiteral("no list"));
        if (window->model()->rowCount() == 0 && !startSession(window, &problem))
            return fail(QStringLiteral("start: ") + problem);
        if (!QTest::qWaitFor([&]() { return selectSession(window, QStringLiteral("xterm"))
                                                && findButton(window, "ConnectSessionButton")->isEnabled(); },
                             Timeout))
            return fail(QStringLiteral("cannot connect"));
        const QList<RdpMainWidget*> before = visibleTopLevels<RdpMainWidget>();
        QTest::mouseClick(findButton(window, "ConnectSessionButton"), Qt::LeftButton);
        if (!newDisplay(before))
            return fail(QStringLiteral("no display"));
        const char* victims[] = {"ssh", "zentu2_sci", "zentu2_display"};
        victim = victims[random.bounded(3)];
        delay = random.bounded(2000);
        const bool clipboard = random.bounded(2) == 0;
        if (clipboard) {
            // A large text, so that the kill may fall inside its transfer.
            QByteArray text(int(random.bounded(1 << 16, 1 << 20)), 'x');
            QGuiApplication::clipboard()->setText(QString::fromLatin1(text));
        }
        *outcome = QStringLiteral("%1 %2 ms %3").arg(QLatin1String(victim)).arg(delay)
                       .arg(clipboard ? QStringLiteral("into a clipboard transfer") : QStringLiteral("into a display"));
    }
    clock.start();
    ticker.start(20);
    QTest::qWait(delay);
    // Sessions run detached from the login, below their supervisor.
    qint64 pid = 0;
    if (victim == "ssh")
        pid = window ? sshProcessId(window) : 0;
    else if (victim == "zentu2_sci")
        pid = processBelow(::getpid(), victim);
    else if (window)
        pid = processBelow(qint64(login.runtimeOf(findSession(window, QStringLiteral("xterm")).id())
                                      .value(QStringLiteral("pid")).toDouble()), victim);
    if (pid <= 0) {
        *outcome += QStringLiteral(": nothing to kill");
    } else {
        ::kill(pid_t(pid), SIGKILL);
        if (!QTest::qWaitFor([]() { return !messageBoxes().isEmpty(); }, Timeout))
            *outcome += QStringLiteral(": NO MESSAGE");
        else
            *outcome += QStringLiteral(": \"%1\"").arg(messageBoxTexts().replace(QStringLiteral("<br><br>"),
                                                                                  QStringLiteral(" ")));
    }
    QTest::qWait(500); // a second message may follow the first
    *outcome += QStringLiteral(", longest GUI gap %1 ms").arg(longestGap);
    ticker.stop();
    bool ok = pid <= 0 || !messageBoxes().isEmpty();
    for (QMessageBox* box : messageBoxes())
        box->close();
    for (RdpMainWidget* display : visibleTopLevels<RdpMainWidget>())
        display->close();
    if (window)
        window->close();
    if (!QTest::qWaitFor([&]() { return !window && visibleTopLevels<RdpMainWidget>().isEmpty(); }, Timeout))
        return fail(*outcome + QStringLiteral(": windows stay"));
    if (savedConnections(login.userDirectory()) != saved) {
        *outcome += QStringLiteral(", SAVED CONNECTION CHANGED");
        ok = false;
    }
    // Opened again, the list shows what the server keeps.
    window = logInAgainOnCollision(main, &problem);
    if (!window)
        return fail(*outcome + QStringLiteral(": reopening: ") + problem);
    const bool listed = QTest::qWaitFor(
        [&]() { return window && window->model()->rowCount() == login.storedSessions().size(); }, Timeout);
    if (!listed) {
        *outcome += QStringLiteral(", LIST DOES NOT RECOVER");
        ok = false;
    }
    const qint64 ssh = sshProcessId(window);
    window->close();
    if (!QTest::qWaitFor([&]() { return !window && processGone(ssh); }, Timeout))
        return fail(*outcome + QStringLiteral(": the reopened login stayed"));
    if (longestGap >= 5000)
        *outcome += QStringLiteral(", GUI THREAD STALLED");
    return ok && longestGap < 5000;
}

bool runFaults(const QString& root, int rounds, quint32 seed)
{
    LoginFixture login(root);
    QString problem;
    if (!login.start(&problem) || !login.addConnection(QStringLiteral("Faults"), &problem).isValid())
        return fail(problem);
    const auto endSessions = qScopeGuard([&login]() { terminateSessions(login.serverData()); });
    ConnectionListWidget main(login.userDirectory(), login.globalDirectory());
    main.show();
    QRandomGenerator random(seed);
    int failed = 0;
    for (int round = 1; round <= rounds; ++round) {
        QString outcome;
        const bool ok = faultRound(login, main, random, &outcome);
        failed += ok ? 0 : 1;
        std::printf("seed %u round %d %s: %s\n", seed, round, ok ? "ok" : "FAILED (see the log)", qPrintable(outcome));
        std::fflush(stdout);
    }
    return failed == 0;
}

} // namespace

int main(int argc, char** argv)
{
    // The client's home, settings and runtime folders, set before Qt reads them.
    QTemporaryDir root(QDir::tempPath() + QStringLiteral("/connection_soak-XXXXXX"));
    if (!root.isValid())
        return 1;
    const QDir dir(root.path());
    for (const char* sub : {"home", "config", "data", "run", "fixture"})
        dir.mkpath(QLatin1String(sub));
    QFile::setPermissions(dir.filePath(QStringLiteral("run")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("HOME", QFile::encodeName(dir.filePath(QStringLiteral("home"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.filePath(QStringLiteral("run"))));

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Zentu"));
    QCoreApplication::setOrganizationName(QStringLiteral("Talvene"));
    CloseHelper::instance();
    if (argc > 1 && qstrcmp(argv[1], "faults") == 0) {
        const int rounds = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 10;
        const quint32 seed = argc > 3 ? QString::fromLocal8Bit(argv[3]).toUInt() : QRandomGenerator::global()->generate();
        return runFaults(dir.filePath(QStringLiteral("fixture")), rounds, seed) ? 0 : 1;
    }
    const int loginCycles = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1000;
    const int displayCycles = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 200;
    return run(dir.filePath(QStringLiteral("fixture")), loginCycles, displayCycles) ? 0 : 1;
}
