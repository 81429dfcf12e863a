// Soak of the whole client in one process against a real sshd and the
// command-interface stand-in: opens the saved connection from the main
// window, waits for the session list, closes the window, many times over;
// then connects and disconnects the display of one session many times
// through the login's forward. After a warm-up and at the end it reports
// the resident memory, the open descriptors, the processes below this one
// and the top-level windows, and fails when memory grew by 5 % or more or
// when any of the others grew at all.
// Usage: connection_soak [login cycles] [display cycles]   (ZENTU_BIN_DIR=<build>/bin, under X)
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
    int processes = 0;
    int topLevels = 0;
};

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
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

Figures measure()
{
    // Deferred deletes and ended children are handled before counting.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QTest::qWait(200);
    Figures figures;
    figures.rssKiB = residentKiB();
    figures.heapKiB = qint64(mallinfo2().uordblks / 1024);
    figures.descriptors = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size();
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
    return growth < 5.0 && end.descriptors <= warm.descriptors && end.processes <= warm.processes
        && end.topLevels <= warm.topLevels;
}

bool fail(const QString& what)
{
    std::fprintf(stderr, "%s; messages: %s\n", qPrintable(what), qPrintable(messageBoxTexts()));
    return false;
}

// One login: open the connection, wait for the session list, close the window.
bool loginCycle(ConnectionListWidget& main, int sessions, QString* problem)
{
    QPointer<SessionListWidget> window = logIn(main, 0, problem);
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
        QPointer<SessionListWidget> window = logIn(main, 0, &problem);
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
    int collisions = 0;
    for (int cycle = 1; cycle <= loginCycles; ++cycle) {
        if (!loginCycle(main, 1, &problem)) {
            // Other programs on this machine may take the tunnel port between
            // the probe and ssh's bind; the user is told to try again, as here.
            const bool collided = messageBoxTexts().contains(QStringLiteral("taken by another program"));
            if (!collided || ++collisions > 10)
                return fail(QStringLiteral("login cycle %1: %2 (%3 boxes)").arg(cycle).arg(problem).arg(messageBoxes().size()));
            for (QMessageBox* box : messageBoxes())
                box->close();
            --cycle;
            continue;
        }
        if (cycle == loginWarmUp) {
            warm = measure();
            print("login", cycle, warm);
        } else if (cycle % 100 == 0) {
            print("login", cycle, measure());
        }
    }
    if (loginCycles > 0) {
        const Figures end = measure();
        print("login", loginCycles, end);
        std::printf("login: %d tunnel port collisions with other programs, retried\n", collisions);
        ok = compare("login", warm, end) && ok;
    }

    if (displayCycles > 0) {
        QPointer<SessionListWidget> window = logIn(main, 0, &problem);
        if (!window)
            return fail(QStringLiteral("display login: ") + problem);
        const int displayWarmUp = qMax(1, displayCycles / 10);
        for (int cycle = 1; cycle <= displayCycles; ++cycle) {
            if (!window || !displayCycle(window, &problem))
                return fail(QStringLiteral("display cycle %1: %2").arg(cycle).arg(problem));
            if (cycle == displayWarmUp) {
                warm = measure();
                print("display", cycle, warm);
            } else if (cycle % 20 == 0) {
                print("display", cycle, measure());
            }
        }
        const Figures end = measure();
        print("display", displayCycles, end);
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
    const int loginCycles = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1000;
    const int displayCycles = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 200;
    return run(dir.filePath(QStringLiteral("fixture")), loginCycles, displayCycles) ? 0 : 1;
}
