// The JSON-RPC client: marker search, reply matching, failures, and a round
// trip with the command-interface stand-in.
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include "FeedDevice.h"
#include "JsonRpcHandler.h"
#include "NetString.h"

namespace {

struct Received
{
    QString id;
    QJsonValue result;
    QJsonValue error;
};

QByteArray replyFrame(const QJsonObject& reply)
{
    return encodeNetString(QJsonDocument(reply).toJson(QJsonDocument::Compact));
}

QByteArray resultFrame(const QString& id, const QJsonValue& result)
{
    return replyFrame({{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                       {QStringLiteral("id"), id},
                       {QStringLiteral("result"), result}});
}

QList<QJsonObject> frameObjects(const QByteArray& stream)
{
    NetStringBuffer buffer;
    buffer.append(stream);
    QList<QJsonObject> objects;
    QByteArray payload;
    while (buffer.takeFrame(&payload) == NetStringBuffer::Payload)
        objects << QJsonDocument::fromJson(payload).object();
    return objects;
}

bool startStandIn(QProcess& sci)
{
    sci.start(QString::fromLocal8Bit(qgetenv("ZENTU_BIN_DIR")) + QStringLiteral("/zentu2_sci"), QStringList());
    return sci.waitForStarted(10000);
}

} // namespace

class TestJsonRpc : public QObject
{
    Q_OBJECT

private slots:
    void requestWireFormat();
    void outputBeforeMarkerIsSkipped();
    void repliesMatchedOutOfOrder();
    void ignoredReplies();
    void callbackMayCallAgain();
    void callbackMayDestroyHandler();
    void failures_data();
    void failures();
    void standInRoundTrip();
    void standInBadInput();
};

void TestJsonRpc::requestWireFormat()
{
    FeedDevice device;
    JsonRpcHandler handler(&device);
    const QString id = handler.call(QStringLiteral("Zentu.start"),
                                    {{QStringLiteral("name"), QStringLiteral("\u00e9t\u00e9")},
                                     {QStringLiteral("command"), QStringLiteral("xterm")}},
                                    JsonRpcCallback());
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(id).hasMatch());
    const QByteArray json = QStringLiteral("{\"id\":\"%1\",\"jsonrpc\":\"2.0\",\"method\":\"Zentu.start\","
                                           "\"params\":{\"command\":\"xterm\",\"name\":\"\u00e9t\u00e9\"}}")
                                .arg(id)
                                .toUtf8();
    QCOMPARE(device.written(), QByteArray::number(json.size()) + ':' + json + ',');

    // Every call gets an id of its own from the random source.
    QSet<QString> ids{id};
    for (int i = 0; i < 100; ++i) {
        const QString next = handler.call(QStringLiteral("Zentu.list"), QJsonObject(), JsonRpcCallback());
        QVERIFY2(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(next).hasMatch(), qPrintable(next));
        ids.insert(next);
    }
    QCOMPARE(ids.size(), 101);
    QCOMPARE(frameObjects(device.written()).value(1).value(QStringLiteral("params")).toObject(), QJsonObject());
    QCOMPARE(handler.pendingCount(), 101);
}

void TestJsonRpc::outputBeforeMarkerIsSkipped()
{
    // Several reads of login output that looks like frames, then the marker
    // cut at every byte by the end of a 4096-byte read, after a last line
    // that ends in the marker's first word.
    const QByteArray marker = JsonRpcHandler::Marker;
    const QByteArray banner = "Last login: today\n5:hello,3:[1],";
    const int before = 4 * NetStringBuffer::ReadChunk;
    for (int cut = 0; cut <= marker.size(); ++cut) {
        FeedDevice device;
        JsonRpcHandler handler(&device);
        QList<Received> received;
        const QString id = handler.call(QStringLiteral("m"), QJsonObject(),
                                        [&](const QString& i, const QJsonValue& r, const QJsonValue& e) {
                                            received.append({i, r, e});
                                        });
        const QByteArray stream = banner + QByteArray(before - banner.size() - 16 - cut, '9') + "motd ---- BEGIN\n"
                                  + marker + "\n" + resultFrame(id, true);
        device.feed(stream.left(before));
        QCOMPARE(handler.state(), cut == marker.size() ? JsonRpcHandler::Reading : JsonRpcHandler::Waiting);
        QVERIFY(handler.isValid());
        device.feed(stream.mid(before));
        QVERIFY2(received.size() == 1, qPrintable(QStringLiteral("cut %1").arg(cut)));
        QCOMPARE(received.at(0).id, id);
        QCOMPARE(received.at(0).result, QJsonValue(true));
        QVERIFY(received.at(0).error.isUndefined());
        QVERIFY(handler.isValid());
    }
}

void TestJsonRpc::repliesMatchedOutOfOrder()
{
    FeedDevice device;
    JsonRpcHandler handler(&device);
    QStringList order;
    QHash<QString, QString> methodOf;
    auto record = [&](const QString& id, const QJsonValue& result, const QJsonValue& error) {
        order << methodOf.value(id) + QLatin1Char('=') + result.toString()
                     + error.toObject().value(QStringLiteral("message")).toString();
    };
    for (const QString& method : {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")})
        methodOf.insert(handler.call(method, QJsonObject(), record), method);
    device.feed(JsonRpcHandler::Marker + "\n");
    const QString idOf_a = methodOf.key(QStringLiteral("a"));
    const QString idOf_b = methodOf.key(QStringLiteral("b"));
    const QString idOf_c = methodOf.key(QStringLiteral("c"));
    device.feed(resultFrame(idOf_c, QStringLiteral("3")));
    // Two replies in one read run in stream order.
    const QByteArray errorReply = replyFrame({{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                                              {QStringLiteral("id"), idOf_b},
                                              {QStringLiteral("error"),
                                               QJsonObject{{QStringLiteral("message"), QStringLiteral("no")}}}});
    device.feed(resultFrame(idOf_a, QStringLiteral("1")) + errorReply);
    QCOMPARE(order, (QStringList{QStringLiteral("c=3"), QStringLiteral("a=1"), QStringLiteral("b=no")}));
    QCOMPARE(handler.pendingCount(), 0);
    // A second reply to an answered id is dropped.
    device.feed(resultFrame(idOf_a, QStringLiteral("again")));
    QCOMPARE(order.size(), 3);
    QVERIFY(handler.isValid());
}

void TestJsonRpc::ignoredReplies()
{
    FeedDevice device;
    JsonRpcHandler handler(&device);
    int calls = 0;
    const QString id = handler.call(QStringLiteral("x"), QJsonObject(),
                                    [&](const QString&, const QJsonValue&, const QJsonValue&) { ++calls; });
    const QString cancelled = handler.call(QStringLiteral("y"), QJsonObject(),
                                           [&](const QString&, const QJsonValue&, const QJsonValue&) { ++calls; });
    handler.cancel(cancelled);
    device.feed(JsonRpcHandler::Marker);
    device.feed(resultFrame(cancelled, 1));
    device.feed(replyFrame({{QStringLiteral("jsonrpc"), QStringLiteral("1.0")},
                            {QStringLiteral("id"), id},
                            {QStringLiteral("result"), 1}}));
    device.feed(replyFrame({{QStringLiteral("id"), id}, {QStringLiteral("result"), 1}}));
    device.feed(replyFrame({{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                            {QStringLiteral("id"), 7},
                            {QStringLiteral("result"), 1}}));
    device.feed(replyFrame({{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                            {QStringLiteral("method"), QStringLiteral("notify")}}));
    device.feed(resultFrame(QStringLiteral("0123456789abcdef0123456789abcdef"), 1));
    QCOMPARE(calls, 0);
    QVERIFY(handler.isValid());
    QCOMPARE(handler.pendingCount(), 1);
    // Names recur in other objects of a reply, and inside strings.
    const QJsonObject entry{{QStringLiteral("id"), 1}, {QStringLiteral("result"), QStringLiteral("\"id\":")}};
    device.feed(resultFrame(id, QJsonArray{entry, entry}));
    QCOMPARE(calls, 1);
    QVERIFY(handler.isValid());
}

void TestJsonRpc::callbackMayCallAgain()
{
    FeedDevice device;
    JsonRpcHandler handler(&device);
    QString followUp;
    int pendingSeenByCallback = -1;
    const QString id = handler.call(QStringLiteral("first"), QJsonObject(),
                                    [&](const QString&, const QJsonValue&, const QJsonValue&) {
                                        pendingSeenByCallback = handler.pendingCount();
                                        followUp = handler.call(QStringLiteral("second"), QJsonObject(), nullptr);
                                    });
    device.feed(JsonRpcHandler::Marker + resultFrame(id, 1));
    QCOMPARE(pendingSeenByCallback, 0);
    QVERIFY(!followUp.isEmpty());
    QCOMPARE(frameObjects(device.written()).size(), 2);
    QCOMPARE(frameObjects(device.written()).at(1).value(QStringLiteral("method")).toString(), QStringLiteral("second"));
}

void TestJsonRpc::callbackMayDestroyHandler()
{
    FeedDevice device;
    auto* handler = new JsonRpcHandler(&device);
    int calls = 0;
    const QString first = handler->call(QStringLiteral("x"), QJsonObject(),
                                        [&](const QString&, const QJsonValue&, const QJsonValue&) {
                                            ++calls;
                                            delete handler;
                                        });
    const QString second = handler->call(QStringLiteral("y"), QJsonObject(),
                                         [&](const QString&, const QJsonValue&, const QJsonValue&) { ++calls; });
    device.feed(JsonRpcHandler::Marker + resultFrame(first, 1) + resultFrame(second, 2));
    QCOMPARE(calls, 1);
}

void TestJsonRpc::failures_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QString>("message");
    QTest::newRow("array") << QByteArray("3:[1],") << QStringLiteral("Got invalid JSON");
    QTest::newRow("not json") << QByteArray("5:hello,") << QStringLiteral("Got invalid JSON");
    // Qt's parser would lose the memory of the repeated member's arrays.
    const QByteArray repeated = R"({"jsonrpc":"2.0","id":"x","result":[1],"error":{},"result":[2],"result":[3]})";
    QTest::newRow("repeated member") << encodeNetString(repeated) << QStringLiteral("Got invalid JSON");
    const QByteArray escaped = R"({"jsonrpc":"2.0","id":"x","params":{"a":[1],"b":"\"a\"","\u0061":[2]}})";
    QTest::newRow("repeated escaped member") << encodeNetString(escaped) << QStringLiteral("Got invalid JSON");
    QTest::newRow("no colon") << QByteArray("123456789") << QStringLiteral("Got an invalid NetString");
    QTest::newRow("bad length") << QByteArray("1x:a,") << QStringLiteral("Got an invalid NetString length");
    QTest::newRow("too big") << QByteArray("65537:") << QStringLiteral("Got a NetString length that is too big");
}

void TestJsonRpc::failures()
{
    QFETCH(QByteArray, stream);
    QFETCH(QString, message);
    FeedDevice device;
    JsonRpcHandler handler(&device);
    int calls = 0;
    const QString id = handler.call(QStringLiteral("x"), QJsonObject(),
                                    [&](const QString&, const QJsonValue&, const QJsonValue&) { ++calls; });
    device.feed(JsonRpcHandler::Marker + "\n" + stream);
    QVERIFY(!handler.isValid());
    QCOMPARE(handler.state(), JsonRpcHandler::Failed);
    QCOMPARE(handler.errorString(), message);
    QVERIFY(!device.isOpen());
    // Nothing is parsed after the failure, and pending calls stay pending.
    device.open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    device.feed(resultFrame(id, 1));
    QCOMPARE(calls, 0);
    QCOMPARE(handler.pendingCount(), 1);
    QCOMPARE(device.pendingInput(), int(resultFrame(id, 1).size()));
}

void TestJsonRpc::standInRoundTrip()
{
    QProcess sci;
    QVERIFY2(startStandIn(sci), qPrintable(sci.errorString()));
    JsonRpcHandler handler(&sci);
    QList<Received> received;
    auto record = [&](const QString& i, const QJsonValue& r, const QJsonValue& e) { received.append({i, r, e}); };
    const QString version = handler.call(QStringLiteral("Zentu.version"), QJsonObject(), record);
    const QString unknown = handler.call(QStringLiteral("Zentu.noSuchMethod"), QJsonObject(), record);
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), 2, 20000);
    QCOMPARE(received.at(0).id, version);
    QVERIFY(!received.at(0).result.toObject().value(QStringLiteral("version")).toString().isEmpty());
    QCOMPARE(received.at(1).id, unknown);
    const QJsonObject error = received.at(1).error.toObject();
    QCOMPARE(error.value(QStringLiteral("code")).toInt(), -32601);
    QCOMPARE(error.value(QStringLiteral("message")).toString(), QStringLiteral("Unknown method \"Zentu.noSuchMethod\""));
    QVERIFY(handler.isValid());

    sci.closeWriteChannel();
    QVERIFY(sci.waitForFinished(10000));
    QCOMPARE(sci.exitCode(), 0);
}

void TestJsonRpc::standInBadInput()
{
    QProcess sci;
    QVERIFY2(startStandIn(sci), qPrintable(sci.errorString()));
    // A payload that is not a request gets an error reply and the stand-in
    // goes on; a broken frame ends it.
    sci.write(encodeNetString("not json") + encodeNetString("{\"jsonrpc\":\"2.0\",\"id\":\"q\",\"params\":{}}")
              + "12a:");
    QVERIFY(sci.waitForFinished(10000));
    QCOMPARE(sci.exitCode(), 1);
    QVERIFY(sci.readAllStandardError().contains("Got an invalid NetString length"));
    const QByteArray output = sci.readAllStandardOutput();
    const QList<QJsonObject> replies =
        frameObjects(output.mid(output.indexOf(JsonRpcHandler::Marker) + JsonRpcHandler::Marker.size()));
    QCOMPARE(replies.size(), 2);
    QVERIFY(replies.at(0).value(QStringLiteral("id")).isNull());
    QCOMPARE(replies.at(0).value(QStringLiteral("error")).toObject().value(QStringLiteral("code")).toInt(), -32700);
    QCOMPARE(replies.at(1).value(QStringLiteral("id")).toString(), QStringLiteral("q"));
    QCOMPARE(replies.at(1).value(QStringLiteral("error")).toObject().value(QStringLiteral("code")).toInt(), -32600);
}

QTEST_GUILESS_MAIN(TestJsonRpc)
#include "tst_jsonrpc.moc"
