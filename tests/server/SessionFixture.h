#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// One session as the command interface starts it: zentu2_session with its
// Xvnc display, zentu2_display and a command, in a temporary session folder.
// Stopped (by pid) and checked for leftovers when destroyed.
class SessionFixture
{
public:
    SessionFixture();
    ~SessionFixture();
    SessionFixture(const SessionFixture&) = delete;
    SessionFixture& operator=(const SessionFixture&) = delete;

    // port: one the display server must listen on; 0 lets it pick. The
    // geometry "rootless" starts a session without a desktop.
    bool start(const QString& command, const QString& geometry, QString* error, quint16 port = 0);
    // SIGTERM to the supervisor; waits until it has ended.
    bool stop(int timeoutMs = 15000);
    void disconnectClients();

    QString directory() const { return m_dir.path(); }
    QString display() const;
    // The display's cookie, for X clients of the test.
    QString authority() const { return m_dir.filePath(QStringLiteral("Xauthority")); }
    // The system environment with DISPLAY and XAUTHORITY of the session.
    QProcessEnvironment environment() const;
    quint16 port() const { return m_port; }
    QString password() const { return m_password; }
    qint64 supervisorPid() const;
    int clients() const;
    QString log() const;

    static quint16 freePort();
    // All processes below pid (children, grandchildren, ...).
    static QList<qint64> descendantsOf(qint64 pid);
    // True while the process exists and is not a zombie.
    static bool processRunning(qint64 pid);
    // The command name of a process (as "sshd"); empty once it has gone.
    static QString processName(qint64 pid);
    // The first process below pid with this command name; 0 when none.
    static qint64 descendantNamed(qint64 pid, const QString& name);
    // Whether an X client (xdpyinfo) opens the display with the given
    // authority file, as this process's user or as a user id that no
    // account holds (unprivileged, no groups).
    static bool displayOpens(const QString& display, const QString& authority, bool asOtherUser);

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QString m_password;
};
