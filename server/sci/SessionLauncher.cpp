#include "SessionLauncher.h"

#include "RandomToken.h"
#include "SessionKey.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>
#include <QThread>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace {

// Size of the X screen of a rootless session: room for any window layout.
const char RootlessGeometry[] = "1920x1200";
const char DefaultGeometry[] = "1024x768";
constexpr int StartTimeoutMs = 20000;
constexpr int StopTimeoutMs = 10000;

bool writePrivateFile(const QString& path, const QByteArray& contents, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || file.write(contents) != contents.size()) {
        *error = QStringLiteral("Error writing the file \"%1\": %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString helperProgram(const QString& name)
{
    const QString beside = QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
    return QFileInfo(beside).isExecutable() ? beside : QStandardPaths::findExecutable(name);
}

QString screenGeometry(const QString& geometry)
{
    if (geometry == QLatin1String("rootless") || geometry == QLatin1String("fullscreen"))
        return QLatin1String(RootlessGeometry);
    static const QRegularExpression size(QStringLiteral("^(\\d{2,5})x(\\d{2,5})$"));
    return size.match(geometry).hasMatch() ? geometry : QLatin1String(DefaultGeometry);
}

qint64 supervisorPid(const SessionRecord& session)
{
    return qint64(session.runtime.value(QStringLiteral("pid")).toDouble());
}

QString sessionDirectory(const SessionRecord& session)
{
    return session.runtime.value(QStringLiteral("dir")).toString();
}

// The display server's "clients" file: the number of clients connected now
// and, once one has left, the time in seconds since the epoch when the last
// one left. Two short lines; more is never read.
QList<QByteArray> clientsFile(const SessionRecord& session)
{
    QFile file(sessionDirectory(session) + QStringLiteral("/clients"));
    return file.open(QIODevice::ReadOnly) ? file.read(64).split('\n') : QList<QByteArray>();
}

// The pid file guards against a recycled pid: only a running supervisor keeps it.
bool supervisorRunning(const SessionRecord& session)
{
    const qint64 pid = supervisorPid(session);
    if (pid <= 0 || ::kill(pid_t(pid), 0) != 0)
        return false;
    return readText(sessionDirectory(session) + QStringLiteral("/supervisor.pid")).trimmed()
        == QString::number(pid);
}

} // namespace

SessionLauncher::SessionLauncher(const QString& dataDirectory)
    : m_dataDirectory(dataDirectory)
{
}

bool SessionLauncher::startSession(SessionRecord& session, QString* error, QString* log)
{
    const QStringList words = session.command.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty()) {
        *error = QStringLiteral("No command to start.");
        *log = QStringLiteral("The session \"%1\" has an empty command line.\n").arg(session.id);
        return false;
    }
    const QString program = words.first();
    const bool found = program.contains(QLatin1Char('/'))
        ? QFileInfo(program).isExecutable()
        : !QStandardPaths::findExecutable(program).isEmpty();
    if (!found) {
        *error = QStringLiteral("The program \"%1\" was not found.").arg(program);
        *log = QStringLiteral("exec: %1: not found\n").arg(program);
        return false;
    }
    if (!randomToken(&session.password, error)) {
        *log = *error + QLatin1Char('\n');
        return false;
    }
    const QString supervisor = helperProgram(QStringLiteral("zentu2_session"));
    const QString displayServer = helperProgram(QStringLiteral("zentu2_display"));
    if (supervisor.isEmpty() || displayServer.isEmpty()) {
        *error = QStringLiteral("The session programs are not installed.");
        *log = QStringLiteral("zentu2_session or zentu2_display not found next to %1 or on PATH\n")
                   .arg(QCoreApplication::applicationFilePath());
        return false;
    }

    const QString dir = m_dataDirectory + QStringLiteral("/sessions/") + session.id;
    QDir().mkpath(dir);
    QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    auto fail = [&](const QString& message) {
        *error = message;
        *log = readText(dir + QStringLiteral("/session.log"));
        if (log->isEmpty())
            *log = message + QLatin1Char('\n');
        QDir(dir).removeRecursively();
        return false;
    };
    if (!writePrivateFile(dir + QStringLiteral("/password"), session.password.toUtf8(), error))
        return fail(*error);
    if (!writeSessionKey(dir + QStringLiteral("/key.pem"), error))
        return fail(QStringLiteral("Could not create the session key: %1").arg(*error));

    // The display server picks its port and names it in the folder.
    const QString geometry = screenGeometry(session.geometry);
    QStringList arguments { QStringLiteral("--dir"), dir, QStringLiteral("--display-server"),
                            displayServer, QStringLiteral("--geometry"), geometry,
                            QStringLiteral("--command"), session.command };
    if (session.geometry == QLatin1String("rootless"))
        arguments << QStringLiteral("--window-mode") << session.geometry;
    qint64 pid = 0;
    if (!QProcess::startDetached(supervisor, arguments, QDir::homePath(), &pid))
        return fail(QStringLiteral("The session supervisor did not start."));

    QElapsedTimer timer;
    timer.start();
    const QString ready = dir + QStringLiteral("/ready");
    while (!QFile::exists(ready)) {
        const bool running = ::kill(pid_t(pid), 0) == 0;
        if (!running || timer.elapsed() > StartTimeoutMs) {
            if (running)
                ::kill(pid_t(pid), SIGTERM);
            return fail(QStringLiteral("The session did not start."));
        }
        QThread::msleep(20);
    }
    bool portOk = false;
    const uint port = readText(dir + QStringLiteral("/port")).trimmed().toUInt(&portOk);
    if (!portOk || port == 0 || port > 65535) {
        ::kill(pid_t(pid), SIGTERM);
        return fail(QStringLiteral("The session display reported no port."));
    }
    session.port = quint16(port);
    session.windowMode = session.geometry == QLatin1String("rootless") ? session.geometry
                                                                         : QStringLiteral("desktop");
    session.runtime = QJsonObject { { QStringLiteral("pid"), double(pid) },
                                    { QStringLiteral("dir"), dir },
                                    { QStringLiteral("display"),
                                      readText(dir + QStringLiteral("/display")).trimmed() } };
    return true;
}

bool SessionLauncher::isAlive(const SessionRecord& session) const
{
    return supervisorRunning(session);
}

int SessionLauncher::clientCount(const SessionRecord& session) const
{
    if (!supervisorRunning(session))
        return 0;
    return clientsFile(session).value(0).trimmed().toInt();
}

QDateTime SessionLauncher::lastClientLeft(const SessionRecord& session) const
{
    bool ok = false;
    const qint64 seconds = clientsFile(session).value(1).trimmed().toLongLong(&ok);
    return ok && seconds > 0 ? QDateTime::fromSecsSinceEpoch(seconds) : QDateTime();
}

bool SessionLauncher::disconnectClients(const SessionRecord& session, QString* error)
{
    if (!supervisorRunning(session)) {
        *error = QStringLiteral("The session \"%1\" is not running.").arg(session.id);
        return false;
    }
    ::kill(pid_t(supervisorPid(session)), SIGUSR1);
    return true;
}

bool SessionLauncher::terminateSession(const SessionRecord& session, QString* error)
{
    const QString dir = sessionDirectory(session);
    if (supervisorRunning(session)) {
        const pid_t pid = pid_t(supervisorPid(session));
        ::kill(pid, SIGTERM);
        QElapsedTimer timer;
        timer.start();
        while (supervisorRunning(session)) {
            if (timer.elapsed() > StopTimeoutMs) {
                *error = QStringLiteral("The session \"%1\" did not end.").arg(session.id);
                return false;
            }
            QThread::msleep(20);
        }
    }
    if (!dir.isEmpty())
        QDir(dir).removeRecursively();
    return true;
}
