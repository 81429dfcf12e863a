// The command-interface stand-in's session and bookmark methods: replies,
// sound errors for bad requests, state kept across logins, concurrent
// logins of one user that change the state at the same time, and replies
// that stay within the frame limit whatever the state holds.
#include "JsonRpcHandler.h"
#include "NetString.h"
#include "SciProcess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QTest>

#include <csignal>

namespace {

QString message(const QJsonValue& error)
{
    return error.toObject().value(QStringLiteral("message")).toString();
}

QJsonObject startParams(const QString& id, const QString& command, const QString& geometry)
{
    return QJsonObject{{QStringLiteral("id"), id},
                       {QStringLiteral("command"), command},
                       {QStringLiteral("geometry"), geometry}};
}

// Size of the frame payload a reply with this result takes.
int replySize(const QJsonValue& result)
{
    return int(QJsonDocument(QJsonObject{{QStringLiteral("id"), newSessionId()},
                                         {QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                                         {QStringLiteral("result"), result}})
                   .toJson(QJsonDocument::Compact)
                   .size());
}

bool writeFile(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

} // namespace

class SciMethodsTest : public QObject
{
    Q_OBJECT

private slots:
    void badRequestsGetErrors_data();
    void badRequestsGetErrors();
    void sessionThatEndsByItselfIsDropped();
    void bookmarksAndHistory();
    void concurrentLoginsKeepEveryChange();
    void damagedStateIsNotOverwritten();
    void overfullStateIsTrimmedAndRepliesFit();
    void oversizedRequestIsRefusedCleanly();
    void oversizedReplyBecomesAnError();
};

void SciMethodsTest::badRequestsGetErrors_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QJsonObject>("params");
    // UNKNOWN stands for an id of the right form that names no session.
    const auto row = [](const char* name, const char* method, const char* params) {
        QByteArray text(params);
        text.replace("UNKNOWN", "\"0123456789abcdef0123456789abcdef\"");
        QTest::newRow(name) << QString::fromLatin1(method) << jsonObject(text.constData());
    };
    row("params without id", "Zentu.params", R"({"name": "x"})");
    row("params unknown id", "Zentu.params", R"({"id": UNKNOWN, "name": "x"})");
    row("params name not a string", "Zentu.params", R"({"id": UNKNOWN, "name": 3})");
    row("start id not a token", "Zentu.start", R"({"id": "../../etc", "command": "xterm", "geometry": "1024x768"})");
    row("start empty command", "Zentu.start", R"({"id": UNKNOWN, "command": "  ", "geometry": "1024x768"})");
    row("start bad geometry", "Zentu.start", R"({"id": UNKNOWN, "command": "xterm", "geometry": "huge"})");
    row("start tiny geometry", "Zentu.start", R"({"id": UNKNOWN, "command": "xterm", "geometry": "10x10"})");
    row("connect unknown", "Zentu.connect", R"({"id": UNKNOWN})");
    row("connect id number", "Zentu.connect", R"({"id": 5})");
    row("disconnect unknown", "Zentu.disconnect", R"({"id": UNKNOWN})");
    row("terminate unknown", "Zentu.terminate", R"({"id": UNKNOWN})");
    row("log traversal", "Zentu.log", R"({"id": "../state", "log": "x"})");
    row("log unknown", "Zentu.log", R"({"id": UNKNOWN, "log": UNKNOWN})");
    row("bookmark no op", "Zentu.bookmark", "{}");
    row("bookmark bad op", "Zentu.bookmark", R"({"op": "drop"})");
    row("bookmark edit unknown", "Zentu.bookmark", R"({"op": "edit", "id": "nope", "name": "x"})");
    row("bookmark edit suggestion", "Zentu.bookmark", R"({"op": "edit", "id": "suggestion-1", "name": "x"})");
    row("bookmark create without command", "Zentu.bookmark", R"({"op": "edit", "name": "x"})");
    row("bookmark delete unknown", "Zentu.bookmark", R"({"op": "delete", "id": "nope"})");
    // What the user sent is quoted in the message only in part.
    const QString flood(3000, QLatin1Char('x'));
    QTest::newRow("unknown long method") << QStringLiteral("Zentu.") + flood << QJsonObject();
    QTest::newRow("long geometry") << QStringLiteral("Zentu.start")
                                   << startParams(newSessionId(), QStringLiteral("xterm"), flood);
    QTest::newRow("long bookmark id")
        << QStringLiteral("Zentu.bookmark")
        << QJsonObject{{QStringLiteral("op"), QStringLiteral("delete")}, {QStringLiteral("id"), flood}};
    QTest::newRow("long command") << QStringLiteral("Zentu.start")
                                  << startParams(newSessionId(), flood, QStringLiteral("800x600"));
    QTest::newRow("long bookmark name")
        << QStringLiteral("Zentu.bookmark")
        << QJsonObject{{QStringLiteral("op"), QStringLiteral("edit")},
                       {QStringLiteral("name"), flood},
                       {QStringLiteral("command"), QStringLiteral("xterm")}};
}

void SciMethodsTest::badRequestsGetErrors()
{
    QFETCH(QString, method);
    QFETCH(QJsonObject, params);
    SciProcess sci;
    QString error;
    QVERIFY2(sci.start(&error), qPrintable(error));
    QJsonValue result;
    QJsonValue failure;
    QVERIFY(sci.call(method, params, &result, &failure));
    QVERIFY(result.isUndefined());
    QVERIFY2(!message(failure).isEmpty(), qPrintable(QJsonDocument(failure.toObject()).toJson()));
    QVERIFY2(message(failure).size() < 200, qPrintable(message(failure).left(200)));
    // The stand-in goes on answering after an error.
    QVERIFY(sci.call(QStringLiteral("Zentu.list"), QJsonObject(), &result));
    QVERIFY(result.isArray());
    QVERIFY(sci.storedState().value(QStringLiteral("sessions")).toArray().isEmpty());
}

void SciMethodsTest::sessionThatEndsByItselfIsDropped()
{
    SciProcess sci;
    QString error;
    QVERIFY2(sci.start(&error), qPrintable(error));
    const QString id = newSessionId();
    QJsonValue result;
    QVERIFY(sci.call(QStringLiteral("Zentu.start"),
                     startParams(id, QStringLiteral("xterm"), QStringLiteral("800x600")), &result));
    QVERIFY(result.isObject());
    const QJsonObject stored = sci.storedState().value(QStringLiteral("sessions")).toArray().at(0).toObject();
    const qint64 pid = qint64(stored.value(QStringLiteral("runtime")).toObject().value(QStringLiteral("pid")).toDouble());
    QVERIFY(pid > 0);
    QCOMPARE(::kill(pid_t(pid), SIGTERM), 0);
    QTRY_VERIFY_WITH_TIMEOUT(::kill(pid_t(pid), 0) != 0, 15000);
    QVERIFY(sci.call(QStringLiteral("Zentu.list"), QJsonObject(), &result));
    QVERIFY(result.toArray().isEmpty());
    QVERIFY(sci.storedState().value(QStringLiteral("sessions")).toArray().isEmpty());
    QJsonValue failure;
    QVERIFY(sci.call(QStringLiteral("Zentu.connect"), QJsonObject{{QStringLiteral("id"), id}}, &result,
                     &failure));
    QVERIFY(!message(failure).isEmpty());
}

void SciMethodsTest::bookmarksAndHistory()
{
    SciProcess sci;
    QString error;
    QVERIFY2(sci.start(&error), qPrintable(error));
    QJsonValue result;
    QVERIFY(sci.call(QStringLiteral("Zentu.bookmark"), jsonObject(R"({"op": "list"})"), &result));
    const QJsonObject lists = result.toObject();
    QVERIFY(!lists.value(QStringLiteral("suggestions")).toArray().isEmpty());
    QVERIFY(lists.value(QStringLiteral("bookmarks")).toArray().isEmpty());
    QVERIFY(lists.value(QStringLiteral("history")).toArray().isEmpty());
    bool rootlessSuggestion = false;
    for (const QJsonValue& entry : lists.value(QStringLiteral("suggestions")).toArray())
        rootlessSuggestion |= entry.toObject().value(QStringLiteral("geometry")) == QStringLiteral("rootless");
    QVERIFY(rootlessSuggestion);

    // Starting the same line twice keeps one history entry; a failed start adds none.
    for (int i = 0; i < 2; ++i) {
        QVERIFY(sci.call(QStringLiteral("Zentu.start"),
                         startParams(newSessionId(), QStringLiteral("xterm"), QStringLiteral("800x600")),
                         &result));
        QVERIFY(result.isObject());
    }
    // (The refusal's start log: tst_sessionlaunch::failedStartKeepsItsLog.)
    QJsonValue failure;
    QVERIFY(sci.call(QStringLiteral("Zentu.start"),
                     startParams(newSessionId(), QStringLiteral("no-such-program-here"), QStringLiteral("800x600")),
                     &result, &failure));
    QVERIFY(!message(failure).isEmpty());

    QVERIFY(sci.call(QStringLiteral("Zentu.bookmark"), jsonObject(R"({"op": "list"})"), &result));
    const QJsonArray history = result.toObject().value(QStringLiteral("history")).toArray();
    QCOMPARE(history.size(), 1);
    const QString historyId = history.at(0).toObject().value(QStringLiteral("id")).toString();

    // Create, edit in place, delete.
    QVERIFY(sci.call(QStringLiteral("Zentu.bookmark"),
                     jsonObject(R"({"op": "edit", "name": "Term", "command": "xterm", "geometry": "800x600"})"),
                     &result));
    const QJsonArray bookmarks = result.toObject().value(QStringLiteral("bookmarks")).toArray();
    QCOMPARE(bookmarks.size(), 1);
    const QString bookmarkId = bookmarks.at(0).toObject().value(QStringLiteral("id")).toString();
    QVERIFY(!bookmarkId.isEmpty());
    QJsonObject edit = jsonObject(R"({"op": "edit", "name": "Terminal", "command": "xterm -ls", "geometry": "rootless"})");
    edit.insert(QStringLiteral("id"), bookmarkId);
    QVERIFY(sci.call(QStringLiteral("Zentu.bookmark"), edit, &result));
    const QJsonObject edited = result.toObject().value(QStringLiteral("bookmarks")).toArray().at(0).toObject();
    QCOMPARE(edited.value(QStringLiteral("name")).toString(), QStringLiteral("Terminal"));
    QCOMPARE(edited.value(QStringLiteral("geometry")).toString(), QStringLiteral("rootless"));
    QVERIFY(sci.call(QStringLiteral("Zentu.bookmark"),
                     QJsonObject{{QStringLiteral("op"), QStringLiteral("delete")}, {QStringLiteral("id"), historyId}},
                     &result));
    QVERIFY(result.toObject().value(QStringLiteral("history")).toArray().isEmpty());
    QCOMPARE(result.toObject().value(QStringLiteral("bookmarks")).toArray().size(), 1);
}

void SciMethodsTest::concurrentLoginsKeepEveryChange()
{
    QTemporaryDir data;
    SciProcess first(data.path());
    SciProcess second(data.path());
    QString error;
    QVERIFY2(first.start(&error), qPrintable(error));
    QVERIFY2(second.start(&error), qPrintable(error));
    // Both logins fire their edits without waiting, so the stand-ins
    // interleave; together they fill the bookmarks to their bound.
    const int perLogin = 10;
    int answered = 0;
    for (int i = 0; i < perLogin; ++i) {
        for (SciProcess* sci : {&first, &second}) {
            sci->handler()->call(QStringLiteral("Zentu.bookmark"),
                                 QJsonObject{{QStringLiteral("op"), QStringLiteral("edit")},
                                             {QStringLiteral("name"), QStringLiteral("b%1").arg(i)},
                                             {QStringLiteral("command"), QStringLiteral("xterm")},
                                             {QStringLiteral("geometry"), QStringLiteral("800x600")}},
                                 [&answered](const QString&, const QJsonValue& result, const QJsonValue&) {
                                     if (result.isObject())
                                         ++answered;
                                 });
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(answered, 2 * perLogin, 60000);
    QCOMPARE(first.storedState().value(QStringLiteral("bookmarks")).toArray().size(), 2 * perLogin);
}

void SciMethodsTest::damagedStateIsNotOverwritten()
{
    QTemporaryDir data;
    QVERIFY(QDir().mkpath(data.filePath(QStringLiteral("zentu-server"))));
    QFile state(data.filePath(QStringLiteral("zentu-server/state.json")));
    QVERIFY(state.open(QIODevice::WriteOnly));
    state.write("{\"bookmarks\": [ {\"id\": \"x\", ");
    state.close();
    SciProcess sci(data.path());
    QString error;
    QVERIFY2(sci.start(&error), qPrintable(error));
    QJsonValue result;
    QJsonValue failure;
    QVERIFY(sci.call(QStringLiteral("Zentu.bookmark"),
                     jsonObject(R"({"op": "edit", "command": "xterm"})"),
                     &result, &failure));
    QVERIFY(message(failure).contains(QStringLiteral("damaged")));
    QVERIFY(state.open(QIODevice::ReadOnly));
    QCOMPARE(state.readAll(), QByteArray("{\"bookmarks\": [ {\"id\": \"x\", "));
}

void SciMethodsTest::overfullStateIsTrimmedAndRepliesFit()
{
    // More sessions and entries than are kept, each string far beyond its
    // bound and made of a character that JSON writes as six bytes.
    QProcess supervisor;
    supervisor.start(QStringLiteral("sleep"), {QStringLiteral("600")});
    QVERIFY(supervisor.waitForStarted());
    QTemporaryDir data;
    // Also ends the stand-in supervisor, which every session names.
    const auto endSessions = qScopeGuard([&data]() { terminateSessions(data.path()); });
    const QByteArray pid = QByteArray::number(supervisor.processId());
    const QString folder = data.filePath(QStringLiteral("zentu-server"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/logs")));
    const QString worst(1000, QChar(1));
    QJsonArray sessions;
    QString lastSession;
    for (int i = 0; i < 30; ++i) {
        lastSession = newSessionId();
        // Sessions that look alive: the recorded supervisor runs.
        const QString dir = folder + QStringLiteral("/sessions/") + lastSession;
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(writeFile(dir + QStringLiteral("/supervisor.pid"), pid + '\n'));
        QVERIFY(writeFile(dir + QStringLiteral("/clients"), "-2147483648\n1700000000\n"));
        sessions.append(QJsonObject{
            {QStringLiteral("id"), lastSession}, {QStringLiteral("name"), worst},
            {QStringLiteral("command"), worst}, {QStringLiteral("geometry"), QString(16, QLatin1Char('g'))},
            {QStringLiteral("windowMode"), QString(16, QLatin1Char('w'))},
            {QStringLiteral("password"), QString(64, QLatin1Char('p'))},
            {QStringLiteral("started"), QStringLiteral("2026-01-01T00:00:00")},
            {QStringLiteral("lastConnect"), QStringLiteral("2026-01-01T00:00:00")},
            {QStringLiteral("runtime"), QJsonObject{{QStringLiteral("pid"), pid.toDouble()},
                                                    {QStringLiteral("dir"), dir}}}});
    }
    QJsonArray entries;
    for (int i = 0; i < 40; ++i)
        entries.append(QJsonObject{{QStringLiteral("id"), QStringLiteral("%1").arg(i, 64, 10, QLatin1Char('0'))},
                                   {QStringLiteral("name"), worst},
                                   {QStringLiteral("command"), worst},
                                   {QStringLiteral("geometry"), QString(16, QLatin1Char('g'))}});
    const QJsonObject overfull{{QStringLiteral("sessions"), sessions},
                               {QStringLiteral("bookmarks"), entries},
                               {QStringLiteral("history"), entries}};
    QVERIFY(writeFile(folder + QStringLiteral("/state.json"), QJsonDocument(overfull).toJson()));
    const QString logToken = newSessionId();
    QVERIFY(writeFile(folder + QStringLiteral("/logs/%1-%2.log").arg(lastSession, logToken),
                      QByteArray(200000, '\x01')));

    SciProcess sci(data.path());
    QString error;
    QVERIFY2(sci.start(&error), qPrintable(error));
    QJsonValue result;
    QJsonValue failure;
    QVERIFY(sci.call(QStringLiteral("Zentu.list"), QJsonObject(), &result, &failure));
    const QJsonArray listed = result.toArray();
    QCOMPARE(listed.size(), 20);
    const QJsonObject session = listed.last().toObject();
    QCOMPARE(session.value(QStringLiteral("command")).toString(), worst.left(256));
    QCOMPARE(session.value(QStringLiteral("params")).toObject().value(QStringLiteral("name")).toString(),
             worst.left(64));
    qInfo("list of 20 sessions: %d bytes", replySize(result));
    QVERIFY(replySize(result) <= NetStringBuffer::MaxPayload);

    QVERIFY(sci.call(QStringLiteral("Zentu.bookmark"), jsonObject(R"({"op": "list"})"), &result));
    const QJsonObject lists = result.toObject();
    QCOMPARE(lists.value(QStringLiteral("bookmarks")).toArray().size(), 20);
    QCOMPARE(lists.value(QStringLiteral("history")).toArray().size(), 10);
    QCOMPARE(lists.value(QStringLiteral("history")).toArray().at(0).toObject().value(QStringLiteral("command")),
             QJsonValue(worst.left(256)));
    qInfo("bookmarks and history: %d bytes", replySize(result));
    QVERIFY(replySize(result) <= NetStringBuffer::MaxPayload);

    QVERIFY(sci.call(QStringLiteral("Zentu.log"),
                     QJsonObject{{QStringLiteral("id"), lastSession}, {QStringLiteral("log"), logToken}}, &result));
    QCOMPARE(result.toObject().value(QStringLiteral("contents")).toString().size(), 10000);
    qInfo("log: %d bytes", replySize(result));
    QVERIFY(replySize(result) <= NetStringBuffer::MaxPayload);

    // Full: a clear refusal instead of a reply that would not fit.
    QVERIFY(sci.call(QStringLiteral("Zentu.start"),
                     startParams(newSessionId(), QStringLiteral("xterm"), QStringLiteral("800x600")), &result,
                     &failure));
    QVERIFY2(message(failure).contains(QStringLiteral("20 sessions already")), qPrintable(message(failure)));
    QVERIFY(sci.call(QStringLiteral("Zentu.bookmark"), jsonObject(R"({"op": "edit", "command": "xterm"})"),
                     &result, &failure));
    QVERIFY2(message(failure).contains(QStringLiteral("20 bookmarks already")), qPrintable(message(failure)));

    // The first change writes the trimmed state back.
    QVERIFY(sci.call(QStringLiteral("Zentu.bookmark"),
                     QJsonObject{{QStringLiteral("op"), QStringLiteral("delete")},
                                 {QStringLiteral("id"), QStringLiteral("%1").arg(0, 64, 10, QLatin1Char('0'))}},
                     &result));
    const QJsonObject stored = sci.storedState();
    QCOMPARE(stored.value(QStringLiteral("sessions")).toArray().size(), 20);
    QCOMPARE(stored.value(QStringLiteral("bookmarks")).toArray().size(), 19);
    QCOMPARE(stored.value(QStringLiteral("history")).toArray().size(), 10);
}

void SciMethodsTest::oversizedRequestIsRefusedCleanly()
{
    SciProcess sci;
    QString error;
    QVERIFY2(sci.start(&error), qPrintable(error));
    // An id of raw control characters, which JSON writes back six times as
    // long, is not echoed: the client would have to refuse that reply.
    const QByteArray longId(30000, '\x01');
    sci.process()->write(encodeNetString("{\"id\":\"" + longId + "\",\"jsonrpc\":\"2.0\",\"method\":\"Zentu.version\"}"));
    QJsonValue result;
    QJsonValue failure;
    QVERIFY(sci.call(QStringLiteral("Zentu.version"), QJsonObject(), &result));
    QVERIFY(result.isObject());

    QVERIFY(sci.call(QStringLiteral("Zentu.bookmark"),
                     QJsonObject{{QStringLiteral("op"), QStringLiteral("edit")},
                                 {QStringLiteral("command"), QString(70000, QLatin1Char('x'))}},
                     &result, &failure));
    QVERIFY2(message(failure).contains(QStringLiteral("larger than 65536")), qPrintable(message(failure)));
    // The frame cannot be skipped safely: the channel ends, without an error of its own.
    QTRY_COMPARE_WITH_TIMEOUT(sci.process()->state(), QProcess::NotRunning, 10000);
    QCOMPARE(sci.process()->exitStatus(), QProcess::NormalExit);
    QCOMPARE(sci.process()->exitCode(), 0);
}

void SciMethodsTest::oversizedReplyBecomesAnError()
{
    // A data folder whose name alone is longer than a frame: the message
    // naming it must not cost the client its channel.
    SciProcess sci(QStringLiteral("/") + QString(70000, QLatin1Char('d')));
    QString error;
    QVERIFY2(sci.start(&error), qPrintable(error));
    QJsonValue result;
    QJsonValue failure;
    QVERIFY(sci.call(QStringLiteral("Zentu.bookmark"), jsonObject(R"({"op": "edit", "command": "xterm"})"),
                     &result, &failure));
    QCOMPARE(message(failure), QStringLiteral("The reply is too large."));
    QVERIFY(sci.call(QStringLiteral("Zentu.list"), QJsonObject(), &result));
    QVERIFY(result.isArray());
}

QTEST_GUILESS_MAIN(SciMethodsTest)
#include "tst_scimethods.moc"
