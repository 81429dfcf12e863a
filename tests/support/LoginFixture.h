#pragma once

#include "Connection.h"
#include "Session.h"
#include "SshServer.h"
#include "TopLevels.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <memory>

class ConnectionListWidget;
class QMessageBox;
class QPushButton;
class QWidget;
class SessionListWidget;

// A login as the user makes it: a real sshd whose remote PATH holds the
// stand-ins of the build, saved connections to it, and the session windows
// that opening them from a ConnectionListWidget brings. The server side keeps
// its state and its sessions' home below the fixture's folder.
class LoginFixture
{
public:
    // Everything lives below root, which must exist; the server's session
    // data in serverData when given (a server started elsewhere keeps it there).
    explicit LoginFixture(const QString& root, const QString& serverData = QString());

    // Starts sshd and points this process's ssh client environment at it.
    bool start(QString* error, const SshServer::Options& options = SshServer::Options());
    // Writes a saved connection to the server, for the current user; an
    // invalid connection with the reason in error when that fails.
    Connection addConnection(const QString& name, QString* error);

    SshServer& server() { return *m_server; }
    QString userDirectory() const { return m_userDirectory; }
    QString globalDirectory() const { return m_globalDirectory; }
    QString serverData() const { return m_serverData; }

    // The stand-in's stored sessions, as they are on disk now.
    QJsonArray storedSessions() const;
    QJsonObject storedSession(const QString& command) const;
    QJsonObject runtimeOf(const QString& sessionId) const;

private:
    QString m_root;
    QString m_userDirectory;
    QString m_globalDirectory;
    QString m_serverData;
    std::unique_ptr<SshServer> m_server;
};

// Activates a row of the connection list; the session window it opened, or
// null when none new came (an open one is raised instead).
SessionListWidget* openConnection(ConnectionListWidget& main, int row);
// Opens a row, answers ssh's passphrase question when one is given, and waits
// until the status dialog has gone. Null with the reason in problem otherwise.
SessionListWidget* logIn(ConnectionListWidget& main, int row, QString* problem,
                         const QString& passphrase = QString());
qint64 sshProcessId(SessionListWidget* window);

// Hidden ones too: a closed window stays until it is deleted.
QList<SessionListWidget*> sessionWindows();
QList<QMessageBox*> messageBoxes();
void closeMessageBoxes();
// The texts of the visible message boxes, for failure reports.
QString messageBoxTexts();
QPushButton* findButton(QWidget* parent, const char* name);
Session findSession(SessionListWidget* window, const QString& command);
bool selectSession(SessionListWidget* window, const QString& command);
