#pragma once

#include "SessionLauncher.h"

#include <QList>
#include <QString>

#include <functional>

// Bounds of what is kept per user, chosen so that the largest reply of every
// method fits in one frame (65536 bytes) even when each string consists of
// characters that JSON writes as six bytes ("\u0001"):
// - a bookmark or history entry takes at most 47 bytes of keys and quotes,
//   64 of id, 16 of geometry and 6 * (64 + 256) of name and command: 2047;
//   30 entries and the three suggestions come to about 62000;
// - a listed session takes at most about 2200 bytes, 20 of them 44000;
// - a log of 10000 characters takes at most 60000 bytes;
// - the envelope adds at most 6 * 64 bytes of request id and 50 of keys.
// A state file written by hand or by an older version is cut to these
// bounds when it is read, so it never blocks later logins.
namespace StoreLimits {
constexpr int Name = 64;
constexpr int Command = 256;
// Ids, geometries, window modes and passwords are plain words (letters,
// digits, "_", "." and "-"), far shorter than this when this program writes them.
constexpr int Id = 64;
constexpr int Short = 16;
constexpr int Password = 64;
constexpr int Bookmarks = 20;
constexpr int History = 10;
constexpr int Sessions = 20;
constexpr int Log = 10000;
} // namespace StoreLimits

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
