// Session and bookmark records and models: parsing, the sorted merge and the
// signals it gives the view, the pending-request rules, date cells, and the
// models against a real command-interface stand-in.
#include "Bookmark.h"
#include "BookmarkModel.h"
#include "JsonRpcHandler.h"
#include "SciProcess.h"
#include "Session.h"
#include "SessionModel.h"

#include <QAbstractItemModelTester>
#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

QJsonObject sessionObject(const QString& id, const QString& command, int clients = 0,
                          const QString& name = QString())
{
    QJsonObject object{{QStringLiteral("id"), id},
                       {QStringLiteral("command"), command},
                       {QStringLiteral("clients"), clients},
                       {QStringLiteral("geometry"), QStringLiteral("1024x768")},
                       {QStringLiteral("windowMode"), QStringLiteral("desktop")},
                       {QStringLiteral("started"), QStringLiteral("2024-02-29T13:05:09")}};
    if (!name.isEmpty())
        object.insert(QStringLiteral("params"), QJsonObject{{QStringLiteral("name"), name}});
    return object;
}

QList<Session> sessions(const QStringList& ids, int clients = 0)
{
    QList<Session> list;
    for (const QString& id : ids)
        list.append(Session(sessionObject(id, QStringLiteral("xterm ") + id, clients)));
    return list;
}

QStringList ids(const SessionModel& model)
{
    QStringList list;
    for (int row = 0; row < model.rowCount(); ++row)
        list.append(model.session(row).id());
    return list;
}

using Ranges = QList<QPair<int, int>>;

// Watches every structural and data signal of a model.
struct ModelSpies {
    explicit ModelSpies(QAbstractItemModel* model)
        : inserted(model, &QAbstractItemModel::rowsInserted)
        , removed(model, &QAbstractItemModel::rowsRemoved)
        , changed(model, &QAbstractItemModel::dataChanged)
        , reset(model, &QAbstractItemModel::modelReset)
    {
    }
    // (first, last) of each signal of a rows spy.
    static Ranges ranges(const QSignalSpy& spy)
    {
        Ranges list;
        for (const QList<QVariant>& arguments : spy)
            list.append({arguments.at(1).toInt(), arguments.at(2).toInt()});
        return list;
    }
    QSignalSpy inserted, removed, changed, reset;
};

QStringList methods(const QBuffer& buffer)
{
    QStringList list;
    for (const QJsonObject& request : requests(buffer))
        list.append(request.value(QStringLiteral("method")).toString());
    return list;
}

} // namespace

Q_DECLARE_METATYPE(Ranges)

class SessionModelsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sessionFromJson();
    void sessionRejectsWrongTypes();
    void merge_data();
    void merge();
    void listReplyDropsInvalidEntries();
    void pendingRequestRules();
    void renameSendsParamsThenList();
    void handlerGoneSendsNothing();
    void dateCellsAroundTheSevenDayEdge();
    void headersFlagsAndOutOfRange();
    void bookmarkRecordAndCells();
    void bookmarkReplyKeepsRowsWithoutItsList();
    void bookmarkEditCancelsPendingList();
    void bookmarkModelAgainstStandIn();

private:
    QTemporaryDir m_home;
};

void SessionModelsTest::initTestCase()
{
    QVERIFY(m_home.isValid());
    pointHomeAt(m_home.path());
}

void SessionModelsTest::sessionFromJson()
{
    const Session session(jsonObject(R"({"id": "abc", "windowMode": "rootless", "geometry": "800x600",
        "params": {"name": "Mail"}, "command": "thunderbird", "clients": 2, "started": "2024-02-29T13:05:09",
        "lastConnect": "2024-03-01T00:00:00", "lastDisconnect": "yesterday", "extra": true})"));
    QVERIFY(session.isValid());
    QCOMPARE(session.id(), QStringLiteral("abc"));
    QCOMPARE(session.windowMode(), QStringLiteral("rootless"));
    QCOMPARE(session.geometry(), QStringLiteral("800x600"));
    QCOMPARE(session.name(), QStringLiteral("Mail"));
    QCOMPARE(session.command(), QStringLiteral("thunderbird"));
    QCOMPARE(session.clients(), 2);
    QCOMPARE(session.started(), QDateTime(QDate(2024, 2, 29), QTime(13, 5, 9), Qt::LocalTime));
    QCOMPARE(session.lastConnect(), QDateTime(QDate(2024, 3, 1), QTime(0, 0), Qt::LocalTime));
    QVERIFY(session.lastDisconnect().isNull());
    QCOMPARE(session.displayName(), QStringLiteral("Mail"));

    Session unnamed(sessionObject(QStringLiteral("x"), QStringLiteral("xterm -ls")));
    QCOMPARE(unnamed.displayName(), QStringLiteral("xterm -ls"));
    Session renamed = unnamed;
    QVERIFY(renamed == unnamed);
    renamed.setName(QStringLiteral("Shell"));
    QVERIFY(renamed != unnamed);
    QCOMPARE(renamed.displayName(), QStringLiteral("Shell"));
}

void SessionModelsTest::sessionRejectsWrongTypes()
{
    const Session session(
        jsonObject(R"({"id": 42, "command": [1], "clients": "3", "params": "name", "started": 1700000000})"));
    QVERIFY(!session.isValid());
    QVERIFY(session.command().isEmpty());
    QCOMPARE(session.clients(), 0);
    QVERIFY(session.name().isEmpty());
    QVERIFY(session.started().isNull());
    QVERIFY(session == Session::null);

    QVERIFY(Session(jsonObject(R"({"id": "a", "params": {"name": 7}})")).name().isEmpty());
    // Times carry no zone and no fraction; anything else is not a time.
    QVERIFY(Session::parseDateTime(QStringLiteral("2024-02-29 13:05:09")).isNull());
    QVERIFY(Session::parseDateTime(QStringLiteral("2024-02-30T13:05:09")).isNull());
}

void SessionModelsTest::merge_data()
{
    // Ids before and in the reply ("b*": b with a client now), the rows after,
    // and the (first, last) rows of each signal the view gets.
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("reply");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<Ranges>("inserted");
    QTest::addColumn<Ranges>("removed");
    QTest::addColumn<Ranges>("changed");
    const auto list = [](const char* ids) {
        return QString::fromLatin1(ids).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    };
    QTest::newRow("empty reply removes all at once")
        << list("c a b") << list("") << list("") << Ranges() << Ranges{{0, 2}} << Ranges();
    QTest::newRow("reorder changes nothing")
        << list("a b c") << list("c a b") << list("a b c") << Ranges() << Ranges() << Ranges();
    QTest::newRow("one field changed")
        << list("a b c") << list("a c b*") << list("a b c") << Ranges() << Ranges() << Ranges{{1, 1}};
    QTest::newRow("insert and remove in the middle")
        << list("a c e") << list("f b e a") << list("a b e f") << Ranges{{1, 1}, {3, 3}} << Ranges{{2, 2}}
        << Ranges();
    QTest::newRow("middle one by one, tail at once")
        << list("a b e f") << list("b") << list("b") << Ranges() << Ranges{{0, 0}, {1, 2}} << Ranges();
    QTest::newRow("into empty, repeated ids")
        << list("") << list("z m m a") << list("a m z") << Ranges{{0, 2}} << Ranges() << Ranges();
    QTest::newRow("repeated id keeps the copy sent first")
        << list("a m") << list("m* m a") << list("a m") << Ranges() << Ranges() << Ranges{{1, 1}};
    QTest::newRow("code-unit order")
        << list("a m z") << list("a B") << list("B a") << Ranges{{0, 0}} << Ranges{{2, 3}} << Ranges();
}

void SessionModelsTest::merge()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, reply);
    QFETCH(QStringList, after);
    QFETCH(Ranges, inserted);
    QFETCH(Ranges, removed);
    QFETCH(Ranges, changed);
    QList<Session> next;
    for (QString id : qAsConst(reply)) {
        const int clients = id.endsWith(QLatin1Char('*')) ? 1 : 0;
        id.remove(QLatin1Char('*'));
        next.append(Session(sessionObject(id, QStringLiteral("xterm ") + id, clients)));
    }

    SessionModel model(nullptr, nullptr);
    QAbstractItemModelTester tester(&model);
    model.updateSessions(sessions(before));
    ModelSpies spies(&model);
    QSignalSpy updated(&model, &SessionModel::sessionsUpdated);
    model.updateSessions(next);
    QCOMPARE(ids(model), after);
    QCOMPARE(ModelSpies::ranges(spies.inserted), inserted);
    QCOMPARE(ModelSpies::ranges(spies.removed), removed);
    Ranges changedRows;
    for (const QList<QVariant>& arguments : qAsConst(spies.changed)) {
        const QModelIndex topLeft = arguments.at(0).value<QModelIndex>();
        const QModelIndex bottomRight = arguments.at(1).value<QModelIndex>();
        QCOMPARE(topLeft.column(), 0);
        QCOMPARE(bottomRight.column(), model.columnCount() - 1);
        changedRows.append({topLeft.row(), bottomRight.row()});
    }
    QCOMPARE(changedRows, changed);
    for (const auto& range : qAsConst(changed))
        QCOMPARE(model.session(range.first).clients(), 1);
    QCOMPARE(spies.reset.count(), 0);
    QCOMPARE(updated.count(), 1);

    // The same reply again changes no row but still tells the window.
    model.updateSessions(next);
    QCOMPARE(spies.inserted.count(), inserted.size());
    QCOMPARE(spies.removed.count(), removed.size());
    QCOMPARE(spies.changed.count(), changed.size());
    QCOMPARE(updated.count(), 2);
}

void SessionModelsTest::listReplyDropsInvalidEntries()
{
    SessionModel model(nullptr, nullptr);
    QSignalSpy updated(&model, &SessionModel::sessionsUpdated);
    const QJsonArray reply{sessionObject(QStringLiteral("a"), QStringLiteral("xterm")),
                           jsonObject(R"({"command": "no id"})"), QStringLiteral("not an object"),
                           jsonObject(R"({"id": 5})")};
    model.handleListSessionReply(QString(), reply, QJsonValue());
    QCOMPARE(ids(model), QStringList({QStringLiteral("a")}));
    QCOMPARE(updated.count(), 1);

    // Errors and malformed results keep the rows and merge nothing.
    model.handleListSessionReply(QString(), QJsonValue(), jsonObject(R"({"message": "no"})"));
    model.handleListSessionReply(QString(), QJsonObject(), QJsonValue());
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(updated.count(), 1);
}

void SessionModelsTest::pendingRequestRules()
{
    QBuffer buffer;
    QVERIFY(buffer.open(QIODevice::ReadWrite));
    JsonRpcHandler handler(&buffer);
    SessionModel model(&handler, nullptr);
    QVERIFY(!model.isUpdating());
    QVERIFY(methods(buffer).isEmpty());

    model.startUpdating();
    QVERIFY(model.isUpdating());
    QCOMPARE(methods(buffer), QStringList({QStringLiteral("Zentu.list")}));
    QCOMPARE(requests(buffer).at(0).value(QStringLiteral("params")).toObject(), QJsonObject());
    model.startUpdating();
    QCOMPARE(methods(buffer).size(), 1);

    // A slow server never gets a second list request from a tick.
    model.on_UpdateTimer_timeout();
    model.on_UpdateTimer_timeout();
    QCOMPARE(methods(buffer).size(), 1);
    QCOMPARE(model.pendingCount(), 1);

    model.forceUpdate();
    QCOMPARE(methods(buffer).size(), 2);
    QCOMPARE(model.pendingCount(), 1);
    QCOMPARE(handler.pendingCount(), 1);

    // The answer to the forced request clears the set; the next tick asks again.
    const QString lastId = requests(buffer).last().value(QStringLiteral("id")).toString();
    model.handleListSessionReply(lastId, QJsonArray(), QJsonValue());
    QCOMPARE(model.pendingCount(), 0);
    model.on_UpdateTimer_timeout();
    QCOMPARE(methods(buffer).size(), 3);
}

void SessionModelsTest::renameSendsParamsThenList()
{
    QBuffer buffer;
    QVERIFY(buffer.open(QIODevice::ReadWrite));
    JsonRpcHandler handler(&buffer);
    SessionModel model(&handler, nullptr);
    QAbstractItemModelTester tester(&model);
    model.updateSessions(sessions({QStringLiteral("a"), QStringLiteral("b")}));
    model.startUpdating();
    QCOMPARE(handler.pendingCount(), 1);

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QVERIFY(!model.setData(model.index(1, 2), QStringLiteral("x"), Qt::EditRole));
    QVERIFY(!model.setData(model.index(1, 0), QStringLiteral("x"), Qt::DisplayRole));
    QVERIFY(model.setData(model.index(1, 0), QStringLiteral("Build box"), Qt::EditRole));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(model.data(model.index(1, 0)).toString(), QStringLiteral("Build box"));

    const QList<QJsonObject> sent = requests(buffer);
    QCOMPARE(methods(buffer), QStringList({QStringLiteral("Zentu.list"), QStringLiteral("Zentu.params"),
                                           QStringLiteral("Zentu.list")}));
    QCOMPARE(sent.at(1).value(QStringLiteral("params")).toObject(), jsonObject(R"({"id": "b", "name": "Build box"})"));
    // The list request from before the rename was dropped.
    QCOMPARE(handler.pendingCount(), 2);
    QCOMPARE(model.pendingCount(), 2);
}

void SessionModelsTest::handlerGoneSendsNothing()
{
    QBuffer buffer;
    QVERIFY(buffer.open(QIODevice::ReadWrite));
    auto handler = std::make_unique<JsonRpcHandler>(&buffer);
    SessionModel model(handler.get(), nullptr);
    model.updateSessions(sessions({QStringLiteral("a")}));
    handler.reset();
    model.startUpdating();
    model.forceUpdate();
    QVERIFY(model.setData(model.index(0, 0), QStringLiteral("n"), Qt::EditRole));
    QCOMPARE(buffer.size(), 0);
    QCOMPARE(model.rowCount(), 1);
}

void SessionModelsTest::dateCellsAroundTheSevenDayEdge()
{
    const QDateTime now(QDate(2024, 3, 10), QTime(12, 0), Qt::LocalTime);
    const QDateTime edge = now.addDays(-7);
    QCOMPARE(SessionModel::formatDateTime(edge, now),
             edge.toString(QStringLiteral("MMM d yyyy h:mm AP")));
    QCOMPARE(SessionModel::formatDateTime(edge.addSecs(-60), now),
             edge.addSecs(-60).toString(QStringLiteral("MMM d yyyy h:mm AP")));
    QCOMPARE(SessionModel::formatDateTime(edge.addSecs(60), now),
             edge.addSecs(60).toString(QStringLiteral("ddd h:mm AP")));
    QVERIFY(SessionModel::formatDateTime(edge.addSecs(60), now).contains(QStringLiteral("Sun")));
    QCOMPARE(SessionModel::formatDateTime(QDateTime(), now), QString());

    SessionModel model(nullptr, nullptr);
    const QDateTime recent = QDateTime::currentDateTime().addSecs(-3600);
    QJsonObject object = sessionObject(QStringLiteral("a"), QStringLiteral("xterm"));
    object.insert(QStringLiteral("started"),
                  recent.toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")));
    object.remove(QStringLiteral("lastConnect"));
    model.updateSessions({Session(object)});
    const QDateTime started = Session::parseDateTime(recent.toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")));
    QCOMPARE(model.data(model.index(0, 2)).toString(),
             started.toString(QStringLiteral("ddd h:mm AP")));
    QCOMPARE(model.data(model.index(0, 2), SessionModel::SortRole).toDateTime(), started);
    // An absent date: an empty cell that still sorts as a (null) date-time.
    QCOMPARE(model.data(model.index(0, 3)).toString(), QString());
    const QVariant sortKey = model.data(model.index(0, 3), SessionModel::SortRole);
    QCOMPARE(sortKey.userType(), int(QMetaType::QDateTime));
    QVERIFY(sortKey.toDateTime().isNull());
    QVERIFY(!model.data(model.index(0, 2), Qt::EditRole).isValid());
}

void SessionModelsTest::headersFlagsAndOutOfRange()
{
    SessionModel model(nullptr, nullptr);
    model.updateSessions(sessions({QStringLiteral("a")}));
    QCOMPARE(model.columnCount(), 6);
    const QStringList headers{QStringLiteral("Name"), QString(), QStringLiteral("Started"),
                              QStringLiteral("Last Connect"), QStringLiteral("Last Disconnect"),
                              QString()};
    for (int column = 0; column < 6; ++column)
        QCOMPARE(model.headerData(column, Qt::Horizontal).toString(), headers.at(column));
    QVERIFY(!model.headerData(0, Qt::Vertical).isValid());
    QVERIFY(!model.headerData(0, Qt::Horizontal, Qt::ToolTipRole).isValid());
    QVERIFY(model.flags(model.index(0, 0)) & Qt::ItemIsEditable);
    QVERIFY(!(model.flags(model.index(0, 2)) & Qt::ItemIsEditable));
    QVERIFY(model.flags(model.index(0, 2)) & Qt::ItemIsDragEnabled);
    QVERIFY(!model.data(model.index(0, 1)).isValid());
    QVERIFY(!model.data(model.index(0, 5)).isValid());
    QVERIFY(!model.session(-1).isValid());
    QVERIFY(!model.session(model.rowCount()).isValid());
    QCOMPARE(&model.session(1), &Session::null);
}

void SessionModelsTest::bookmarkRecordAndCells()
{
    const Bookmark bookmark(jsonObject(R"({"id": "b1", "name": 3, "command": "xterm -ls", "geometry": "rootless"})"));
    QVERIFY(bookmark.isValid());
    QVERIFY(bookmark.name().isEmpty());
    QCOMPARE(bookmark.geometryText(), QStringLiteral("Single Application"));
    QVERIFY(!Bookmark(jsonObject(R"({"id": 1})")).isValid());
    Bookmark other = bookmark;
    QVERIFY(other == bookmark);
    other.setGeometry(QStringLiteral("800x600"));
    QVERIFY(other != bookmark);
    other.setId(QStringLiteral("b2"));
    QCOMPARE(other.geometryText(), QStringLiteral("800x600"));

    QBuffer buffer;
    QVERIFY(buffer.open(QIODevice::ReadWrite));
    JsonRpcHandler handler(&buffer);
    BookmarkModel model(&handler, BookmarkModel::Bookmarks, nullptr);
    QAbstractItemModelTester tester(&model);
    model.updateBookmarks({other, bookmark});
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.columnCount(), 4);
    QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("Window Size"));
    QCOMPARE(model.data(model.index(0, 2), Qt::EditRole).toString(), QString());
    QCOMPARE(model.data(model.index(0, 2)).toString(), QStringLiteral("Single Application"));
    QVERIFY(!(model.flags(model.index(0, 3)) & Qt::ItemIsEditable));
    QVERIFY(model.flags(model.index(0, 1)) & Qt::ItemIsEditable);
    QVERIFY(!model.bookmark(-1).isValid());
    QVERIFY(!model.bookmark(model.rowCount()).isValid());

    // An emptied window size means a single application.
    model.updateBookmarks({Bookmark(jsonObject(R"({"id": "b1", "command": "xterm", "geometry": "800x600"})"))});
    QVERIFY(model.setData(model.index(0, 2), QString(), Qt::EditRole));
    QCOMPARE(model.bookmark(0).geometry(), QStringLiteral("rootless"));
    QCOMPARE(model.data(model.index(0, 2)).toString(), QStringLiteral("Single Application"));
    const QJsonObject sent = requests(buffer).last().value(QStringLiteral("params")).toObject();
    QCOMPARE(sent, jsonObject(R"({"op": "edit", "id": "b1", "name": "", "command": "xterm", "geometry": "rootless"})"));
    QVERIFY(!model.setData(model.index(0, 3), QStringLiteral("x"), Qt::EditRole));
}

void SessionModelsTest::bookmarkReplyKeepsRowsWithoutItsList()
{
    BookmarkModel history(nullptr, BookmarkModel::History, nullptr);
    QSignalSpy updated(&history, &BookmarkModel::bookmarksUpdated);
    const QJsonArray list{jsonObject(R"({"id": "h1", "command": "xterm"})"), jsonObject(R"({"command": "no id"})")};
    history.handleBookmarkReply(QString(), QJsonObject{{QStringLiteral("history"), list}}, QJsonValue());
    QCOMPARE(history.rowCount(), 1);
    QCOMPARE(updated.count(), 1);
    history.handleBookmarkReply(QString(), QJsonObject{{QStringLiteral("bookmarks"), list}},
                                QJsonValue());
    history.handleBookmarkReply(QString(), QJsonObject{{QStringLiteral("history"), 3}}, QJsonValue());
    history.handleBookmarkReply(QString(), QJsonArray{list}, QJsonValue());
    QCOMPARE(history.rowCount(), 1);
    QCOMPARE(updated.count(), 1);
}

void SessionModelsTest::bookmarkEditCancelsPendingList()
{
    QBuffer buffer;
    QVERIFY(buffer.open(QIODevice::ReadWrite));
    JsonRpcHandler handler(&buffer);
    BookmarkModel model(&handler, BookmarkModel::Bookmarks, nullptr);
    model.updateBookmarks({Bookmark(jsonObject(R"({"id": "b1", "command": "xterm"})"))});
    model.startUpdating();
    model.on_UpdateTimer_timeout();
    QCOMPARE(handler.pendingCount(), 1);
    QVERIFY(model.setData(model.index(0, 0), QStringLiteral("Shell"), Qt::EditRole));
    // Only the edit is outstanding; no separate list request follows it.
    QCOMPARE(handler.pendingCount(), 1);
    QCOMPARE(model.pendingCount(), 1);
    const QList<QJsonObject> sent = requests(buffer);
    QCOMPARE(sent.size(), 2);
    QCOMPARE(sent.last().value(QStringLiteral("params")).toObject().value(QStringLiteral("op")),
             QJsonValue(QStringLiteral("edit")));
}

void SessionModelsTest::bookmarkModelAgainstStandIn()
{
    SciProcess sci;
    QString error;
    QVERIFY2(sci.start(&error), qPrintable(error));
    BookmarkModel suggestions(sci.handler(), BookmarkModel::Suggestions, nullptr);
    BookmarkModel bookmarks(sci.handler(), BookmarkModel::Bookmarks, nullptr);
    BookmarkModel history(sci.handler(), BookmarkModel::History, nullptr);
    QAbstractItemModelTester tester(&bookmarks);
    QAbstractItemModelTester historyTester(&history);
    QJsonValue result;
    QVERIFY(sci.call(QStringLiteral("Zentu.start"),
                     QJsonObject{{QStringLiteral("id"), newSessionId()},
                                 {QStringLiteral("command"), QStringLiteral("xterm -ls")},
                                 {QStringLiteral("geometry"), QStringLiteral("rootless")},
                                 {QStringLiteral("name"), QStringLiteral("Shell")}},
                     &result));
    QVERIFY(sci.call(QStringLiteral("Zentu.bookmark"),
                     jsonObject(R"({"op": "edit", "name": "Editor", "command": "xterm -e vi", "geometry": "800x600"})"),
                     &result));
    for (BookmarkModel* model : {&suggestions, &bookmarks, &history})
        model->startUpdating();
    QTRY_VERIFY_WITH_TIMEOUT(suggestions.rowCount() > 0 && bookmarks.rowCount() == 1
                                 && history.rowCount() == 1,
                             15000);
    QCOMPARE(history.bookmark(0).command(), QStringLiteral("xterm -ls"));
    QCOMPARE(history.data(history.index(0, 2)).toString(), QStringLiteral("Single Application"));

    QVERIFY(bookmarks.setData(bookmarks.index(0, 1), QStringLiteral("xterm -e nano"), Qt::EditRole));
    QTRY_COMPARE_WITH_TIMEOUT(bookmarks.pendingCount(), 0, 15000);
    QCOMPARE(bookmarks.bookmark(0).command(), QStringLiteral("xterm -e nano"));
    const QJsonArray stored = sci.storedState().value(QStringLiteral("bookmarks")).toArray();
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored.at(0).toObject().value(QStringLiteral("command")).toString(),
             QStringLiteral("xterm -e nano"));

    // A window size the server refuses leaves its own view to the next poll.
    QVERIFY(bookmarks.setData(bookmarks.index(0, 2), QStringLiteral("huge"), Qt::EditRole));
    QTRY_COMPARE_WITH_TIMEOUT(bookmarks.pendingCount(), 0, 15000);
    bookmarks.forceUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(bookmarks.bookmark(0).geometry(), QStringLiteral("800x600"), 15000);
}

QTEST_MAIN(SessionModelsTest)
#include "tst_sessionmodels.moc"
