#include "SingleApplication.h"

#include "AppLogging.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A message is one line of UTF-8; anything longer than this is not ours.
const qint64 MaxMessageSize = 4096;
// A peer that connects and says nothing is dropped after this time.
const int PeerTimeout = 10000;
// Pause between attempts to reach an instance that is not listening yet.
const unsigned long RetryInterval = 50;

// The directory of the lock file and the socket: the session's runtime
// directory, or else one of this user's own in the temporary directory. In a
// directory that others can write, another user could take the lock or the
// socket name first and keep the program from starting, so the directory must
// belong to this user and be closed to everyone else.
bool privateDirectory(QString* path, QString* error)
{
    QString directory = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const bool fallback = directory.isEmpty();
    if (fallback)
        directory = QDir::temp().filePath(QStringLiteral("zentu-%1").arg(geteuid()));
    const QByteArray name = QFile::encodeName(directory);
    if (fallback && ::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // The fallback is taken as it is, never through a link someone put there.
    struct stat status;
    if ((fallback ? ::lstat(name.constData(), &status) : ::stat(name.constData(), &status)) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!S_ISDIR(status.st_mode) || status.st_uid != geteuid() || (status.st_mode & (S_IRWXG | S_IRWXO))) {
        *error = QStringLiteral("not a directory of this user closed to others");
        return false;
    }
    *path = directory;
    return true;
}

} // namespace

SingleApplication::SingleApplication(const QString& id, int& argc, char** argv)
    : QApplication(argc, argv)
{
    QString base = QStringLiteral("%1-%2").arg(id).arg(getuid());
    base.replace(QLatin1Char(' '), QLatin1Char('_'));
    QString path;
    QString error;
    // Without such a directory nothing found there can be trusted to be this
    // user's instance; the program then runs without the hand-over.
    if (!privateDirectory(&path, &error)) {
        qCWarning(lcApp) << "no private directory for the single-instance lock:" << error;
        return;
    }
    const QDir directory(path);
    m_socketName = directory.filePath(base + QStringLiteral(".socket"));
    m_lock = std::make_unique<QLockFile>(directory.filePath(base + QStringLiteral(".lock")));

    // A lock left by a crashed instance names a dead process and is taken
    // over by tryLock.
    if (!m_lock->tryLock(0)) {
        // Only a lock that another live instance holds means one is running.
        // A lock that cannot be made at all must not keep the program from
        // starting; it then runs without the hand-over.
        if (m_lock->error() == QLockFile::LockFailedError)
            m_running = true;
        else
            qCWarning(lcApp) << "cannot take the single-instance lock" << "in" << directory.path() << m_lock->error();
        return;
    }

    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // The lock proves that no live instance owns the socket; a socket file
    // still there is left over from a crash.
    QLocalServer::removeServer(m_socketName);
    if (!m_server->listen(m_socketName)) {
        qCWarning(lcApp) << "cannot listen for other instances on" << m_socketName
                         << m_server->errorString();
        return;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleApplication::acceptConnections);
}

SingleApplication::~SingleApplication()
{
    if (m_server)
        m_server->close();
}

bool SingleApplication::sendMessage(const QString& message, int timeout)
{
    QElapsedTimer elapsed;
    elapsed.start();
    QLocalSocket socket;
    bool waiting = false;
    // The running instance takes its lock before it listens; a start in
    // between finds no server yet, so the attempt is repeated until the time
    // is up instead of losing the message.
    for (;;) {
        socket.connectToServer(m_socketName);
        if (socket.waitForConnected(int(qMax<qint64>(0, timeout - elapsed.elapsed()))))
            break;
        const bool notListening = socket.error() == QLocalSocket::ServerNotFoundError
                                  || socket.error() == QLocalSocket::ConnectionRefusedError;
        if (!notListening || elapsed.hasExpired(timeout)) {
            qCWarning(lcApp) << "cannot reach the running instance:" << socket.errorString();
            return false;
        }
        if (!waiting)
            qCDebug(lcApp) << "waiting for the running instance to listen";
        waiting = true;
        QThread::msleep(RetryInterval);
    }
    QByteArray data = message.toUtf8();
    data.replace('\n', ' ');
    data.append('\n');
    socket.write(data);
    if (!socket.waitForBytesWritten(timeout)) {
        qCWarning(lcApp) << "cannot send to the running instance:" << socket.errorString();
        return false;
    }
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(timeout);
    return true;
}

void SingleApplication::acceptConnections()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(PeerTimeout, socket, &QLocalSocket::abort);
        auto readMessage = [this, socket]() {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > MaxMessageSize)
                    socket->abort();
                return;
            }
            const QString message = QString::fromUtf8(socket->readLine(MaxMessageSize)).trimmed();
            socket->disconnectFromServer();
            qCDebug(lcApp).noquote() << message << "received";
            emit messageReceived(message);
        };
        connect(socket, &QLocalSocket::readyRead, this, readMessage);
        if (socket->bytesAvailable() > 0)
            readMessage();
    }
}
