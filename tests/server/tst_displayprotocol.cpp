// Channel message framing and the session's update options.

#include "ChannelMessage.h"
#include "UpdateOptions.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

class TestDisplayProtocol : public QObject
{
    Q_OBJECT

private slots:
    void messageRoundTrip();
    void malformedMessagesAreRejected_data();
    void malformedMessagesAreRejected();
    void u16Payloads();
    void optionsReport();
    void optionsApplyValidValues();
    void invalidOptionsChangeNothing_data();
    void invalidOptionsChangeNothing();
};

void TestDisplayProtocol::messageRoundTrip()
{
    const QByteArray encoded = encodeChannelMessage(3, "{\"success\":true}");
    QCOMPARE(encoded.left(8), QByteArray::fromHex("0300000010000000"));
    ChannelMessage message;
    QString error;
    QVERIFY(decodeChannelMessage(encoded, &message, &error));
    QCOMPARE(message.type, quint16(3));
    QCOMPARE(message.payload, QByteArray("{\"success\":true}"));

    QVERIFY(decodeChannelMessage(encodeChannelMessage(7, QByteArray()), &message, &error));
    QCOMPARE(message.type, quint16(7));
    QVERIFY(message.payload.isEmpty());
}

void TestDisplayProtocol::malformedMessagesAreRejected_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("short header") << QByteArray::fromHex("01000000040000");
    QTest::newRow("payload missing") << QByteArray::fromHex("0100000004000000aabb");
    QTest::newRow("extra bytes") << QByteArray::fromHex("0100000001000000aabb");
    QTest::newRow("huge length") << QByteArray::fromHex("01000000ffffffff");
}

void TestDisplayProtocol::malformedMessagesAreRejected()
{
    QFETCH(QByteArray, data);
    ChannelMessage message;
    QString error;
    QVERIFY(!decodeChannelMessage(data, &message, &error));
    QVERIFY(!error.isEmpty());
}

void TestDisplayProtocol::u16Payloads()
{
    const QByteArray payload = encodeU16List({ 640, 480, 0xFFFF, 1 });
    QCOMPARE(payload, QByteArray::fromHex("8002e001ffff0100"));
    quint16 values[4];
    QVERIFY(decodeU16List(payload, 4, values));
    QCOMPARE(values[0], quint16(640));
    QCOMPARE(values[2], quint16(0xFFFF));
    QVERIFY(!decodeU16List(payload.left(7), 4, values));
}

void TestDisplayProtocol::optionsReport()
{
    UpdateOptions options;
    const QJsonObject report = QJsonDocument::fromJson(options.toJson()).object();
    QCOMPARE(report.size(), 6);
    QCOMPARE(report.value(QStringLiteral("BandwidthThrottleAdjust")), QJsonValue(true));
    QCOMPARE(report.value(QStringLiteral("Compression")), QJsonValue(0));
    QCOMPARE(report.value(QStringLiteral("FPSLimit")), QJsonValue(30));
    QCOMPARE(report.value(QStringLiteral("FrameAcknowledgeWindow")), QJsonValue(0));
    QCOMPARE(report.value(QStringLiteral("CompressionMax")), QJsonValue(3));
    QCOMPARE(report.value(QStringLiteral("FPSLimitMax")), QJsonValue(60));
}

void TestDisplayProtocol::optionsApplyValidValues()
{
    UpdateOptions options;
    QString error;
    QVERIFY(options.apply(
        R"({"BandwidthThrottleAdjust":false,"Compression":1,"FPSLimit":30,"FrameAcknowledgeWindow":60})",
        &error));
    QCOMPARE(options.bandwidthThrottleAdjust, false);
    QCOMPARE(options.compression, 1);
    QCOMPARE(options.fpsLimit, 30);
    QCOMPARE(options.frameAckWindow, 60);

    // Absent keys keep their values (the client omits them in automatic mode).
    QVERIFY(options.apply(R"({"BandwidthThrottleAdjust":true,"FrameAcknowledgeWindow":0})", &error));
    QCOMPARE(options.bandwidthThrottleAdjust, true);
    QCOMPARE(options.compression, 1);
    QCOMPARE(options.frameAckWindow, 0);
}

void TestDisplayProtocol::invalidOptionsChangeNothing_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("not json") << QByteArray("FPSLimit=5");
    QTest::newRow("array") << QByteArray("[1,2]");
    QTest::newRow("bool as number") << QByteArray(R"({"BandwidthThrottleAdjust":1})");
    QTest::newRow("fps zero") << QByteArray(R"({"FPSLimit":0})");
    QTest::newRow("fps too high") << QByteArray(R"({"FPSLimit":61})");
    QTest::newRow("fraction") << QByteArray(R"({"Compression":1.5})");
    QTest::newRow("compression string") << QByteArray(R"({"Compression":"2"})");
    QTest::newRow("negative window") << QByteArray(R"({"FrameAcknowledgeWindow":-1})");
    QTest::newRow("valid then invalid") << QByteArray(R"({"Compression":2,"FPSLimit":-3})");
}

void TestDisplayProtocol::invalidOptionsChangeNothing()
{
    QFETCH(QByteArray, json);
    UpdateOptions options;
    const UpdateOptions before = options;
    QString error;
    QVERIFY(!options.apply(json, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(options == before);
}

QTEST_GUILESS_MAIN(TestDisplayProtocol)
#include "tst_displayprotocol.moc"
