#include "SessionMethods.h"

#include "RandomToken.h"
#include "SciServer.h"
#include "SessionLauncher.h"
#include "SessionStore.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

// Clients get two seconds to hang up after a disconnect; the reply waits a
// little longer for the display server to count them out.
constexpr int DisconnectWaitMs = 5000;
constexpr int ClientPollMs = 50;

bool isSessionId(const QString& text)
{
    static const QRegularExpression token(QStringLiteral("^[0-9a-f]{32}$"));
    return token.match(text).hasMatch();
}

// "rootless", "fullscreen" or a desktop size such as "1024x768".
bool isGeometry(const QString& text)
{
    if (text == QLatin1String("rootless") || text == QLatin1String("fullscreen"))
        return true;
    static const QRegularExpression size(QStringLiteral("^([1-9][0-9]{1,4})x([1-9][0-9]{1,4})$"));
    const QRegularExpressionMatch match = size.match(text);
    if (!match.hasMatch())
        return false;
    const int width = match.captured(1).toInt();
    const int height = match.captured(2).toInt();
    return width >= 200 && width <= 8192 && height >= 200 && height <= 8192;
}

// Reads an optional string member; a member of another type is an error.
bool optionalString(const QJsonObject& params, const QString& key, QString* value, bool* present,
                    QString* error)
{
    const QJsonValue member = params.value(key);
    *present = !member.isUndefined();
    if (!*present)
        return true;
    if (!member.isString()) {
        *error = QStringLiteral("The parameter \"%1\" must be a string.").arg(key);
        return false;
    }
    *value = member.toString();
    return true;
}

bool withinLimit(const QString& what, const QString& text, int limit, QString* error)
{
    if (text.size() <= limit)
        return true;
    *error = QStringLiteral("The %1 is longer than %2 characters.").arg(what).arg(limit);
    return false;
}

bool requiredString(const QJsonObject& params, const QString& key, QString* value, QString* error)
{
    bool present = false;
    if (!optionalString(params, key, value, &present, error))
        return false;
    if (!present) {
        *error = QStringLiteral("The parameter \"%1\" is missing.").arg(key);
        return false;
    }
    return true;
}

bool requiredSessionId(const QJsonObject& params, QString* id, QString* error)
{
    if (!requiredString(params, QStringLiteral("id"), id, error))
        return false;
    if (!isSessionId(*id)) {
        *error = QStringLiteral("%1 is not a session id.").arg(quotedInput(*id));
        return false;
    }
    return true;
}

int findSession(const QList<SessionRecord>& sessions, const QString& id)
{
    for (int i = 0; i < sessions.size(); ++i) {
        if (sessions.at(i).id == id)
            return i;
    }
    return -1;
}

int findEntry(const QList<BookmarkEntry>& entries, const QString& id)
{
    for (int i = 0; i < entries.size(); ++i) {
        if (entries.at(i).id == id)
            return i;
    }
    return -1;
}

QString unknownSession(const QString& id)
{
    return QStringLiteral("There is no session \"%1\".").arg(id);
}

QString tooManySessions()
{
    return QStringLiteral("You have %1 sessions already. Terminate one to start another.")
        .arg(StoreLimits::Sessions);
}

const QList<BookmarkEntry>& suggestions()
{
    static const QList<BookmarkEntry> list{
        {QStringLiteral("suggestion-1"), QString(), QStringLiteral("xterm"),
         QStringLiteral("1024x768")},
        {QStringLiteral("suggestion-2"), QString(), QStringLiteral("xterm -ls"),
         QStringLiteral("rootless")},
        {QStringLiteral("suggestion-3"), QStringLiteral("Terminal desktop"),
         QStringLiteral("xterm -ls"), QStringLiteral("1280x800")},
    };
    return list;
}

QJsonArray entriesToJson(const QList<BookmarkEntry>& entries)
{
    QJsonArray array;
    for (const BookmarkEntry& entry : entries)
        array.append(QJsonObject{{QStringLiteral("id"), entry.id},
                                 {QStringLiteral("name"), entry.name},
                                 {QStringLiteral("command"), entry.command},
                                 {QStringLiteral("geometry"), entry.geometry}});
    return array;
}

QJsonObject bookmarkLists(const StoreState& state)
{
    return QJsonObject{{QStringLiteral("suggestions"), entriesToJson(suggestions())},
                       {QStringLiteral("bookmarks"), entriesToJson(state.bookmarks)},
                       {QStringLiteral("history"), entriesToJson(state.history)}};
}

QJsonObject displayResult(const SessionRecord& session)
{
    return QJsonObject{{QStringLiteral("port"), int(session.port)},
                       {QStringLiteral("password"), session.password},
                       {QStringLiteral("geometry"), session.geometry},
                       {QStringLiteral("windowMode"), session.windowMode}};
}

QDateTime now()
{
    // Whole seconds: that is all the stored format keeps.
    const QDateTime time = QDateTime::currentDateTime();
    return time.addMSecs(-time.time().msec());
}

class SessionService
{
public:
    SessionService()
        : m_store(SessionStore::defaultDirectory())
        , m_launcher(m_store.directory())
    {
    }

    void list(const QJsonObject&, const SciServer::Reply& reply);
    void params(const QJsonObject& params, const SciServer::Reply& reply);
    void start(const QJsonObject& params, const SciServer::Reply& reply);
    void connectSession(const QJsonObject& params, const SciServer::Reply& reply);
    void disconnectSession(const QJsonObject& params, const SciServer::Reply& reply);
    void terminate(const QJsonObject& params, const SciServer::Reply& reply);
    void log(const QJsonObject& params, const SciServer::Reply& reply);
    void bookmark(const QJsonObject& params, const SciServer::Reply& reply);

private:
    using SessionChange = std::function<bool(StoreState& state, int row, QString* error)>;

    // Applies change to the stored session named by the "id" parameter, under
    // the store's lock; replies with the error when that fails.
    bool changeSession(const QJsonObject& params, const SciServer::Reply& reply,
                       const SessionChange& change);
    void editBookmark(const QJsonObject& params, const SciServer::Reply& reply);
    void deleteBookmark(const QJsonObject& params, const SciServer::Reply& reply);
    void replyLists(const SciServer::Reply& reply);
    int liveSessions(const QList<SessionRecord>& sessions) const;

    SessionStore m_store;
    SessionLauncher m_launcher;
};

void SessionService::list(const QJsonObject&, const SciServer::Reply& reply)
{
    QString error;
    StoreState state;
    if (!m_store.read(&state, &error)) {
        reply.error(SciServer::ServerError, error);
        return;
    }
    QJsonArray sessions;
    QStringList ended;
    for (const SessionRecord& session : qAsConst(state.sessions)) {
        if (!m_launcher.isAlive(session)) {
            ended.append(session.id);
            continue;
        }
        QJsonObject object{{QStringLiteral("id"), session.id},
                           {QStringLiteral("windowMode"), session.windowMode},
                           {QStringLiteral("geometry"), session.geometry},
                           {QStringLiteral("params"),
                            QJsonObject{{QStringLiteral("name"), session.name}}},
                           {QStringLiteral("command"), session.command},
                           {QStringLiteral("clients"), m_launcher.clientCount(session)}};
        // The later of a disconnect asked for here and the last client
        // leaving by itself.
        QDateTime lastDisconnect = m_launcher.lastClientLeft(session);
        if (!lastDisconnect.isValid()
            || (session.lastDisconnect.isValid() && session.lastDisconnect > lastDisconnect))
            lastDisconnect = session.lastDisconnect;
        const std::pair<QString, QDateTime> times[] = {
            {QStringLiteral("started"), session.started},
            {QStringLiteral("lastConnect"), session.lastConnect},
            {QStringLiteral("lastDisconnect"), lastDisconnect}};
        for (const auto& time : times) {
            if (time.second.isValid())
                object.insert(time.first, SessionStore::formatTime(time.second));
        }
        sessions.append(object);
    }
    if (!ended.isEmpty()) {
        // Sessions that ended by themselves; another login may have removed them already.
        const bool dropped = m_store.update(
            [&ended](StoreState& current, QString*) {
                for (const QString& id : ended) {
                    const int row = findSession(current.sessions, id);
                    if (row >= 0)
                        current.sessions.removeAt(row);
                }
                return true;
            },
            &error);
        if (!dropped) {
            reply.error(SciServer::ServerError, error);
            return;
        }
    }
    reply.result(sessions);
}

void SessionService::params(const QJsonObject& params, const SciServer::Reply& reply)
{
    QString error;
    QString id;
    QString name;
    if (!requiredSessionId(params, &id, &error)
        || !requiredString(params, QStringLiteral("name"), &name, &error)
        || !withinLimit(QStringLiteral("name"), name.trimmed(), StoreLimits::Name, &error)) {
        reply.error(SciServer::InvalidParams, error);
        return;
    }
    const bool changed = m_store.update(
        [&](StoreState& state, QString* changeError) {
            const int row = findSession(state.sessions, id);
            if (row < 0) {
                *changeError = unknownSession(id);
                return false;
            }
            state.sessions[row].name = name.trimmed();
            return true;
        },
        &error);
    if (changed)
        reply.result(QJsonObject());
    else
        reply.error(SciServer::ServerError, error);
}

void SessionService::start(const QJsonObject& params, const SciServer::Reply& reply)
{
    QString error;
    SessionRecord session;
    QString geometry;
    bool hasName = false;
    if (!requiredSessionId(params, &session.id, &error)
        || !requiredString(params, QStringLiteral("command"), &session.command, &error)
        || !requiredString(params, QStringLiteral("geometry"), &geometry, &error)
        || !optionalString(params, QStringLiteral("name"), &session.name, &hasName, &error)) {
        reply.error(SciServer::InvalidParams, error);
        return;
    }
    session.command = session.command.trimmed();
    if (session.command.isEmpty()) {
        reply.error(SciServer::InvalidParams, QStringLiteral("The command is empty."));
        return;
    }
    if (!withinLimit(QStringLiteral("command"), session.command, StoreLimits::Command, &error)
        || !withinLimit(QStringLiteral("name"), session.name, StoreLimits::Name, &error)) {
        reply.error(SciServer::InvalidParams, error);
        return;
    }
    if (geometry.isEmpty())
        geometry = QStringLiteral("1024x768");
    if (!isGeometry(geometry)) {
        reply.error(SciServer::InvalidParams,
                    QStringLiteral("%1 is not a window size.").arg(quotedInput(geometry)));
        return;
    }
    session.geometry = geometry;
    StoreState state;
    if (!m_store.read(&state, &error)) {
        reply.error(SciServer::ServerError, error);
        return;
    }
    if (findSession(state.sessions, session.id) >= 0) {
        reply.error(SciServer::InvalidParams,
                    QStringLiteral("The session \"%1\" exists already.").arg(session.id));
        return;
    }
    if (liveSessions(state.sessions) >= StoreLimits::Sessions) {
        reply.error(SciServer::ServerError, tooManySessions());
        return;
    }

    QString log;
    if (!m_launcher.startSession(session, &error, &log)) {
        QString token;
        QString logError;
        if (randomToken(&token, &logError) && m_store.writeLog(session.id, token, log, &logError)) {
            reply.error(SciServer::ServerError, error,
                        QJsonObject{{QStringLiteral("id"), session.id},
                                    {QStringLiteral("log"), token}});
        } else {
            reply.error(SciServer::ServerError, error);
        }
        return;
    }
    session.started = now();
    session.lastConnect = session.started;

    QString historyId;
    randomToken(&historyId, &error);
    const bool stored = m_store.update(
        [&](StoreState& current, QString* changeError) {
            if (findSession(current.sessions, session.id) >= 0) {
                *changeError =
                    QStringLiteral("The session \"%1\" exists already.").arg(session.id);
                return false;
            }
            // Another login may have started sessions meanwhile.
            if (liveSessions(current.sessions) >= StoreLimits::Sessions) {
                *changeError = tooManySessions();
                return false;
            }
            current.sessions.append(session);
            if (historyId.isEmpty())
                return true;
            // The newest use of a command line replaces its older entries.
            for (int i = current.history.size() - 1; i >= 0; --i) {
                const BookmarkEntry& entry = current.history.at(i);
                if (entry.command == session.command && entry.geometry == session.geometry
                    && entry.name == session.name)
                    current.history.removeAt(i);
            }
            current.history.append({historyId, session.name, session.command, session.geometry});
            while (current.history.size() > StoreLimits::History)
                current.history.removeFirst();
            return true;
        },
        &error);
    if (!stored) {
        QString ignored;
        m_launcher.terminateSession(session, &ignored);
        reply.error(SciServer::ServerError, error);
        return;
    }
    reply.result(displayResult(session));
}

bool SessionService::changeSession(const QJsonObject& params, const SciServer::Reply& reply,
                                   const SessionChange& change)
{
    QString error;
    QString id;
    if (!requiredSessionId(params, &id, &error)) {
        reply.error(SciServer::InvalidParams, error);
        return false;
    }
    const bool done = m_store.update(
        [&](StoreState& state, QString* changeError) {
            const int row = findSession(state.sessions, id);
            if (row < 0) {
                *changeError = unknownSession(id);
                return false;
            }
            return change(state, row, changeError);
        },
        &error);
    if (!done)
        reply.error(SciServer::ServerError, error);
    return done;
}

void SessionService::connectSession(const QJsonObject& params, const SciServer::Reply& reply)
{
    SessionRecord session;
    const bool found = changeSession(params, reply, [&](StoreState& state, int row, QString* error) {
        if (!m_launcher.isAlive(state.sessions.at(row))) {
            *error = unknownSession(state.sessions.at(row).id);
            return false;
        }
        state.sessions[row].lastConnect = now();
        session = state.sessions.at(row);
        return true;
    });
    if (found)
        reply.result(displayResult(session));
}

void SessionService::disconnectSession(const QJsonObject& params, const SciServer::Reply& reply)
{
    SessionRecord session;
    const bool done = changeSession(params, reply, [&](StoreState& state, int row, QString* error) {
        if (!m_launcher.disconnectClients(state.sessions.at(row), error))
            return false;
        state.sessions[row].lastDisconnect = now();
        session = state.sessions.at(row);
        return true;
    });
    if (!done)
        return;
    // A list asked for after the reply must no longer count the clients. The
    // wait is short and bounded, like the one for a session to end.
    QElapsedTimer timer;
    timer.start();
    while (m_launcher.clientCount(session) > 0 && timer.elapsed() < DisconnectWaitMs)
        QThread::msleep(ClientPollMs);
    reply.result(QJsonObject());
}

void SessionService::terminate(const QJsonObject& params, const SciServer::Reply& reply)
{
    const bool done = changeSession(params, reply, [&](StoreState& state, int row, QString* error) {
        if (!m_launcher.terminateSession(state.sessions.at(row), error))
            return false;
        state.sessions.removeAt(row);
        return true;
    });
    if (done)
        reply.result(QJsonObject());
}

void SessionService::log(const QJsonObject& params, const SciServer::Reply& reply)
{
    QString error;
    QString id;
    QString token;
    if (!requiredString(params, QStringLiteral("id"), &id, &error)
        || !requiredString(params, QStringLiteral("log"), &token, &error)) {
        reply.error(SciServer::InvalidParams, error);
        return;
    }
    QString contents;
    if (!m_store.readLog(id, token, &contents, &error)) {
        reply.error(SciServer::ServerError, error);
        return;
    }
    reply.result(QJsonObject{{QStringLiteral("contents"), contents}});
}

int SessionService::liveSessions(const QList<SessionRecord>& sessions) const
{
    return int(std::count_if(sessions.cbegin(), sessions.cend(),
                             [this](const SessionRecord& session) { return m_launcher.isAlive(session); }));
}

void SessionService::replyLists(const SciServer::Reply& reply)
{
    QString error;
    StoreState state;
    if (m_store.read(&state, &error))
        reply.result(bookmarkLists(state));
    else
        reply.error(SciServer::ServerError, error);
}

void SessionService::bookmark(const QJsonObject& params, const SciServer::Reply& reply)
{
    QString error;
    QString op;
    if (!requiredString(params, QStringLiteral("op"), &op, &error)) {
        reply.error(SciServer::InvalidParams, error);
        return;
    }
    if (op == QLatin1String("list"))
        replyLists(reply);
    else if (op == QLatin1String("edit"))
        editBookmark(params, reply);
    else if (op == QLatin1String("delete"))
        deleteBookmark(params, reply);
    else
        reply.error(SciServer::InvalidParams, QStringLiteral("Unknown operation %1.").arg(quotedInput(op)));
}

void SessionService::editBookmark(const QJsonObject& params, const SciServer::Reply& reply)
{
    QString error;
    BookmarkEntry edit;
    bool hasId = false;
    bool hasName = false;
    bool hasCommand = false;
    bool hasGeometry = false;
    if (!optionalString(params, QStringLiteral("id"), &edit.id, &hasId, &error)
        || !optionalString(params, QStringLiteral("name"), &edit.name, &hasName, &error)
        || !optionalString(params, QStringLiteral("command"), &edit.command, &hasCommand, &error)
        || !optionalString(params, QStringLiteral("geometry"), &edit.geometry, &hasGeometry,
                           &error)) {
        reply.error(SciServer::InvalidParams, error);
        return;
    }
    edit.command = edit.command.trimmed();
    if (hasCommand && edit.command.isEmpty()) {
        reply.error(SciServer::InvalidParams, QStringLiteral("The command is empty."));
        return;
    }
    if (!withinLimit(QStringLiteral("command"), edit.command, StoreLimits::Command, &error)
        || !withinLimit(QStringLiteral("name"), edit.name, StoreLimits::Name, &error)) {
        reply.error(SciServer::InvalidParams, error);
        return;
    }
    if (hasGeometry && !edit.geometry.isEmpty() && !isGeometry(edit.geometry)) {
        reply.error(SciServer::InvalidParams,
                    QStringLiteral("%1 is not a window size.").arg(quotedInput(edit.geometry)));
        return;
    }
    if (!hasId) {
        if (!hasCommand) {
            reply.error(SciServer::InvalidParams, QStringLiteral("The command is missing."));
            return;
        }
        if (!randomToken(&edit.id, &error)) {
            reply.error(SciServer::ServerError, error);
            return;
        }
    }
    StoreState result;
    const bool done = m_store.update(
        [&](StoreState& state, QString* changeError) {
            if (!hasId) {
                if (state.bookmarks.size() >= StoreLimits::Bookmarks) {
                    *changeError =
                        QStringLiteral("You have %1 bookmarks already. Delete one to add another.")
                            .arg(StoreLimits::Bookmarks);
                    return false;
                }
                state.bookmarks.append(edit);
            } else {
                const int row = findEntry(state.bookmarks, edit.id);
                if (row < 0) {
                    *changeError = findEntry(suggestions(), edit.id) >= 0
                        ? QStringLiteral("Suggestions cannot be changed.")
                        : QStringLiteral("There is no bookmark %1.").arg(quotedInput(edit.id));
                    return false;
                }
                BookmarkEntry& entry = state.bookmarks[row];
                if (hasName)
                    entry.name = edit.name;
                if (hasCommand)
                    entry.command = edit.command;
                if (hasGeometry)
                    entry.geometry = edit.geometry;
            }
            result = state;
            return true;
        },
        &error);
    if (done)
        reply.result(bookmarkLists(result));
    else
        reply.error(SciServer::ServerError, error);
}

void SessionService::deleteBookmark(const QJsonObject& params, const SciServer::Reply& reply)
{
    QString error;
    QString id;
    if (!requiredString(params, QStringLiteral("id"), &id, &error)) {
        reply.error(SciServer::InvalidParams, error);
        return;
    }
    StoreState result;
    const bool done = m_store.update(
        [&](StoreState& state, QString* changeError) {
            int row = findEntry(state.bookmarks, id);
            if (row >= 0) {
                state.bookmarks.removeAt(row);
            } else if ((row = findEntry(state.history, id)) >= 0) {
                state.history.removeAt(row);
            } else {
                *changeError = findEntry(suggestions(), id) >= 0
                    ? QStringLiteral("Suggestions cannot be deleted.")
                    : QStringLiteral("There is no bookmark or history entry %1.").arg(quotedInput(id));
                return false;
            }
            result = state;
            return true;
        },
        &error);
    if (done)
        reply.result(bookmarkLists(result));
    else
        reply.error(SciServer::ServerError, error);
}

} // namespace

void registerSessionMethods(SciServer& server)
{
    const auto service = std::make_shared<SessionService>();
    using Method = void (SessionService::*)(const QJsonObject&, const SciServer::Reply&);
    const std::pair<QString, Method> methods[] = {
        {QStringLiteral("Zentu.list"), &SessionService::list},
        {QStringLiteral("Zentu.params"), &SessionService::params},
        {QStringLiteral("Zentu.start"), &SessionService::start},
        {QStringLiteral("Zentu.connect"), &SessionService::connectSession},
        {QStringLiteral("Zentu.disconnect"), &SessionService::disconnectSession},
        {QStringLiteral("Zentu.terminate"), &SessionService::terminate},
        {QStringLiteral("Zentu.log"), &SessionService::log},
        {QStringLiteral("Zentu.bookmark"), &SessionService::bookmark},
    };
    for (const auto& method : methods) {
        const Method member = method.second;
        server.registerMethod(method.first,
                              [service, member](const QJsonObject& params, SciServer::Reply reply) {
                                  ((*service).*member)(params, reply);
                              });
    }
}
