// Netstring framing: the byte format, the reader's limits and its behaviour
// over arbitrary splits of the stream.
#include <QtTest>

#include "NetString.h"

namespace {

// Feeds input in pieces of the given sizes (cycled) and collects every payload
// until the buffer needs more or fails.
QList<QByteArray> parseSplit(const QByteArray& input, const QList<int>& pieces,
                             NetStringBuffer::Outcome* last = nullptr)
{
    NetStringBuffer buffer;
    QList<QByteArray> payloads;
    NetStringBuffer::Outcome outcome = NetStringBuffer::NeedMore;
    int position = 0;
    int piece = 0;
    while (position < input.size() && outcome != NetStringBuffer::InvalidNetString
           && outcome != NetStringBuffer::InvalidLength && outcome != NetStringBuffer::LengthTooBig) {
        const int size = qMin(pieces.at(piece++ % pieces.size()), input.size() - position);
        buffer.append(input.mid(position, size));
        position += size;
        QByteArray payload;
        while ((outcome = buffer.takeFrame(&payload)) == NetStringBuffer::Payload)
            payloads << payload;
    }
    if (last)
        *last = outcome;
    return payloads;
}

} // namespace

Q_DECLARE_METATYPE(NetStringBuffer::Outcome)

class TestNetString : public QObject
{
    Q_OBJECT

private slots:
    void encode_data();
    void encode();
    void singleStep_data();
    void singleStep();
    void largestPayloadAccepted();
    void splitAtEveryByte();
    void manyFramesAcrossChunks();
};

void TestNetString::encode_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("empty") << QByteArray() << QByteArray("0:,");
    QTest::newRow("yes") << QByteArray("yes") << QByteArray("3:yes,");
    QTest::newRow("save") << QByteArray("save") << QByteArray("4:save,");
    // Bytes, not characters: "ä" is two UTF-8 bytes.
    QTest::newRow("utf8") << QStringLiteral("p\u00e4ss").toUtf8() << QByteArray("5:p\xc3\xa4ss,");
    QTest::newRow("binary") << QByteArray("a\0,:b", 5) << QByteArray("5:a\0,:b,", 8);
}

void TestNetString::encode()
{
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, frame);
    QCOMPARE(encodeNetString(payload), frame);
    NetStringBuffer buffer;
    buffer.append(frame);
    QByteArray parsed;
    QCOMPARE(buffer.takeFrame(&parsed), NetStringBuffer::Payload);
    QCOMPARE(parsed, payload);
}

void TestNetString::singleStep_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<NetStringBuffer::Outcome>("outcome");
    QTest::addColumn<QByteArray>("payload");

    QTest::newRow("no terminator yet") << QByteArray("5:hello") << NetStringBuffer::NeedMore << QByteArray();
    QTest::newRow("terminator not inspected") << QByteArray("5:hello!") << NetStringBuffer::Payload
                                              << QByteArray("hello");
    QTest::newRow("nothing") << QByteArray() << NetStringBuffer::NeedMore << QByteArray();
    QTest::newRow("seven digits") << QByteArray("1234567") << NetStringBuffer::NeedMore << QByteArray();
    QTest::newRow("eight digits") << QByteArray("12345678") << NetStringBuffer::InvalidNetString << QByteArray();
    QTest::newRow("colon first") << QByteArray(":abc,") << NetStringBuffer::InvalidNetString << QByteArray();
    QTest::newRow("colon at index 8") << QByteArray("00000001:a,") << NetStringBuffer::InvalidNetString
                                      << QByteArray();
    QTest::newRow("colon at index 7") << QByteArray("0000001:a,") << NetStringBuffer::Payload << QByteArray("a");
    QTest::newRow("letter in length") << QByteArray("12a:x,") << NetStringBuffer::InvalidLength << QByteArray();
    QTest::newRow("trailing space in length") << QByteArray("3 :yes,") << NetStringBuffer::InvalidLength
                                              << QByteArray();
    QTest::newRow("only white space") << QByteArray(" \n:x,") << NetStringBuffer::InvalidLength << QByteArray();
    QTest::newRow("line break before digits") << QByteArray("\n3:yes,") << NetStringBuffer::Payload
                                              << QByteArray("yes");
    QTest::newRow("carriage return and tab") << QByteArray("\r\t3:yes,") << NetStringBuffer::Payload
                                             << QByteArray("yes");
    QTest::newRow("plus sign") << QByteArray("+3:yes,") << NetStringBuffer::Payload << QByteArray("yes");
    QTest::newRow("lone plus") << QByteArray("+:yes,") << NetStringBuffer::InvalidLength << QByteArray();
    // A negative length must neither read before the colon nor stall.
    QTest::newRow("negative") << QByteArray("-2:ab,") << NetStringBuffer::InvalidLength << QByteArray();
    QTest::newRow("negative zero") << QByteArray("-0:,") << NetStringBuffer::InvalidLength << QByteArray();
    QTest::newRow("too big") << QByteArray("65537:") << NetStringBuffer::LengthTooBig << QByteArray();
    QTest::newRow("far too big") << QByteArray("9999999:") << NetStringBuffer::LengthTooBig << QByteArray();
}

void TestNetString::singleStep()
{
    QFETCH(QByteArray, input);
    QFETCH(NetStringBuffer::Outcome, outcome);
    QFETCH(QByteArray, payload);
    NetStringBuffer buffer;
    buffer.append(input);
    QByteArray taken("untouched");
    QCOMPARE(buffer.takeFrame(&taken), outcome);
    if (outcome == NetStringBuffer::Payload) {
        QCOMPARE(taken, payload);
    } else {
        // Neither a wait for more nor an error consumes anything.
        QCOMPARE(buffer.buffer(), input);
        QCOMPARE(taken, QByteArray("untouched"));
    }
}

void TestNetString::largestPayloadAccepted()
{
    const QByteArray payload(NetStringBuffer::MaxPayload, 'x');
    const QByteArray frame = encodeNetString(payload);
    QVERIFY(frame.startsWith("65536:"));
    NetStringBuffer buffer;
    buffer.append(frame.left(frame.size() - 1));
    QByteArray out;
    QCOMPARE(buffer.takeFrame(&out), NetStringBuffer::NeedMore);
    buffer.append(frame.right(1));
    QCOMPARE(buffer.takeFrame(&out), NetStringBuffer::Payload);
    QCOMPARE(out, payload);
    QVERIFY(buffer.isEmpty());
}

void TestNetString::splitAtEveryByte()
{
    const QByteArray stream = QByteArray("\n") + encodeNetString("{\"id\":\"1\"}") + encodeNetString(QByteArray())
                              + encodeNetString(QByteArray(300, 'z')) + encodeNetString("tail");
    const QList<QByteArray> expected{"{\"id\":\"1\"}", QByteArray(), QByteArray(300, 'z'), "tail"};
    for (int cut = 1; cut < stream.size(); ++cut) {
        NetStringBuffer buffer;
        QList<QByteArray> payloads;
        for (const QByteArray& part : {stream.left(cut), stream.mid(cut)}) {
            buffer.append(part);
            QByteArray payload;
            NetStringBuffer::Outcome outcome;
            while ((outcome = buffer.takeFrame(&payload)) == NetStringBuffer::Payload)
                payloads << payload;
            QCOMPARE(outcome, NetStringBuffer::NeedMore);
        }
        QVERIFY2(payloads == expected, qPrintable(QStringLiteral("cut at %1").arg(cut)));
        QVERIFY(buffer.isEmpty());
    }
    QCOMPARE(parseSplit(stream, {1}), expected);
}

void TestNetString::manyFramesAcrossChunks()
{
    // Enough frames that the reader compacts its storage many times.
    QByteArray stream;
    QList<QByteArray> expected;
    for (int i = 0; i < 5000; ++i) {
        const QByteArray payload = QByteArray::number(i).repeated(i % 37);
        expected << payload;
        stream += encodeNetString(payload);
    }
    for (const QList<int>& pieces : {QList<int>{4096}, QList<int>{7, 4096, 13}, QList<int>{65536}}) {
        NetStringBuffer::Outcome last;
        QCOMPARE(parseSplit(stream, pieces, &last), expected);
        QCOMPARE(last, NetStringBuffer::NeedMore);
    }
    // The stream stops at the first bad frame.
    QByteArray prefix;
    for (int i = 0; i < 100; ++i)
        prefix += encodeNetString(expected.at(i));
    NetStringBuffer::Outcome last;
    const QList<QByteArray> payloads = parseSplit(prefix + "x:" + stream, {100}, &last);
    QCOMPARE(last, NetStringBuffer::InvalidLength);
    QCOMPARE(payloads, expected.mid(0, 100));
}

QTEST_GUILESS_MAIN(TestNetString)
#include "tst_netstring.moc"
