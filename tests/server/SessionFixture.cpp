#include "SessionFixture.h"

#include "SessionKey.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QTcpServer>
#include <QTest>

#include <csignal>
#include <pwd.h>
#include <grp.h>
#include <unistd.h>

namespace {

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

QString binary(const char* name)
{
    return qEnvironmentVariable("ZENTU_BIN_DIR") + QLatin1Char('/') + QLatin1String(name);
}

} // namespace

SessionFixture::SessionFixture() = default;

SessionFixture::~SessionFixture()
{
    stop();
}

quint16 SessionFixture::freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

bool SessionFixture::start(const QString& command, const QString& geometry, QString* error, quint16 port)
{
    m_password = QStringLiteral("pw-%1").arg(qint64(getpid()) * 7919 + freePort());
    QFile password(m_dir.filePath(QStringLiteral("password")));
    if (!password.open(QIODevice::WriteOnly) || password.write(m_password.toUtf8()) < 0) {
        *error = QStringLiteral("cannot write the password");
        return false;
    }
    password.close();
    if (!writeSessionKey(m_dir.filePath(QStringLiteral("key.pem")), error))
        return false;
    // A rootless session's screen starts at the size the command interface gives it.
    const bool rootless = geometry == QLatin1String("rootless");
    QStringList arguments { QStringLiteral("--dir"), m_dir.path(), QStringLiteral("--display-server"),
                            binary("zentu2_display"), QStringLiteral("--geometry"),
                            rootless ? QStringLiteral("1920x1200") : geometry,
                            QStringLiteral("--command"), command };
    if (rootless)
        arguments << QStringLiteral("--window-mode") << geometry;
    if (port != 0)
        arguments << QStringLiteral("--port") << QString::number(port);
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::ForwardedChannels);
    m_process->start(binary("zentu2_session"), arguments);
    QElapsedTimer timer;
    timer.start();
    while (!QFile::exists(m_dir.filePath(QStringLiteral("ready")))) {
        if (m_process->state() == QProcess::NotRunning || timer.elapsed() > 30000) {
            *error = QStringLiteral("the session did not start:\n") + log();
            return false;
        }
        m_process->waitForFinished(20);
    }
    m_port = quint16(readText(m_dir.filePath(QStringLiteral("port"))).toUInt());
    return true;
}

bool SessionFixture::stop(int timeoutMs)
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return true;
    ::kill(pid_t(m_process->processId()), SIGTERM);
    if (m_process->waitForFinished(timeoutMs))
        return true;
    m_process->kill();
    m_process->waitForFinished(5000);
    return false;
}

void SessionFixture::disconnectClients()
{
    if (m_process && m_process->state() == QProcess::Running)
        ::kill(pid_t(m_process->processId()), SIGUSR1);
}

QString SessionFixture::display() const
{
    return readText(m_dir.filePath(QStringLiteral("display")));
}

QProcessEnvironment SessionFixture::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display());
    environment.insert(QStringLiteral("XAUTHORITY"), authority());
    return environment;
}

bool SessionFixture::displayOpens(const QString& display, const QString& authority, bool asOtherUser)
{
    QStringList command { QStringLiteral("xdpyinfo"), QStringLiteral("-display"), display };
    if (asOtherUser) {
        // A throwaway identity: an id that neither an account nor a group uses.
        uint id = 54321;
        while (getpwuid(id) || getgrgid(id))
            ++id;
        command = QStringList { QStringLiteral("setpriv"), QStringLiteral("--reuid=%1").arg(id),
                                QStringLiteral("--regid=%1").arg(id), QStringLiteral("--clear-groups") }
            + command;
    }
    QProcess client;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XAUTHORITY"), authority);
    environment.insert(QStringLiteral("HOME"), QStringLiteral("/"));
    client.setProcessEnvironment(environment);
    client.start(command.takeFirst(), command);
    return client.waitForFinished(20000) && client.exitStatus() == QProcess::NormalExit
        && client.exitCode() == 0;
}

qint64 SessionFixture::supervisorPid() const
{
    return m_process ? m_process->processId() : 0;
}

int SessionFixture::clients() const
{
    // The first line; a second one tells when the last client left.
    return readText(m_dir.filePath(QStringLiteral("clients"))).section(QLatin1Char('\n'), 0, 0).toInt();
}

QString SessionFixture::log() const
{
    return readText(m_dir.filePath(QStringLiteral("session.log")));
}

namespace {

// Parent pid and state from /proc/<pid>/stat; the command name may hold spaces.
bool readStat(qint64 pid, qint64* parent, char* state)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const int end = text.lastIndexOf(')');
    const QList<QByteArray> fields = text.mid(end + 2).split(' ');
    if (end < 0 || fields.size() < 2)
        return false;
    *state = fields.at(0).isEmpty() ? '?' : fields.at(0).at(0);
    *parent = fields.at(1).toLongLong();
    return true;
}

} // namespace

QList<qint64> SessionFixture::descendantsOf(qint64 pid)
{
    QMap<qint64, qint64> parents;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 candidate = entry.toLongLong(&isPid);
        qint64 parent = 0;
        char state = 0;
        if (isPid && readStat(candidate, &parent, &state))
            parents.insert(candidate, parent);
    }
    QList<qint64> found { pid };
    for (int i = 0; i < found.size(); ++i) {
        for (auto it = parents.cbegin(); it != parents.cend(); ++it) {
            if (it.value() == found.at(i))
                found.append(it.key());
        }
    }
    found.removeFirst();
    return found;
}

bool SessionFixture::processRunning(qint64 pid)
{
    qint64 parent = 0;
    char state = 0;
    return readStat(pid, &parent, &state) && state != 'Z' && state != 'X';
}

QString SessionFixture::processName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    return comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
}

qint64 SessionFixture::descendantNamed(qint64 pid, const QString& name)
{
    for (qint64 below : descendantsOf(pid)) {
        if (processName(below) == name)
            return below;
    }
    return 0;
}
