#pragma once

#include <QApplication>
#include <QLockFile>
#include <QPointer>

#include <memory>

class QLocalServer;

// The application object of a program that runs once per user. The first
// process to start holds a lock file and listens on a local socket, both
// private to the user; a later start finds the lock taken, can hand the
// running instance a message and exit.
class SingleApplication : public QApplication
{
    Q_OBJECT

public:
    SingleApplication(const QString& id, int& argc, char** argv);
    ~SingleApplication() override;

    // True when another process of this user already runs under the id.
    bool isRunning() const { return m_running; }
    // Delivers the message to the running instance; false when it could not
    // be delivered within timeout milliseconds.
    bool sendMessage(const QString& message, int timeout);

signals:
    void messageReceived(const QString& message);

private:
    void acceptConnections();

    QString m_socketName;
    std::unique_ptr<QLockFile> m_lock;
    QPointer<QLocalServer> m_server;
    bool m_running = false;
};
