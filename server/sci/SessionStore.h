#pragma once

#include "SessionLauncher.h"

#include <QList>
#include <QString>

#include <functional>

// One entry of the user's bookmarks or start history.
struct BookmarkEntry {
    QString id, name, command, geometry;
};

// What the command interface keeps per user between logins.
struct StoreState {
    QList<SessionRecord> sessions;
    QList<BookmarkEntry> bookmarks;
    QList<BookmarkEntry> history; // oldest first
};

// The user's sessions, bookmarks and history, kept as JSON files in one
// folder. Several logins of the same user run at once, so every change is a
// read-modify-write under a lock file, and files are replaced atomically.
class SessionStore
{
public:
    // Change callback: edits the state; returns false with an error to leave
    // the files untouched.
    using Change = std::function<bool(StoreState& state, QString* error)>;

    explicit SessionStore(const QString& directory);

    // $XDG_DATA_HOME/zentu-server, or ~/.local/share/zentu-server.
    static QString defaultDirectory();

    QString directory() const;

    bool read(StoreState* state, QString* error) const;
    // Loads, applies change and saves, all under the lock.
    bool update(const Change& change, QString* error);

    // Keeps the text of a failed start, named by the session id and a token.
    bool writeLog(const QString& id, const QString& token, const QString& contents,
                  QString* error);
    bool readLog(const QString& id, const QString& token, QString* contents,
                 QString* error) const;

    static QString formatTime(const QDateTime& time);
    static QDateTime parseTime(const QString& text);

private:
    bool ensureDirectory(QString* error) const;
    bool load(StoreState* state, QString* error) const;
    bool save(const StoreState& state, QString* error) const;
    QString logPath(const QString& id, const QString& token) const;

    QString m_directory;
};
