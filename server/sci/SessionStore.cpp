#include "SessionStore.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSaveFile>

namespace {

const QString TimeFormat = QStringLiteral("yyyy-MM-ddThh:mm:ss");
const QString StateFile = QStringLiteral("state.json");
const QString LockFile = QStringLiteral("state.lock");
const int LockTimeoutMs = 20000;

bool isToken(const QString& text)
{
    static const QRegularExpression token(QStringLiteral("^[0-9a-f]{32}$"));
    return token.match(text).hasMatch();
}

QString clipped(const QJsonObject& object, const QString& key, int length)
{
    return object.value(key).toString().left(length);
}

// Ids, geometries, window modes and passwords are plain words that this
// program writes; anything else comes from an edited file and is dropped.
QString plainWord(const QJsonObject& object, const QString& key, int length)
{
    static const QRegularExpression word(QStringLiteral("^[0-9A-Za-z_.-]*$"));
    const QString text = object.value(key).toString();
    return text.size() <= length && word.match(text).hasMatch() ? text : QString();
}

QJsonObject entryToJson(const BookmarkEntry& entry)
{
    return QJsonObject{{QStringLiteral("id"), entry.id},
                       {QStringLiteral("name"), entry.name},
                       {QStringLiteral("command"), entry.command},
                       {QStringLiteral("geometry"), entry.geometry}};
}

BookmarkEntry entryFromJson(const QJsonObject& object)
{
    BookmarkEntry entry;
    entry.id = plainWord(object, QStringLiteral("id"), StoreLimits::Id);
    entry.name = clipped(object, QStringLiteral("name"), StoreLimits::Name);
    entry.command = clipped(object, QStringLiteral("command"), StoreLimits::Command);
    entry.geometry = plainWord(object, QStringLiteral("geometry"), StoreLimits::Short);
    return entry;
}

QJsonObject sessionToJson(const SessionRecord& session)
{
    return QJsonObject{{QStringLiteral("id"), session.id},
                       {QStringLiteral("name"), session.name},
                       {QStringLiteral("command"), session.command},
                       {QStringLiteral("geometry"), session.geometry},
                       {QStringLiteral("windowMode"), session.windowMode},
                       {QStringLiteral("started"), SessionStore::formatTime(session.started)},
                       {QStringLiteral("lastConnect"), SessionStore::formatTime(session.lastConnect)},
                       {QStringLiteral("lastDisconnect"),
                        SessionStore::formatTime(session.lastDisconnect)},
                       {QStringLiteral("port"), int(session.port)},
                       {QStringLiteral("password"), session.password},
                       {QStringLiteral("runtime"), session.runtime}};
}

SessionRecord sessionFromJson(const QJsonObject& object)
{
    SessionRecord session;
    // Session ids are always tokens; anything else comes from an edited file.
    session.id = object.value(QStringLiteral("id")).toString();
    if (!isToken(session.id))
        session.id.clear();
    session.name = clipped(object, QStringLiteral("name"), StoreLimits::Name);
    session.command = clipped(object, QStringLiteral("command"), StoreLimits::Command);
    session.geometry = plainWord(object, QStringLiteral("geometry"), StoreLimits::Short);
    session.windowMode = plainWord(object, QStringLiteral("windowMode"), StoreLimits::Short);
    session.started = SessionStore::parseTime(object.value(QStringLiteral("started")).toString());
    session.lastConnect =
        SessionStore::parseTime(object.value(QStringLiteral("lastConnect")).toString());
    session.lastDisconnect =
        SessionStore::parseTime(object.value(QStringLiteral("lastDisconnect")).toString());
    const int port = object.value(QStringLiteral("port")).toInt();
    session.port = port > 0 && port <= 65535 ? quint16(port) : 0;
    session.password = plainWord(object, QStringLiteral("password"), StoreLimits::Password);
    session.runtime = object.value(QStringLiteral("runtime")).toObject();
    return session;
}

QJsonArray entriesToJson(const QList<BookmarkEntry>& entries)
{
    QJsonArray array;
    for (const BookmarkEntry& entry : entries)
        array.append(entryToJson(entry));
    return array;
}

QList<BookmarkEntry> entriesFromJson(const QJsonValue& value)
{
    QList<BookmarkEntry> entries;
    for (const QJsonValue& element : value.toArray()) {
        const BookmarkEntry entry = entryFromJson(element.toObject());
        if (!entry.id.isEmpty())
            entries.append(entry);
    }
    return entries;
}

} // namespace

SessionStore::SessionStore(const QString& directory)
    : m_directory(directory)
{
}

QString SessionStore::defaultDirectory()
{
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QString base = environment.value(QStringLiteral("XDG_DATA_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/zentu-server");
}

QString SessionStore::directory() const
{
    return m_directory;
}

QString SessionStore::formatTime(const QDateTime& time)
{
    return time.isValid() ? time.toLocalTime().toString(TimeFormat) : QString();
}

QDateTime SessionStore::parseTime(const QString& text)
{
    QDateTime time = QDateTime::fromString(text, TimeFormat);
    time.setTimeSpec(Qt::LocalTime);
    return time;
}

bool SessionStore::ensureDirectory(QString* error) const
{
    if (QDir().mkpath(m_directory + QStringLiteral("/logs"))) {
        // The state holds the sessions' RDP passwords.
        QFile::setPermissions(m_directory, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                               | QFileDevice::ExeOwner);
        return true;
    }
    *error = QStringLiteral("Cannot create the folder \"%1\".").arg(m_directory);
    return false;
}

bool SessionStore::load(StoreState* state, QString* error) const
{
    *state = StoreState();
    QFile file(m_directory + QLatin1Char('/') + StateFile);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Cannot read \"%1\": %2").arg(file.fileName(), file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject()) {
        // Refuse to work on a damaged file rather than overwrite what is left of it.
        *error = QStringLiteral("The file \"%1\" is damaged: %2")
                     .arg(file.fileName(), parseError.errorString());
        return false;
    }
    const QJsonObject root = document.object();
    for (const QJsonValue& element : root.value(QStringLiteral("sessions")).toArray()) {
        const SessionRecord session = sessionFromJson(element.toObject());
        if (!session.id.isEmpty())
            state->sessions.append(session);
    }
    state->bookmarks = entriesFromJson(root.value(QStringLiteral("bookmarks")));
    state->history = entriesFromJson(root.value(QStringLiteral("history")));
    // Too much from an older version or an edited file: keep the newest
    // sessions and history entries and the first bookmarks.
    while (state->sessions.size() > StoreLimits::Sessions)
        state->sessions.removeFirst();
    while (state->history.size() > StoreLimits::History)
        state->history.removeFirst();
    while (state->bookmarks.size() > StoreLimits::Bookmarks)
        state->bookmarks.removeLast();
    return true;
}

bool SessionStore::save(const StoreState& state, QString* error) const
{
    QJsonArray sessions;
    for (const SessionRecord& session : state.sessions)
        sessions.append(sessionToJson(session));
    const QJsonObject root{{QStringLiteral("sessions"), sessions},
                           {QStringLiteral("bookmarks"), entriesToJson(state.bookmarks)},
                           {QStringLiteral("history"), entriesToJson(state.history)}};
    QSaveFile file(m_directory + QLatin1Char('/') + StateFile);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("Cannot write \"%1\": %2").arg(file.fileName(), file.errorString());
        return false;
    }
    file.write(QJsonDocument(root).toJson(QJsonDocument::Indented));
    if (!file.commit()) {
        *error = QStringLiteral("Cannot write \"%1\": %2").arg(file.fileName(), file.errorString());
        return false;
    }
    return true;
}

bool SessionStore::read(StoreState* state, QString* error) const
{
    // The state file is only ever replaced whole, so reading needs no lock.
    return load(state, error);
}

bool SessionStore::update(const Change& change, QString* error)
{
    if (!ensureDirectory(error))
        return false;
    QLockFile lock(m_directory + QLatin1Char('/') + LockFile);
    if (!lock.tryLock(LockTimeoutMs)) {
        *error = QStringLiteral("The session data in \"%1\" is locked by another login.")
                     .arg(m_directory);
        return false;
    }
    StoreState state;
    if (!load(&state, error))
        return false;
    if (!change(state, error))
        return false;
    return save(state, error);
}

QString SessionStore::logPath(const QString& id, const QString& token) const
{
    return m_directory + QStringLiteral("/logs/%1-%2.log").arg(id, token);
}

bool SessionStore::writeLog(const QString& id, const QString& token, const QString& contents,
                            QString* error)
{
    if (!isToken(id) || !isToken(token)) {
        *error = QStringLiteral("Invalid log name.");
        return false;
    }
    if (!ensureDirectory(error))
        return false;
    QSaveFile file(logPath(id, token));
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("Cannot write \"%1\": %2").arg(file.fileName(), file.errorString());
        return false;
    }
    // The end of a start's output says why it failed.
    file.write(contents.right(StoreLimits::Log).toUtf8());
    if (!file.commit()) {
        *error = QStringLiteral("Cannot write \"%1\": %2").arg(file.fileName(), file.errorString());
        return false;
    }
    return true;
}

bool SessionStore::readLog(const QString& id, const QString& token, QString* contents,
                           QString* error) const
{
    // Both names come from the client: only plain tokens may reach the file system.
    if (!isToken(id) || !isToken(token)) {
        *error = QStringLiteral("Invalid log name.");
        return false;
    }
    QFile file(logPath(id, token));
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("No log is kept for the session \"%1\".").arg(id);
        return false;
    }
    // At most three bytes of UTF-8 per character: the tail read holds the
    // last Log characters, whatever the file's size.
    const qint64 tail = qint64(StoreLimits::Log) * 3;
    if (file.size() > tail)
        file.seek(file.size() - tail);
    *contents = QString::fromUtf8(file.read(tail)).right(StoreLimits::Log);
    return true;
}
