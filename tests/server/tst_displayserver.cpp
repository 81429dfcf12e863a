// The session display server against real peers: the supervisor's Xvnc
// session, our FreeRDP-based probe client and FreeRDP's own xfreerdp.

#include "ChannelMessage.h"
#include "DisplayCapture.h"
#include "RdpProbe.h"
#include "SessionFixture.h"
#include "ShareMessages.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QtEndian>

#include <freerdp/input.h>

#include "qzshare/qzshare.h"

#include <algorithm>
#include <memory>
#include <vector>

#include <signal.h>
#include <sys/resource.h>

namespace {

// Mean absolute difference per colour channel; -1 when the sizes differ.
double meanDifference(const QImage& a, const QImage& b)
{
    if (a.size() != b.size() || a.isNull())
        return -1;
    qint64 total = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* pa = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* pb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            total += qAbs(qRed(pa[x]) - qRed(pb[x])) + qAbs(qGreen(pa[x]) - qGreen(pb[x]))
                   + qAbs(qBlue(pa[x]) - qBlue(pb[x]));
        }
    }
    return double(total) / (3.0 * a.width() * a.height());
}

QString readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QJsonObject lastJson(const RdpProbe& probe, quint16 type)
{
    const QList<ChannelMessage>& list = probe.messages(QStringLiteral("qzcfg"));
    for (int i = list.size() - 1; i >= 0; --i) {
        if (list.at(i).type == type)
            return QJsonDocument::fromJson(list.at(i).payload).object();
    }
    return QJsonObject();
}

// Frames that arrive while pumping for the given time.
int framesDuring(RdpProbe& probe, int ms)
{
    const int before = probe.framesReceived();
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms && probe.pump(int(ms - timer.elapsed())))
        ;
    return probe.framesReceived() - before;
}

// The session's screen, read with its cookie.
QImage screenOf(const SessionFixture& session)
{
    return captureDisplay(session.display(), session.authority());
}

// Messages of one type the probe received on the clipboard channel.
int clipboardMessages(const RdpProbe& probe, quint16 type)
{
    const QList<ChannelMessage>& list = probe.messages(QStringLiteral("cliprdr"));
    return int(std::count_if(list.begin(), list.end(), [&](const ChannelMessage& m) { return m.type == type; }));
}

// FreeRDP's own client, waited for until its first frame (from its debug
// log): the server counts a client once logged on, before it is fully up.
bool startXfreerdp(QProcess& viewer, const SessionFixture& session)
{
    viewer.setProcessChannelMode(QProcess::MergedChannels);
    // Line-buffered: the log lines waited for come when written, not with a
    // later block of frame messages that an idle session never sends.
    viewer.start(QStringLiteral("stdbuf"),
                 { QStringLiteral("-oL"), QStringLiteral("xfreerdp"),
                   QStringLiteral("/v:127.0.0.1:%1").arg(session.port()), QStringLiteral("/sec:rdp"),
                   QStringLiteral("/cert:ignore"), QStringLiteral("/u:tester"),
                   QStringLiteral("/p:%1").arg(session.password()), QStringLiteral("/rfx"),
                   QStringLiteral("/bpp:32"), QStringLiteral("/gdi:sw"), QStringLiteral("+clipboard"),
                   QStringLiteral("/log-level:DEBUG") });
    // Started once the first frame is in and xfreerdp has answered the
    // server's request for the text of its first format list, which it sends
    // before it looks at its display's clipboard. xfreerdp fetches the
    // formats of a new owner and requested text through one window property:
    // a copy made while that request is open can reach the server as an
    // empty format list, and the copy is lost.
    QByteArray log;
    return viewer.waitForStarted(10000) && QTest::qWaitFor([&] {
               log += viewer.readAll();
               return log.contains("SurfaceFrameMarker") && log.contains("ClientFormatDataResponse");
           }, 15000);
}

// The last sharing status the probe heard, decoded as the client plug-in
// does: "on" or "off", then each participant as id, name and "*" for control.
QString shareStatus(const RdpProbe& probe)
{
    const QList<ChannelMessage>& list = probe.messages(QStringLiteral("qzshare"));
    for (int i = list.size() - 1; i >= 0; --i) {
        if (list.at(i).type != ShareMessage::ServerStatus)
            continue;
        const QByteArray& payload = list.at(i).payload;
        QzshareServerStatus status;
        if (!qzshare_decode_server_status(reinterpret_cast<const BYTE*>(payload.constData()),
                                          size_t(payload.size()), &status))
            return QStringLiteral("undecodable");
        QStringList text { QLatin1String(status.sharing ? "on" : "off") };
        for (UINT32 p = 0; p < status.count; ++p) {
            text << QStringLiteral("%1 %2%3").arg(status.participants[p].id)
                        .arg(QString::fromUtf8(status.participants[p].name),
                             QLatin1String((status.participants[p].flags & 3) ? "*" : ""));
        }
        qzshare_server_status_free(&status);
        return text.join(QLatin1String(", "));
    }
    return QString();
}

// The values of the 32-bit sharing messages of a type (client id, disconnect info).
QList<quint32> shareValues(const RdpProbe& probe, quint16 type)
{
    QList<quint32> values;
    for (const ChannelMessage& m : probe.messages(QStringLiteral("qzshare"))) {
        quint32 value = 0;
        if (m.type == type && decodeShareU32(m.payload, &value))
            values << value;
    }
    return values;
}

QByteArray startSharingPayload(const QString& password)
{
    QByteArray payload;
    for (QChar c : password)
        payload.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    return payload.append(2, '\0');
}

// Where the session's pointer is.
QPoint pointerOf(const SessionFixture& session)
{
    QProcess xdotool;
    xdotool.setProcessEnvironment(session.environment());
    xdotool.start(QStringLiteral("xdotool"), { QStringLiteral("getmouselocation"), QStringLiteral("--shell") });
    xdotool.waitForFinished(10000);
    QPoint point(-1, -1);
    for (const QByteArray& line : xdotool.readAllStandardOutput().split('\n')) {
        if (line.startsWith("X="))
            point.setX(line.mid(2).toInt());
        else if (line.startsWith("Y="))
            point.setY(line.mid(2).toInt());
    }
    return point;
}

} // namespace

class TestDisplayServer : public QObject
{
    Q_OBJECT

private:
    RdpProbe::Options optionsFor(const SessionFixture& session) const
    {
        RdpProbe::Options options;
        options.port = session.port();
        options.password = session.password();
        return options;
    }
    // A session with an xterm, and a probe that speaks the clipboard channel itself.
    bool connectRawClipboard(SessionFixture& session, RdpProbe& probe, QString* error) const
    {
        if (!session.start(QStringLiteral("xterm"), QStringLiteral("640x480"), error))
            return false;
        RdpProbe::Options options = optionsFor(session);
        options.rawClipboard = true;
        return probe.connect(options, error);
    }

private slots:
    void connectShowsTheSessionDisplay();
    void wrongPasswordAndGarbageAreRefused();
    void keysAndClicksReachTheProgram();
    void desktopSizeRequestResizesScreenAndClient();
    void optionsAreValidatedAndLimitTheFrameRate();
    void xfreerdpEndsQuietlyOnDisconnectAndTerminate();
    void framesWaitForAcknowledgements();
    void clipboardTextTravelsBothWays();
    void takenPortDoesNotPassForTheSession();
    void clipboardDataLengthIsChecked_data();
    void clipboardDataLengthIsChecked();
    void clipboardOwnerThatNeverAnswersIsGivenUp();
    void idleConnectionsLeaveTheSessionServing();
    void sharingAdmitsViewersUnderTheOwnersControl();
};

void TestDisplayServer::connectShowsTheSessionDisplay()
{
    SessionFixture session;
    QString error;
    QVERIFY2(session.start(QStringLiteral("xterm -geometry 60x20+40+30 -bg navy -fg yellow -e top"),
                           QStringLiteral("800x600"), &error),
             qPrintable(error));

    // Uncompressed surface bits: the client's frame buffer equals the display.
    RdpProbe raw;
    RdpProbe::Options options = optionsFor(session);
    options.remoteFx = false;
    QVERIFY2(raw.connect(options, &error), qPrintable(error));
    // Counted by the time connect returns: a list asked for now must show it.
    QCOMPARE(session.clients(), 1);
    QVERIFY(raw.waitFor([&] { return raw.frame().size() == QSize(800, 600); }, 10000));
    QVERIFY2(raw.waitFor([&] { return meanDifference(raw.frame(), screenOf(session)) == 0.0; },
                         15000),
             qPrintable(QStringLiteral("difference %1")
                            .arg(meanDifference(raw.frame(), screenOf(session)))));
    QVERIFY(raw.waitFor([&] { return raw.pointerUpdates() > 0; }, 10000));

    // RemoteFX is lossy but close; a second client of the same session.
    RdpProbe rfx;
    QVERIFY2(rfx.connect(optionsFor(session), &error), qPrintable(error));
    QTRY_COMPARE_WITH_TIMEOUT(session.clients(), 2, 10000);
    QVERIFY(rfx.waitFor([&] {
        const double d = meanDifference(rfx.frame(), screenOf(session));
        return d >= 0 && d < 3.0;
    }, 15000));
    QVERIFY(rfx.framesReceived() > 0);

    // A coarser compression level repaints the picture visibly less exact.
    const double fine = meanDifference(rfx.frame(), screenOf(session));
    QVERIFY(rfx.send(QStringLiteral("qzcfg"), 2,
                     R"({"BandwidthThrottleAdjust":false,"Compression":3,"FPSLimit":30,"FrameAcknowledgeWindow":0})"));
    double coarse = 0;
    QVERIFY2(rfx.waitFor([&] {
        coarse = meanDifference(rfx.frame(), screenOf(session));
        return coarse > 2 * fine + 0.1;
    }, 10000), qPrintable(QStringLiteral("%1 vs %2").arg(coarse).arg(fine)));
    qInfo("RemoteFX mean difference: %.3f at compression 0, %.3f at 3", fine, coarse);
}

void TestDisplayServer::wrongPasswordAndGarbageAreRefused()
{
    SessionFixture session;
    QString error;
    QVERIFY2(session.start(QStringLiteral("xterm"), QStringLiteral("640x480"), &error), qPrintable(error));
    RdpProbe::Options options = optionsFor(session);
    for (const QString& wrong : { session.password() + QStringLiteral("x"), QString() }) {
        RdpProbe probe;
        options.password = wrong;
        const bool connected = probe.connect(options, &error);
        QVERIFY2(!connected || probe.waitFor([&] { return !probe.connected(); }, 10000),
                 qPrintable(wrong));
        QCOMPARE(probe.framesReceived(), 0);
        QCOMPARE(session.clients(), 0);
    }

    // Bytes that are not RDP at all, and a connection that hangs up at once.
    for (const QByteArray& junk : { QByteArray(5000, '\xff'), QByteArray::fromHex("0300000b06e00000000000"), QByteArray() }) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), session.port());
        QVERIFY(socket.waitForConnected(5000));
        socket.write(junk);
        socket.waitForBytesWritten(5000);
        socket.disconnectFromHost();
    }

    RdpProbe right;
    QVERIFY2(right.connect(optionsFor(session), &error), qPrintable(error));
    QTRY_COMPARE_WITH_TIMEOUT(session.clients(), 1, 10000);
}

void TestDisplayServer::keysAndClicksReachTheProgram()
{
    SessionFixture session;
    QString error;
    const QString log = session.directory() + QStringLiteral("/xev.log");
    QVERIFY2(session.start(QStringLiteral("xev -geometry 400x300+0+0 > %1").arg(log),
                           QStringLiteral("800x600"), &error),
             qPrintable(error));
    RdpProbe probe;
    QVERIFY2(probe.connect(optionsFor(session), &error), qPrintable(error));
    QVERIFY(probe.waitFor([&] { return probe.framesReceived() > 0; }, 10000));
    QVERIFY(probe.waitFor([&] { return readFile(log).contains(QLatin1String("MapNotify")); }, 10000));

    probe.sendMouse(PTR_FLAGS_MOVE, 120, 110);
    probe.sendKey(0x1E, true); // "a"
    probe.sendKey(0x1E, false);
    probe.sendKey(0x48, true, true); // Up, an extended key
    probe.sendKey(0x48, false, true);
    probe.sendMouse(PTR_FLAGS_BUTTON1 | PTR_FLAGS_DOWN, 120, 110);
    probe.sendMouse(PTR_FLAGS_BUTTON1, 120, 110);
    probe.sendMouse(PTR_FLAGS_WHEEL | 0x78, 120, 110);
    auto arrived = [&](const QStringList& lines) {
        const bool all = probe.waitFor([&] {
            const QString text = readFile(log);
            return std::all_of(lines.begin(), lines.end(), [&](const QString& l) { return text.contains(l); });
        }, 10000);
        if (!all)
            qWarning().noquote() << readFile(log);
        return all;
    };
    QVERIFY(arrived({ QStringLiteral("keysym 0x61, a)"), QStringLiteral("keysym 0xff52, Up)"),
                      QStringLiteral("button 1,"), QStringLiteral("button 4,") }));
    // A character the layout lacks remaps a spare keycode. An X client loads
    // its keymap at its first key event and misses a remap made meanwhile, so
    // the character follows once xev has seen keys.
    probe.sendUnicode(0x00E9, true); // é
    probe.sendUnicode(0x00E9, false);
    probe.sendSynchronize(KBD_SYNC_CAPS_LOCK); // the client's Caps Lock is on
    QVERIFY(arrived({ QStringLiteral("keysym 0xe9, eacute)"), QStringLiteral("keysym 0xffe5, Caps_Lock)") }));
}

void TestDisplayServer::desktopSizeRequestResizesScreenAndClient()
{
    SessionFixture session;
    QString error;
    QVERIFY2(session.start(QStringLiteral("xterm"), QStringLiteral("1024x768"), &error), qPrintable(error));
    RdpProbe probe;
    QVERIFY2(probe.connect(optionsFor(session), &error), qPrintable(error));

    // Sizes the session allows come first.
    QVERIFY(probe.waitFor([&] { return !probe.messages(QStringLiteral("qzdesk")).isEmpty(); }, 10000));
    const ChannelMessage info = probe.messages(QStringLiteral("qzdesk")).first();
    QCOMPARE(info.type, quint16(2));
    quint16 limits[4];
    QVERIFY(decodeU16List(info.payload, 4, limits));
    QVERIFY(limits[0] <= 640 && limits[1] <= 480 && limits[2] >= 1600 && limits[3] >= 1200);

    QVERIFY(probe.send(QStringLiteral("qzdesk"), 1, encodeU16List({ 1111, 666 })));
    QVERIFY(probe.waitFor([&] {
        for (const ChannelMessage& m : probe.messages(QStringLiteral("qzdesk"))) {
            quint16 size[2];
            if (m.type == 1 && decodeU16List(m.payload, 2, size) && size[0] == 1111 && size[1] == 666)
                return true;
        }
        return false;
    }, 10000));
    QCOMPARE(screenOf(session).size(), QSize(1111, 666));
    QVERIFY(probe.waitFor([&] { return probe.frame().size() == QSize(1111, 666); }, 10000));
    QVERIFY(probe.waitFor([&] {
        const double d = meanDifference(probe.frame(), screenOf(session));
        return d >= 0 && d < 3.0;
    }, 10000));

    // Impossible and truncated requests leave the size alone and the connection up.
    const int answers = probe.messages(QStringLiteral("qzdesk")).size();
    QVERIFY(probe.send(QStringLiteral("qzdesk"), 1, encodeU16List({ 20000, 20000 })));
    QVERIFY(probe.send(QStringLiteral("qzdesk"), 1, QByteArray(2, '\1')));
    QVERIFY(probe.waitFor([&] { return probe.messages(QStringLiteral("qzdesk")).size() > answers; }, 10000));
    quint16 kept[2];
    QVERIFY(decodeU16List(probe.messages(QStringLiteral("qzdesk")).last().payload, 2, kept));
    QCOMPARE(kept[0], quint16(1111));
    QCOMPARE(kept[1], quint16(666));

    // Channels the server only listens on: writing there is harmless.
    QVERIFY(probe.send(QStringLiteral("qzshare"), 1, QByteArray(16, '\7')));
    QVERIFY(probe.send(QStringLiteral("rail"), 0, QByteArray(40, '\0')));
    const int frames = probe.framesReceived();
    QVERIFY(probe.send(QStringLiteral("qzdesk"), 1, encodeU16List({ 1024, 768 })));
    QVERIFY(probe.waitFor([&] { return probe.framesReceived() > frames && probe.frame().size() == QSize(1024, 768); },
                          10000));
}

void TestDisplayServer::optionsAreValidatedAndLimitTheFrameRate()
{
    SessionFixture session;
    QString error;
    QVERIFY2(session.start(QStringLiteral("xterm -e 'yes | cat -n'"), QStringLiteral("800x600"), &error), qPrintable(error));
    RdpProbe probe;
    QVERIFY2(probe.connect(optionsFor(session), &error), qPrintable(error));
    QVERIFY(probe.waitFor([&] { return !lastJson(probe, 1).isEmpty(); }, 10000));
    const QJsonObject initial = lastJson(probe, 1);
    QCOMPARE(initial.value(QStringLiteral("BandwidthThrottleAdjust")).toBool(false), true);
    QCOMPARE(initial.value(QStringLiteral("FPSLimitMax")).toInt(), 60);
    QCOMPARE(initial.value(QStringLiteral("CompressionMax")).toInt(), 3);
    QVERIFY(initial.contains(QStringLiteral("FrameAcknowledgeWindow")));

    const int unlimited = framesDuring(probe, 2000);
    QVERIFY2(unlimited >= 20, qPrintable(QString::number(unlimited)));

    QVERIFY(probe.send(QStringLiteral("qzcfg"), 2,
                       R"({"BandwidthThrottleAdjust":false,"Compression":1,"FPSLimit":4,"FrameAcknowledgeWindow":0})"));
    QVERIFY(probe.waitFor([&] { return lastJson(probe, 1).value(QStringLiteral("FPSLimit")).toInt() == 4; },
                          10000));
    QVERIFY(lastJson(probe, 3).contains(QStringLiteral("success")));
    const int limited = framesDuring(probe, 2000);
    QVERIFY2(limited >= 2 && limited <= 12, qPrintable(QString::number(limited)));

    // The text may come with a C string's terminator.
    QVERIFY(probe.send(QStringLiteral("qzcfg"), 2,
                       QByteArray(R"({"BandwidthThrottleAdjust":false,"FPSLimit":5})") + '\0'));
    QVERIFY(probe.waitFor([&] { return lastJson(probe, 1).value(QStringLiteral("FPSLimit")).toInt() == 5; },
                          10000));

    // A value out of range is refused and changes nothing.
    const int reports = probe.messages(QStringLiteral("qzcfg")).size();
    QVERIFY(probe.send(QStringLiteral("qzcfg"), 2, R"({"FPSLimit":500})"));
    QVERIFY(probe.waitFor([&] { return probe.messages(QStringLiteral("qzcfg")).size() > reports; }, 10000));
    QVERIFY(lastJson(probe, 3).contains(QStringLiteral("error")));
    QCOMPARE(lastJson(probe, 1).value(QStringLiteral("FPSLimit")).toInt(), 5);
}

void TestDisplayServer::xfreerdpEndsQuietlyOnDisconnectAndTerminate()
{
    SessionFixture session;
    QString error;
    QVERIFY2(session.start(QStringLiteral("xterm"), QStringLiteral("800x600"), &error), qPrintable(error));
    const QList<qint64> children = SessionFixture::descendantsOf(session.supervisorPid());
    QVERIFY(children.size() >= 3); // Xvnc, the display server, the command

    QProcess first;
    QVERIFY(startXfreerdp(first, session));
    QCOMPARE(session.clients(), 1);
    session.disconnectClients();
    QVERIFY(first.waitForFinished(15000));
    QCOMPARE(first.exitCode(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(session.clients(), 0, 10000);

    QProcess second;
    QVERIFY(startXfreerdp(second, session));
    RdpProbe probe;
    QVERIFY2(probe.connect(optionsFor(session), &error), qPrintable(error));
    QTRY_COMPARE_WITH_TIMEOUT(session.clients(), 2, 15000);
    QVERIFY(session.stop());
    QVERIFY(second.waitForFinished(15000));
    QVERIFY2(second.exitCode() == 1, second.readAll().right(3000).constData());
    QVERIFY(probe.waitFor([&] { return !probe.connected(); }, 10000));
    QCOMPARE(probe.errorInfo(), 1u);
    for (qint64 pid : children)
        QVERIFY2(!SessionFixture::processRunning(pid), qPrintable(QString::number(pid)));
}

void TestDisplayServer::framesWaitForAcknowledgements()
{
    SessionFixture session;
    QString error;
    QVERIFY2(session.start(QStringLiteral("xterm -e 'yes | cat -n'"), QStringLiteral("640x480"), &error), qPrintable(error));
    RdpProbe acknowledging;
    QVERIFY2(acknowledging.connect(optionsFor(session), &error), qPrintable(error));
    RdpProbe silent;
    RdpProbe::Options options = optionsFor(session);
    options.withholdAcknowledgements = true;
    QVERIFY2(silent.connect(options, &error), qPrintable(error));
    QVERIFY(silent.waitFor([&] { return silent.framesReceived() > 0; }, 10000));

    // The screen keeps changing: the acknowledging client keeps getting
    // frames, the silent one stops at the window it announced (2 frames).
    QElapsedTimer timer;
    timer.start();
    const int before = acknowledging.framesReceived();
    while (timer.elapsed() < 2000) {
        acknowledging.pump(20);
        silent.pump(20);
    }
    QVERIFY(acknowledging.framesReceived() - before >= 10);
    QVERIFY2(silent.framesReceived() <= 2, qPrintable(QString::number(silent.framesReceived())));
    QVERIFY(silent.connected());

    // The session's frame window, once set, replaces the announced one. The
    // probes share their channels (the last one connected holds them): pump both.
    QVERIFY(silent.send(QStringLiteral("qzcfg"), 2, R"({"FrameAcknowledgeWindow":6})"));
    const auto windowReported = [&] {
        acknowledging.pump(20);
        silent.pump(20);
        return lastJson(acknowledging, 1).value(QStringLiteral("FrameAcknowledgeWindow")).toInt() == 6
            || lastJson(silent, 1).value(QStringLiteral("FrameAcknowledgeWindow")).toInt() == 6;
    };
    QVERIFY(QTest::qWaitFor(windowReported, 10000));
    QVERIFY(silent.waitFor([&] { return silent.framesReceived() == 6; }, 10000));
    framesDuring(silent, 1000);
    QCOMPARE(silent.framesReceived(), 6);
}

void TestDisplayServer::clipboardTextTravelsBothWays()
{
    SessionFixture session;
    QString error;
    QVERIFY2(session.start(QStringLiteral("xterm"), QStringLiteral("800x600"), &error), qPrintable(error));
    QProcess viewer;
    QVERIFY(startXfreerdp(viewer, session));
    QCOMPARE(session.clients(), 1);

    // Local copy reaches the session display, as UTF-16 through the channel.
    const QString fromClient = QStringLiteral("copied on the client \u00fc\u20ac");
    QProcess clientOwner;
    QVERIFY(copyWithXclip(&clientOwner, QProcessEnvironment::systemEnvironment(), fromClient));
    QTRY_COMPARE_WITH_TIMEOUT(pasteWithXclip(session.environment()), fromClient, 15000);

    // Text copied in the session is offered to the client and fetched on paste.
    const QString fromSession = QStringLiteral("copied in the session \u00df");
    QProcess sessionOwner;
    QVERIFY(copyWithXclip(&sessionOwner, session.environment(), fromSession));
    QTRY_COMPARE_WITH_TIMEOUT(pasteWithXclip(QProcessEnvironment::systemEnvironment()), fromSession, 15000);

    for (QProcess* process : { &clientOwner, &sessionOwner, &viewer }) {
        process->kill();
        process->waitForFinished(5000);
    }
}

void TestDisplayServer::takenPortDoesNotPassForTheSession()
{
    // Another process holds the port the display server is told to use: the
    // session must not count it as its own.
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::LocalHost, 0));
    SessionFixture session;
    QString error;
    QVERIFY2(!session.start(QStringLiteral("xterm"), QStringLiteral("640x480"), &error, other.serverPort()),
             qPrintable(session.log()));
    QVERIFY2(error.contains(QLatin1String("display server did not start")), qPrintable(error));
}

void TestDisplayServer::clipboardDataLengthIsChecked_data()
{
    QTest::addColumn<quint32>("format");
    QTest::newRow("unicode") << quint32(13);
    QTest::newRow("text") << quint32(1);
}

void TestDisplayServer::clipboardDataLengthIsChecked()
{
    QFETCH(quint32, format);
    SessionFixture session;
    RdpProbe probe;
    QString error;
    QVERIFY2(connectRawClipboard(session, probe, &error), qPrintable(error));
    const auto received = [&](quint16 type) { return clipboardMessages(probe, type) > 0; };
    // "Monitor ready" (1) opens the exchange; the server asks (4) for the
    // text the client offers in a format list (2) of one unnamed format.
    QVERIFY(probe.waitFor([&] { return received(1); }, 10000));
    QByteArray offer(6, '\0');
    qToLittleEndian<quint32>(format, offer.data());
    QVERIFY(probe.send(QStringLiteral("cliprdr"), 2, offer));
    QVERIFY(probe.waitFor([&] { return received(4); }, 10000));

    // A data response (5, flag "ok") with four bytes and a length field just
    // below 4 GiB: the channel adds the 8 header bytes in 32 bits and hands
    // it over as complete.
    const QByteArray response = QByteArray::fromHex("05000100fcffffff") + QByteArray("abcd");
    QVERIFY(probe.sendRaw(QStringLiteral("cliprdr"), response));
    framesDuring(probe, 1500);
    QVERIFY2(probe.connected(), qPrintable(session.log()));
    QCOMPARE(pasteWithXclip(session.environment()), QString());
}

void TestDisplayServer::clipboardOwnerThatNeverAnswersIsGivenUp()
{
    SessionFixture session;
    RdpProbe probe;
    QString error;
    QVERIFY2(connectRawClipboard(session, probe, &error), qPrintable(error));
    const auto received = [&](quint16 type) { return clipboardMessages(probe, type); };
    auto lastAnswer = [&] {
        const QList<ChannelMessage>& list = probe.messages(QStringLiteral("cliprdr"));
        const auto it = std::find_if(list.rbegin(), list.rend(), [](const ChannelMessage& m) { return m.type == 5; });
        return it == list.rend() ? QByteArray("none") : it->payload;
    };
    QByteArray unicodeRequest(4, '\0');
    qToLittleEndian<quint32>(13, unicodeRequest.data());

    // The session's owner stops before it answers the server's conversion
    // (4 asks for the text, 5 answers), then ends without answering at all.
    QVERIFY(probe.waitFor([&] { return received(1) == 1; }, 10000));
    QProcess hung;
    QVERIFY(copyWithXclip(&hung, session.environment(), QStringLiteral("never sent")));
    QVERIFY(probe.waitFor([&] { return received(2) > 0; }, 10000));
    QCOMPARE(kill(pid_t(hung.processId()), SIGSTOP), 0);
    QVERIFY(probe.send(QStringLiteral("cliprdr"), 4, unicodeRequest));
    framesDuring(probe, 500);
    hung.kill();
    hung.waitForFinished(5000);
    QVERIFY(probe.waitFor([&] { return received(5) == 1; }, 15000));
    QCOMPARE(lastAnswer(), QByteArray());

    // The next copy is fetched as usual.
    const QString text = QStringLiteral("answered \u00e9");
    const int offers = received(2);
    QProcess owner;
    QVERIFY(copyWithXclip(&owner, session.environment(), text));
    QVERIFY(probe.waitFor([&] { return received(2) > offers; }, 10000));
    QVERIFY(probe.send(QStringLiteral("cliprdr"), 4, unicodeRequest));
    QVERIFY(probe.waitFor([&] { return received(5) == 2; }, 10000));
    QCOMPARE(lastAnswer(), QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2) + QByteArray(2, '\0'));
    owner.kill();
    owner.waitForFinished(5000);
}

void TestDisplayServer::idleConnectionsLeaveTheSessionServing()
{
    SessionFixture session;
    QString error;
    // The program writes far more than the log keeps before it shows its window.
    QVERIFY2(session.start(QStringLiteral("sh -c 'yes zentu-flood | head -c 2000000 >&2; exec xterm'"),
                           QStringLiteral("640x480"), &error),
             qPrintable(error));
    const qint64 server = SessionFixture::descendantNamed(session.supervisorPid(), QStringLiteral("zentu2_display"));
    const qint64 program = SessionFixture::descendantNamed(session.supervisorPid(), QStringLiteral("xterm"));
    QVERIFY(server > 0 && program > 0);
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    const auto closedByServer = [&] {
        return qint64(std::count_if(idle.begin(), idle.end(), [](const auto& socket) {
            return socket->state() == QAbstractSocket::UnconnectedState;
        }));
    };
    // Ten at a time, which the listen queue holds while the server accepts.
    const auto openIdle = [&](int count) {
        for (int i = 0; i < count; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            idle.back()->connectToHost(QStringLiteral("127.0.0.1"), session.port());
        }
    };

    // Out of descriptors: accepting fails for a while, the session stays.
    rlimit original {};
    QCOMPARE(prlimit(pid_t(server), RLIMIT_NOFILE, nullptr, &original), 0);
    const QDir descriptors(QStringLiteral("/proc/%1/fd").arg(server));
    const rlimit exhausted { rlim_t(descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size()),
                             original.rlim_max };
    QCOMPARE(prlimit(pid_t(server), RLIMIT_NOFILE, &exhausted, nullptr), 0);
    openIdle(10);
    QTest::qWait(2000);
    QVERIFY(SessionFixture::processRunning(server));
    QCOMPARE(prlimit(pid_t(server), RLIMIT_NOFILE, &original, nullptr), 0);

    // Connections that never log on: the server keeps only a few of them.
    while (idle.size() < 310) {
        QTRY_VERIFY2_WITH_TIMEOUT(closedByServer() >= qint64(idle.size()) - 8,
                                  qPrintable(QStringLiteral("%1 of %2").arg(closedByServer()).arg(idle.size())), 30000);
        openIdle(10);
    }
    QTRY_COMPARE_WITH_TIMEOUT(closedByServer(), qint64(idle.size()) - 8, 30000);
    QElapsedTimer timer;
    timer.start();
    RdpProbe probe;
    QVERIFY2(probe.connect(optionsFor(session), &error), qPrintable(error));
    QVERIFY(probe.waitFor([&] { return probe.framesReceived() > 0; }, 15000));
    qInfo("with 8 of %d idle connections held, a client connected and had its first frame in %lld ms",
          int(idle.size()), timer.elapsed());
    QCOMPARE(session.clients(), 1);
    QVERIFY(SessionFixture::processRunning(program));

    // The rest are dropped once their time to log on is over.
    QTRY_COMPARE_WITH_TIMEOUT(closedByServer(), qint64(idle.size()), 30000);
    QVERIFY(probe.pump(100));

    // The log keeps its bound; the connections hardly added to it.
    constexpr qint64 limit = 256 * 1024;
    const QString log = session.directory() + QStringLiteral("/session.log");
    QVERIFY(QFileInfo(log).size() <= limit);
    QVERIFY(QFileInfo(log + QStringLiteral(".1")).size() <= limit);
    const QString text = readFile(log + QStringLiteral(".1")) + readFile(log);
    const int flood = text.lastIndexOf(QLatin1String("zentu-flood"));
    QVERIFY(flood >= 0);
    QVERIFY2(text.size() - flood < 4096, qPrintable(text.mid(flood, 3000)));
}

void TestDisplayServer::sharingAdmitsViewersUnderTheOwnersControl()
{
    SessionFixture session;
    QString error;
    const QString log = session.directory() + QStringLiteral("/xev.log");
    QVERIFY2(session.start(QStringLiteral("xev -geometry 400x300+0+0 > %1").arg(log),
                           QStringLiteral("800x600"), &error),
             qPrintable(error));
    const QString qzshare = QStringLiteral("qzshare");
    RdpProbe owner;
    RdpProbe::Options ownerOptions = optionsFor(session);
    ownerOptions.user = QStringLiteral("olga");
    QVERIFY2(owner.connect(ownerOptions, &error), qPrintable(error));
    QVERIFY(owner.waitFor([&] { return shareStatus(owner) == QLatin1String("off, 0 olga*"); }, 15000));
    QCOMPARE(shareValues(owner, ShareMessage::ClientId), QList<quint32> { 0 });
    QVERIFY(owner.waitFor([&] { return readFile(log).contains(QLatin1String("MapNotify")); }, 10000));
    owner.sendMouse(PTR_FLAGS_MOVE, 120, 110);
    QProcess copied;
    QVERIFY(copyWithXclip(&copied, session.environment(), QStringLiteral("the owner's secret")));
    QTRY_COMPARE_WITH_TIMEOUT(pasteWithXclip(session.environment()), QStringLiteral("the owner's secret"), 10000);

    // The owner's client makes the sharing password and sends it.
    const QString password = QStringLiteral("3f2a9c0d5b7e41a6b8c9d0e1f2a3b4c5");
    QVERIFY(owner.send(qzshare, ShareMessage::StartSharing, startSharingPayload(password)));
    QVERIFY(owner.waitFor([&] { return shareStatus(owner) == QLatin1String("on, 0 olga*"); }, 10000));

    RdpProbe viewer;
    // Channel messages leave a probe while it is pumped.
    const auto both = [&](const std::function<bool()>& condition) {
        QElapsedTimer timer;
        timer.start();
        while (!condition() && timer.elapsed() < 10000) {
            owner.pump(20);
            viewer.pump(20);
        }
        return condition();
    };
    RdpProbe::Options viewerOptions = optionsFor(session);
    viewerOptions.user = QStringLiteral("vic");
    viewerOptions.password = password;
    viewerOptions.rawClipboard = true;
    QVERIFY2(viewer.connect(viewerOptions, &error), qPrintable(error));
    QVERIFY(viewer.waitFor([&] { return shareStatus(viewer) == QLatin1String("on, 0 olga*, 1 vic"); }, 15000));
    QCOMPARE(shareValues(viewer, ShareMessage::ClientId), QList<quint32> { 1 });
    QVERIFY(owner.waitFor([&] { return shareStatus(owner) == QLatin1String("on, 0 olga*, 1 vic"); }, 10000));

    // Without control the viewer's keys, pointer, resize and sharing commands change nothing.
    const QPoint before = pointerOf(session);
    viewer.sendKey(0x30, true); // "b"
    viewer.sendKey(0x30, false);
    viewer.sendMouse(PTR_FLAGS_MOVE, 300, 200);
    QVERIFY(viewer.send(QStringLiteral("qzdesk"), 1, encodeU16List({ 1111, 666 })));
    QVERIFY(viewer.send(qzshare, ShareMessage::StartSharing, startSharingPayload(QStringLiteral("mine"))));
    QVERIFY(viewer.send(qzshare, ShareMessage::GiveControl, encodeShareU32(1)));
    QVERIFY(viewer.send(qzshare, ShareMessage::KickUser, encodeShareU32(0)));
    QVERIFY(viewer.send(qzshare, ShareMessage::EndSharing, QByteArray()));
    QVERIFY(viewer.send(qzshare, ShareMessage::GiveControl, QByteArray(3, '\1')));
    // The update settings hold for everyone: only the owner changes them.
    const QByteArray slower(R"({"BandwidthThrottleAdjust":false,"FPSLimit":7})");
    const auto refusals = [&viewer] {
        const QList<ChannelMessage>& list = viewer.messages(QStringLiteral("qzcfg"));
        return std::count_if(list.begin(), list.end(), [](const ChannelMessage& m) {
            return m.type == 3 && QJsonDocument::fromJson(m.payload).object().contains(QStringLiteral("error"));
        });
    };
    QVERIFY(viewer.send(QStringLiteral("qzcfg"), 2, slower));
    // Neither way through the clipboard: the session's text is refused (flags
    // 2) and the viewer's offer of text (format 13) is not taken up.
    QVERIFY(viewer.sendRaw(QStringLiteral("cliprdr"), QByteArray::fromHex("04000000040000000d000000")));
    QVERIFY(viewer.sendRaw(QStringLiteral("cliprdr"), QByteArray::fromHex("02000000060000000d0000000000")));
    framesDuring(viewer, 1500);
    QVERIFY(viewer.connected());
    QCOMPARE(refusals(), 1);
    QVERIFY(lastJson(viewer, 1).value(QStringLiteral("BandwidthThrottleAdjust")).toBool(false));
    owner.sendKey(0x1E, true); // "a"
    owner.sendKey(0x1E, false);
    QVERIFY(owner.waitFor([&] { return readFile(log).contains(QLatin1String("keysym 0x61, a)")); }, 10000));
    QVERIFY(!readFile(log).contains(QLatin1String("keysym 0x62, b)")));
    QCOMPARE(pointerOf(session), before);
    QCOMPARE(screenOf(session).size(), QSize(800, 600));
    QCOMPARE(shareStatus(owner), QStringLiteral("on, 0 olga*, 1 vic"));
    QByteArray answer("none");
    for (const ChannelMessage& m : viewer.messages(QStringLiteral("cliprdr"))) {
        QVERIFY(m.type != 4);
        answer = m.type == 5 ? m.payload : answer;
    }
    QCOMPARE(answer, QByteArray());

    // With control its input is applied and its pointer shown to the owner.
    QVERIFY(owner.send(qzshare, ShareMessage::GiveControl, encodeShareU32(1)));
    QVERIFY(both([&] { return shareStatus(viewer) == QLatin1String("on, 0 olga, 1 vic*"); }));
    viewer.sendMouse(PTR_FLAGS_MOVE, 300, 200);
    viewer.sendKey(0x2E, true); // "c"
    viewer.sendKey(0x2E, false);
    QVERIFY(viewer.waitFor([&] { return readFile(log).contains(QLatin1String("keysym 0x63, c)")); }, 10000));
    QCOMPARE(pointerOf(session), QPoint(300, 200));
    QVERIFY(owner.waitFor([&] {
        for (const ChannelMessage& m : owner.messages(qzshare)) {
            if (m.type == ShareMessage::MouseEvent && m.payload == encodeShareMouse(300, 200, PTR_FLAGS_MOVE))
                return true;
        }
        return false;
    }, 10000));
    // Control does not bring the owner's rights.
    QVERIFY(viewer.send(QStringLiteral("qzcfg"), 2, slower));
    QVERIFY(viewer.waitFor([&] { return refusals() == 2; }, 10000));

    // The controller hands control on while it holds a key and a button:
    // the session lets go of both.
    const auto held = [&session] { return heldDown(session.display(), session.authority()); };
    viewer.sendKey(0x20, true); // "d"
    viewer.sendMouse(PTR_FLAGS_BUTTON1 | PTR_FLAGS_DOWN, 300, 200);
    QVERIFY(viewer.waitFor([&] { return held() == QStringList({ QStringLiteral("d"), QStringLiteral("Button1") }); }, 10000));
    QVERIFY(viewer.send(qzshare, ShareMessage::GiveControl, encodeShareU32(0)));
    QVERIFY(both([&] { return shareStatus(owner) == QLatin1String("on, 0 olga*, 1 vic"); }));
    QVERIFY2(owner.waitFor([&] { return held().isEmpty(); }, 10000), qPrintable(held().join(QLatin1Char(' '))));
    // So does a controller that is sent away; kicked, a viewer is told and dropped.
    QVERIFY(owner.send(qzshare, ShareMessage::GiveControl, encodeShareU32(1)));
    QVERIFY(both([&] { return shareStatus(viewer) == QLatin1String("on, 0 olga, 1 vic*"); }));
    viewer.sendKey(0x12, true); // "e"
    QVERIFY(viewer.waitFor([&] { return held() == QStringList { QStringLiteral("e") }; }, 10000));
    QVERIFY(owner.send(qzshare, ShareMessage::KickUser, encodeShareU32(1)));
    QVERIFY(both([&] { return !viewer.connected() && shareStatus(owner) == QLatin1String("on, 0 olga*"); }));
    QVERIFY2(owner.waitFor([&] { return held().isEmpty(); }, 10000), qPrintable(held().join(QLatin1Char(' '))));
    QVERIFY(!shareValues(viewer, ShareMessage::DisconnectInfo).isEmpty());

    // A viewer joining directly uses TLS. Ending the sharing drops every
    // viewer and the password stops working.
    RdpProbe second;
    viewerOptions.user = QStringLiteral("wendy");
    viewerOptions.tls = true;
    QVERIFY2(second.connect(viewerOptions, &error), qPrintable(error));
    QVERIFY(owner.waitFor([&] { return shareStatus(owner) == QLatin1String("on, 0 olga*, 2 wendy"); }, 10000));
    QVERIFY(owner.send(qzshare, ShareMessage::EndSharing, QByteArray()));
    QVERIFY(owner.waitFor([&] { return shareStatus(owner) == QLatin1String("off, 0 olga*"); }, 10000));
    // Viewers sent away are dropped even when they do not hang up themselves.
    QTRY_COMPARE_WITH_TIMEOUT(session.clients(), 1, 10000);
    second.waitFor([&] { return !second.connected(); }, 10000);
    QVERIFY(!second.connected());
    RdpProbe late;
    QVERIFY(!late.connect(viewerOptions, &error));
    QVERIFY(owner.pump(100));
    QVERIFY(!session.log().contains(password));
    copied.kill();
    copied.waitForFinished(5000);
}

QTEST_GUILESS_MAIN(TestDisplayServer)
#include "tst_displayserver.moc"
