#include "SingleApplication.h"

#include "AppLogging.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <unistd.h>

namespace {

// A message is one line of UTF-8; anything longer than this is not ours.
const qint64 MaxMessageSize = 4096;
// A peer that connects and says nothing is dropped after this time.
const int PeerTimeout = 10000;
// Pause between attempts to reach an instance that is not listening yet.
const unsigned long RetryInterval = 50;

QString runtimeDirectory()
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

} // namespace

SingleApplication::SingleApplication(const QString& id, int& argc, char** argv)
    : QApplication(argc, argv)
{
    // The uid in the name keeps users apart even where the runtime
    // directory is shared (the fallback to the temporary directory).
    QString base = QStringLiteral("%1-%2").arg(id).arg(getuid());
    base.replace(QLatin1Char(' '), QLatin1Char('_'));
    const QDir directory(runtimeDirectory());
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
