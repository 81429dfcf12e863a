// Two real processes of the program: the second start hands over to the
// first and exits. Each test runs with its own HOME and runtime directory.
#include <QDir>
#include <QLocalServer>
#include <QLockFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One started program with its collected diagnostics; stopped by pid when
// it goes out of scope, whatever the test's outcome.
class Program
{
public:
    explicit Program(const QProcessEnvironment& environment)
    {
        m_process.setProcessEnvironment(environment);
        QObject::connect(&m_process, &QProcess::readyReadStandardError, [this]() {
            m_log += m_process.readAllStandardError();
        });
    }
    ~Program()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }

    void start()
    {
        m_process.start(QDir(qEnvironmentVariable("ZENTU_BIN_DIR")).filePath(QStringLiteral("Zentu")),
                        QStringList());
    }
    QProcess& process() { return m_process; }
    int count(const char* line) const { return m_log.count(line); }
    QByteArray log() const { return m_log; }

private:
    QProcess m_process;
    QByteArray m_log;
};

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void secondStartRaisesFirstDespiteStrayPeers();
    void crashedInstanceIsReplaced();
    void handOverWaitsForListeningInstance();
    void unwritableRuntimeDirectoryStillStarts();
    void otherUsersFilesDoNotStopStart();

private:
    std::unique_ptr<QTemporaryDir> m_home;
    QProcessEnvironment m_environment;
};

void TestSingleInstance::init()
{
    QVERIFY2(!qEnvironmentVariableIsEmpty("ZENTU_BIN_DIR"), "run through ctest");
    m_home = std::make_unique<QTemporaryDir>();
    const QString runtime = m_home->filePath(QStringLiteral("run"));
    QVERIFY(QDir().mkpath(runtime));
    QVERIFY(QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    m_environment = QProcessEnvironment::systemEnvironment();
    m_environment.insert(QStringLiteral("HOME"), m_home->path());
    m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home->filePath(QStringLiteral("config")));
    m_environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    m_environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("zentu.app.debug=true"));
}

void TestSingleInstance::cleanup()
{
    m_home.reset();
}

void TestSingleInstance::crashedInstanceIsReplaced()
{
    {
        Program crashed(m_environment);
        crashed.start();
        QTRY_VERIFY_WITH_TIMEOUT(crashed.count("main window activated") == 1, 30000);
        crashed.process().kill();
        QVERIFY(crashed.process().waitForFinished(10000));
    }
    // The lock file and the socket of the killed process are still there.
    QVERIFY(!QDir(m_home->filePath(QStringLiteral("run"))).entryList(QDir::System | QDir::Files).isEmpty());

    Program next(m_environment);
    next.start();
    QTRY_VERIFY_WITH_TIMEOUT(next.count("main window activated") == 1, 30000);
    QCOMPARE(next.process().state(), QProcess::Running);

    Program handOver(m_environment);
    handOver.start();
    QVERIFY(handOver.process().waitForFinished(30000));
    QCOMPARE(handOver.process().exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(next.count("RAISE received") == 1, 30000);
}

void TestSingleInstance::handOverWaitsForListeningInstance()
{
    // The running instance holds the lock but is not listening yet.
    const QDir run(m_home->filePath(QStringLiteral("run")));
    const QString base = QStringLiteral("Zentu_2-%1").arg(getuid());
    QLockFile lock(run.filePath(base + QStringLiteral(".lock")));
    QVERIFY(lock.tryLock(0));
    Program second(m_environment);
    second.start();
    QTRY_VERIFY2_WITH_TIMEOUT(second.count("waiting for the running instance") == 1, second.log().constData(),
                              30000);

    QLocalServer server;
    QVERIFY(server.listen(run.filePath(base + QStringLiteral(".socket"))));
    QVERIFY(server.waitForNewConnection(30000));
    QLocalSocket* peer = server.nextPendingConnection();
    QTRY_VERIFY_WITH_TIMEOUT(peer->canReadLine(), 30000);
    QCOMPARE(peer->readLine(), QByteArray("RAISE\n"));
    peer->disconnectFromServer();
    QTRY_COMPARE_WITH_TIMEOUT(second.process().state(), QProcess::NotRunning, 30000);
    QCOMPARE(second.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.process().exitCode(), 0);
}

void TestSingleInstance::unwritableRuntimeDirectoryStillStarts()
{
    // Immutable even for root, so no lock file can be made there.
    const QString run = m_home->filePath(QStringLiteral("run"));
    QProcess chattr;
    chattr.start(QStringLiteral("chattr"), {QStringLiteral("+i"), run});
    if (!chattr.waitForFinished(10000) || chattr.exitStatus() != QProcess::NormalExit || chattr.exitCode() != 0)
        QSKIP("chattr +i is not available here");
    const auto mutableAgain = qScopeGuard([&run] {
        QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), run});
    });

    Program first(m_environment);
    first.start();
    QTRY_VERIFY2_WITH_TIMEOUT(first.count("main window activated") == 1, first.log().constData(), 30000);
    QVERIFY(first.count("cannot take the single-instance lock") == 1);
    QCOMPARE(first.process().state(), QProcess::Running);
}

void TestSingleInstance::otherUsersFilesDoNotStopStart()
{
    // Without a runtime directory the program has to make do with the
    // temporary directory, which every user can write.
    const QDir tmp(m_home->filePath(QStringLiteral("tmp")));
    QVERIFY(tmp.mkpath(QStringLiteral(".")));
    QCOMPARE(::chmod(QFile::encodeName(tmp.path()).constData(), 01777), 0);
    m_environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    m_environment.insert(QStringLiteral("TMPDIR"), tmp.path());
    const uid_t other = 65534; // nobody
    const auto giveAway = [other](const QString& path) {
        return ::lchown(QFile::encodeName(path).constData(), other, other) == 0;
    };

    // Another user took the names first: Qt's runtime directory for this
    // user and the lock file, held by a live process.
    const QString base = QStringLiteral("Zentu_2-%1").arg(getuid());
    const QString runtime = tmp.filePath(QStringLiteral("runtime-%1").arg(QString::fromLocal8Bit(getpwuid(getuid())->pw_name)));
    QVERIFY(tmp.mkdir(runtime));
    QVERIFY(giveAway(runtime));
    QLockFile held(tmp.filePath(base + QStringLiteral(".lock")));
    QVERIFY(held.tryLock(0));
    QVERIFY(giveAway(tmp.filePath(base + QStringLiteral(".lock"))));
    const QStringList taken = tmp.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);

    QString own;
    {
        Program first(m_environment);
        first.start();
        QTRY_VERIFY2_WITH_TIMEOUT(first.count("main window activated") == 1, first.log().constData(), 30000);
        // The program keeps its lock in a directory of its own, closed to others.
        const QStringList made = tmp.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
        QCOMPARE(made.size(), taken.size() + 1);
        for (const QString& name : made) {
            if (!taken.contains(name))
                own = tmp.filePath(name);
        }
        struct stat status;
        QCOMPARE(::lstat(QFile::encodeName(own).constData(), &status), 0);
        QVERIFY(S_ISDIR(status.st_mode));
        QCOMPARE(status.st_uid, getuid());
        QCOMPARE(status.st_mode & 0777, mode_t(0700));

        Program second(m_environment);
        second.start();
        QVERIFY(second.process().waitForFinished(30000));
        QCOMPARE(second.process().exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(first.count("RAISE received") == 1, 30000);
    }

    // That directory, made by another user before the program could, is not
    // trusted: the program runs on its own instead of handing over.
    QVERIFY(QDir(own).removeRecursively());
    QVERIFY(tmp.mkdir(own));
    QLockFile heldInside(QDir(own).filePath(base + QStringLiteral(".lock")));
    QVERIFY(heldInside.tryLock(0));
    QVERIFY(giveAway(own));
    Program third(m_environment);
    third.start();
    QTRY_VERIFY2_WITH_TIMEOUT(third.count("main window activated") == 1, third.log().constData(), 30000);
    QCOMPARE(third.count("no private directory for the single-instance lock"), 1);
    QCOMPARE(third.process().state(), QProcess::Running);
}

void TestSingleInstance::secondStartRaisesFirstDespiteStrayPeers()
{
    Program first(m_environment);
    first.start();
    QTRY_VERIFY_WITH_TIMEOUT(first.count("main window activated") == 1, 30000);
    // Qt's GL integration stays unloaded, although children no longer get
    // the variable that turns it off.
    QFile maps(QStringLiteral("/proc/%1/maps").arg(first.process().processId()));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    QVERIFY(!maps.readAll().contains("xcbglintegrations"));

    const QString name = QDir(m_home->filePath(QStringLiteral("run")))
                             .filePath(QStringLiteral("Zentu_2-%1.socket").arg(getuid()));
    // A peer that floods without ending its line is cut off.
    QLocalSocket flood;
    flood.connectToServer(name);
    QVERIFY(flood.waitForConnected(10000));
    flood.write(QByteArray(100000, 'x'));
    QTRY_COMPARE_WITH_TIMEOUT(flood.state(), QLocalSocket::UnconnectedState, 30000);
    // One that connects and says nothing does not block the next start.
    QLocalSocket silent;
    silent.connectToServer(name);
    QVERIFY(silent.waitForConnected(10000));

    Program second(m_environment);
    second.start();
    QVERIFY(second.process().waitForFinished(30000));
    QCOMPARE(second.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.process().exitCode(), 0);
    QCOMPARE(second.count("main window activated"), 0);
    QTRY_VERIFY_WITH_TIMEOUT(first.count("RAISE received") == 1, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(first.count("main window activated") == 2, 30000);
    QCOMPARE(first.count("xxxx"), 0);
    QCOMPARE(first.process().state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
