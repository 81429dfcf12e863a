#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

// One session of the user as the command interface keeps it on disk.
struct SessionRecord {
    QString id, name, command, geometry, windowMode;
    QDateTime started, lastConnect, lastDisconnect;
    quint16 port = 0;
    QString password;
    QJsonObject runtime; // launcher's own data (pids, display number, directory), persisted as is
};

// Starts and ends the processes behind a session. The command interface only
// records sessions; everything that runs lives here.
class SessionLauncher
{
public:
    explicit SessionLauncher(const QString& dataDirectory);

    // Starts the session's display, program and RDP server; fills port,
    // password, geometry, windowMode, runtime. On failure, log carries what
    // the start printed, for the client's "Zentu.log" request.
    bool startSession(SessionRecord& session, QString* error, QString* log);
    // False once the session ended by itself.
    bool isAlive(const SessionRecord& session) const;
    // RDP clients connected now.
    int clientCount(const SessionRecord& session) const;
    // When the last client left, as the display server recorded it; null
    // while no client has left.
    QDateTime lastClientLeft(const SessionRecord& session) const;
    bool disconnectClients(const SessionRecord& session, QString* error);
    bool terminateSession(const SessionRecord& session, QString* error);

private:
    QString m_dataDirectory;
};
