#include "RdpClientContext.h"
#include "RdpClipboardCodec.h"
#include "RdpCoordinates.h"
#include "RdpExitCode.h"
#include "RdpFrameGrouper.h"
#include "RdpInputFlags.h"
#include "RdpMonitorLayout.h"
#include "RdpRailWidget.h"
#include "RdpRailWindows.h"
#include "RdpSharingKey.h"
#include "RdpTestServers.h"
#include "RdpViewerModel.h"
#include "RdpWindowMode.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTextStream>

#include <freerdp/window.h>

using namespace RdpCoordinates;

namespace {
QRect corners(int l, int t, int r, int b)
{
    return QRect(QPoint(l, t), QPoint(r, b));
}
} // namespace

class TestRdpRules : public QObject
{
    Q_OBJECT

private slots:
    void windowMode_data();
    void windowMode();
    void scaleFromFactor();
    void pointsAtScales();
    void rectanglesAtScales();
    void globalMapping();
    void remoteDesktopSize();
    void monitorLayout_data();
    void monitorLayout();
    void monitorLayoutOfRealScreens();
    void wheelFlags();
    void buttonAndKeyFlags();
    void exitCodeMapping();
    void endMessages();
    void disconnectReason();
    void frameGrouping();
    void railWindowOffsets();
    void clipboardFormats();
    void clipboardDecode();
    void clipboardEncode();
    void clipboardOnlyLatestRequestApplies();
    void viewerModel();
    void sharingKey_data();
    void sharingKey();
};

void TestRdpRules::windowMode_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("size") << "1280x1024" << int(RdpWindowMode::Desktop) << 1280 << 1024;
    QTest::newRow("no height") << "1280x" << int(RdpWindowMode::Desktop) << 1280 << 768;
    QTest::newRow("no width") << "x800" << int(RdpWindowMode::Desktop) << 1024 << 800;
    QTest::newRow("no x") << "1280" << int(RdpWindowMode::Desktop) << 1024 << 768;
    QTest::newRow("zeros") << "0x0" << int(RdpWindowMode::Desktop) << 1024 << 768;
    QTest::newRow("capital X") << "1280X1024" << int(RdpWindowMode::Desktop) << 1024 << 768;
    QTest::newRow("three parts") << "1x2x3" << int(RdpWindowMode::Desktop) << 1024 << 768;
    QTest::newRow("negative") << "-5x-7" << int(RdpWindowMode::Desktop) << 1024 << 768;
    QTest::newRow("huge") << "99999x480" << int(RdpWindowMode::Desktop) << 1024 << 480;
    QTest::newRow("empty") << "" << int(RdpWindowMode::Desktop) << 1024 << 768;
    QTest::newRow("rootless") << "rootless" << int(RdpWindowMode::Rootless) << 1024 << 768;
    QTest::newRow("fullscreen") << "fullscreen" << int(RdpWindowMode::Fullscreen) << 1024 << 768;
}

void TestRdpRules::windowMode()
{
    QFETCH(QString, mode);
    QFETCH(int, kind);
    const RdpWindowMode parsed = RdpWindowMode::parse(mode);
    QCOMPARE(int(parsed.kind), kind);
    if (parsed.kind == RdpWindowMode::Desktop) {
        QFETCH(int, width);
        QFETCH(int, height);
        QCOMPARE(parsed.width, width);
        QCOMPARE(parsed.height, height);
    }
}

void TestRdpRules::scaleFromFactor()
{
    // Only 0.5 and 2 scale; anything else is 1.
    const QList<QPair<double, double>> cases = {{0.5, 0.5}, {2.0, 2.0}, {1.5, 1.0}, {0.0, 1.0}};
    for (const auto& c : cases) {
        QCOMPARE(RdpScale::fromFactor(c.first).scale, c.second);
        QCOMPARE(RdpScale::fromFactor(c.first).inverse, 1.0 / c.second);
    }
}

void TestRdpRules::pointsAtScales()
{
    QCOMPARE(localToRemote(QPoint(11, 7), 0.5), QPoint(5, 3));
    QCOMPARE(localToRemote(QPoint(11, 7), 1.0), QPoint(11, 7));
    QCOMPARE(localToRemote(QPoint(11, 7), 2.0), QPoint(22, 14));
    QCOMPARE(localToRemote(QPoint(-3, -1), 0.5), QPoint(-2, -1));
    QCOMPARE(remoteToLocal(QPoint(11, 7), 0.5), QPoint(5, 3));
    QCOMPARE(remoteToLocal(QPoint(11, 7), 2.0), QPoint(22, 14));
}

void TestRdpRules::rectanglesAtScales()
{
    // Remote to local, as the repaint step maps painted areas.
    QCOMPARE(remoteToLocal(corners(0, 0, 1023, 767), 0.5), corners(0, 0, 511, 383));
    QCOMPARE(remoteToLocal(corners(0, 0, 1023, 767), 2.0), corners(0, 0, 2047, 1535));
    QCOMPARE(remoteToLocal(corners(3, 5, 9, 10), 1.0), corners(3, 5, 9, 10));
    QCOMPARE(remoteToLocal(corners(3, 5, 9, 10), 0.5), corners(1, 2, 4, 5));
    QCOMPARE(remoteToLocal(corners(3, 5, 9, 10), 2.0), corners(6, 10, 19, 21));
    // Local to remote.
    QCOMPARE(localToRemote(corners(0, 0, 511, 383), 2.0), corners(0, 0, 1023, 767));
    QCOMPARE(localToRemote(corners(0, 0, 2047, 1535), 0.5), corners(0, 0, 1023, 767));
    QCOMPARE(localToRemote(corners(0, 0, 2048, 1536), 0.5), corners(0, 0, 1023, 767));
    QCOMPARE(localToRemote(corners(4, 6, 9, 10), 0.5), corners(2, 3, 4, 4));
    QCOMPARE(localToRemote(corners(4, 6, 9, 10), 1.0), corners(4, 6, 9, 10));
    // Floating rectangles are scaled without rounding.
    QCOMPARE(localToRemote(QRectF(1, 3, 5, 7), 0.5), QRectF(0.5, 1.5, 2.5, 3.5));
    QCOMPARE(localToRemote(QRectF(1, 3, 5, 7), 2.0), QRectF(2, 6, 10, 14));
}

void TestRdpRules::globalMapping()
{
    const QPoint origin(-1024, 100);
    QCOMPARE(globalToRemote(QPoint(-1000, 150), 1.0, origin), QPoint(24, 50));
    // The corner is subtracted after scaling, unscaled.
    QCOMPARE(globalToRemote(QPoint(10, 20), 2.0, origin), QPoint(1044, -60));
    QCOMPARE(remoteToGlobal(QPoint(24, 50), 1.0, origin), QPoint(-1000, 150));
    QCOMPARE(remoteToGlobal(QPoint(10, 20), 0.5, origin), QPoint(-1019, 110));
    QCOMPARE(globalToRemote(corners(0, 0, 511, 383), 2.0, QPoint(0, 0)), corners(0, 0, 1023, 767));
    QCOMPARE(remoteToGlobal(corners(0, 0, 9, 9), 1.0, origin), corners(-1024, 100, -1015, 109));
    QCOMPARE(globalToRemote(QRectF(10, 10, 4, 4), 0.5, QPoint(2, 2)), QRectF(3, 3, 2, 2));
}

void TestRdpRules::remoteDesktopSize()
{
    QCOMPARE(RdpCoordinates::remoteDesktopSize(QRect(0, 0, 1024, 768), 1.0), QSize(1024, 768));
    QCOMPARE(RdpCoordinates::remoteDesktopSize(QRect(100, 50, 1024, 768), 2.0), QSize(2048, 1536));
    QCOMPARE(RdpCoordinates::remoteDesktopSize(QRect(0, 0, 2048, 768), 0.5), QSize(1024, 384));
}

void TestRdpRules::monitorLayout_data()
{
    QTest::addColumn<QList<QRect>>("workAreas");
    QTest::addColumn<double>("scale");
    QTest::addColumn<QPoint>("origin");
    QTest::addColumn<QString>("records");
    const QList<QRect> sideBySide{QRect(0, 0, 1024, 768), QRect(1024, 0, 1024, 768)};
    QTest::newRow("two screens") << sideBySide << 1.0 << QPoint(0, 0)
                                 << QStringLiteral("0,0,1024,768 1024,0,2048,768");
    // Right and bottom come from the scaled inclusive corners.
    QTest::newRow("two screens at half scale") << sideBySide << 0.5 << QPoint(0, 0)
                                               << QStringLiteral("0,0,512,384 512,0,1024,384");
    QTest::newRow("panel and origin left of the primary")
        << QList<QRect>{QRect(-1280, 0, 1280, 1024), QRect(0, 30, 1920, 1050)} << 1.0 << QPoint(-1280, 0)
        << QStringLiteral("0,0,1280,1024 1280,30,3200,1080");
    QTest::newRow("cut to 16 bits") << QList<QRect>{QRect(0, 0, 70000, 10)} << 1.0 << QPoint(0, 0)
                                    << QStringLiteral("0,0,4464,10");
}

void TestRdpRules::monitorLayout()
{
    QFETCH(QList<QRect>, workAreas);
    QFETCH(double, scale);
    QFETCH(QPoint, origin);
    QFETCH(QString, records);
    QStringList shown;
    for (const QzrailMonitor& m : RdpMonitorLayout::records(workAreas, scale, origin))
        shown << QStringLiteral("%1,%2,%3,%4").arg(m.left).arg(m.top).arg(m.right).arg(m.bottom);
    QCOMPARE(shown.join(QLatin1Char(' ')), records);
}

void TestRdpRules::monitorLayoutOfRealScreens()
{
    // Xvfb stacks every Xinerama screen at the origin; screens of two sizes
    // show that each one is read, in order. Without RandR the toolkit takes
    // the screens from Xinerama.
    RdpTestXvfb xvfb;
    QString error;
    QVERIFY2(xvfb.start({QStringLiteral("+xinerama"), QStringLiteral("-extension"), QStringLiteral("RANDR"),
                         QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1024x768x24"),
                         QStringLiteral("-screen"), QStringLiteral("1"), QStringLiteral("800x600x24")},
                        &error),
             qPrintable(error));
    QProcessEnvironment environment = xvfb.environment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    const QList<QPair<QString, QString>> cases = {{QStringLiteral("1"), QStringLiteral("0,0,1024,768 0,0,800,600")},
                                                  {QStringLiteral("0.5"), QStringLiteral("0,0,512,384 0,0,400,300")}};
    for (const auto& c : cases) {
        QProcess helper;
        helper.setProcessEnvironment(environment);
        helper.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--monitor-records"), c.first});
        QVERIFY(helper.waitForFinished(30000));
        QCOMPARE(helper.exitCode(), 0);
        QCOMPARE(QString::fromLatin1(helper.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                     .join(QLatin1Char(' ')),
                 c.second);
    }
}

void TestRdpRules::wheelFlags()
{
    // Less than a step, either way, is no turn at all.
    const QList<QPair<int, quint16>> cases = {{120, 0x0201}, {360, 0x0203}, {-120, 0x03FF}, {-240, 0x03FE},
                                              {60, 0}, {-119, 0}, {0, 0}};
    for (const auto& c : cases)
        QCOMPARE(RdpInputFlags::wheel(c.first), c.second);
    QCOMPARE(RdpInputFlags::wheel(120 * 1000), quint16(0x02FF));
    QCOMPARE(RdpInputFlags::wheel(-120 * 1000), quint16(0x0301));

    // A touchpad's small deltas add up to steps; the rest waits for more.
    int pending = 0;
    QCOMPARE(RdpInputFlags::takeWheelSteps(&pending, 50), 0);
    QCOMPARE(RdpInputFlags::takeWheelSteps(&pending, 50), 0);
    QCOMPARE(RdpInputFlags::takeWheelSteps(&pending, 50), 120);
    QCOMPARE(pending, 30);
    QCOMPARE(RdpInputFlags::takeWheelSteps(&pending, 250), 240);
    QCOMPARE(pending, 40);
    // Turning back starts afresh.
    QCOMPARE(RdpInputFlags::takeWheelSteps(&pending, -100), 0);
    QCOMPARE(RdpInputFlags::takeWheelSteps(&pending, -30), -120);
    QCOMPARE(pending, -10);
    QCOMPARE(RdpInputFlags::takeWheelSteps(&pending, 2000000000), 255 * 120);
    QCOMPARE(pending, 0);
}

void TestRdpRules::buttonAndKeyFlags()
{
    const QList<QPair<Qt::MouseButton, quint16>> buttons = {
        {Qt::LeftButton, 0x1000}, {Qt::RightButton, 0x2000}, {Qt::MiddleButton, 0x4000}, {Qt::BackButton, 0}};
    for (const auto& b : buttons) {
        QCOMPARE(RdpInputFlags::button(b.first, false), b.second);
        QCOMPARE(RdpInputFlags::button(b.first, true), quint16(b.second ? b.second | 0x8000 : 0));
    }
    // 'a' and the extended Up arrow.
    QCOMPARE(RdpInputFlags::keyFlags(0x1E, true), quint16(0x4000));
    QCOMPARE(RdpInputFlags::keyFlags(0x1E, false), quint16(0x8000));
    QCOMPARE(RdpInputFlags::keyFlags(0x148, true), quint16(0x4100));
    QCOMPARE(RdpInputFlags::keyFlags(0x148, false), quint16(0x8100));
    QCOMPARE(RdpInputFlags::keyCode(0x148), quint16(0x48));
}

void TestRdpRules::exitCodeMapping()
{
    const QList<QPair<int, int>> cases = {{0, 0},       {1, 1},       {12, 12},       {13, 255},    {127, 255},
                                          {128, 128},   {129, 129},   {130, 130},     {131, 131},   {132, 255},
                                          {255, 255},   {256, 255},   {266, 255},     {0x10C8, 255}, {0x10C9, 32},
                                          {0x1193, 32}, {0x1194, 255}, {-1, 255}};
    for (const auto& c : cases)
        QCOMPARE(RdpExitCode::fromReason(c.first), c.second);
}

void TestRdpRules::endMessages()
{
    using RdpExitCode::End;
    // Closed here, disconnected or logged off, by an administrator or the user.
    for (int code : {0, 1, 2, 11, 12})
        QCOMPARE(RdpExitCode::endOf(code), End::Quiet);
    QCOMPARE(RdpExitCode::endOf(5), End::TakenOver);
    QCOMPARE(RdpExitCode::endOf(131), End::Unreachable);
    for (int code : {3, 4, 6, 13, 32, 128, 255})
        QCOMPARE(RdpExitCode::endOf(code), End::Unexpected);
}

void TestRdpRules::disconnectReason()
{
    using RdpExitCode::disconnectReason;
    // The server's own reason wins.
    QCOMPARE(disconnectReason(1, 0), 1);
    QCOMPARE(disconnectReason(0x0B, 0x0002000D), 0x0B);
    // A dead server or tunnel: no reason from the server, a transport failure here.
    QCOMPARE(disconnectReason(0, 0x0002000D), 131);
    QCOMPARE(disconnectReason(0, 0x0002000C), 131);
    // Our own cancel and a clean end stay quiet.
    QCOMPARE(disconnectReason(0, 0x0002000B), 0);
    QCOMPARE(disconnectReason(0, 0), 0);
    QCOMPARE(RdpExitCode::fromReason(disconnectReason(0xFFFFFFFF, 0)), 255);
}

void TestRdpRules::frameGrouping()
{
    RdpFrameGrouper frames;
    QRegion repaint;
    // Outside a frame every end-paint shows at once.
    frames.paint(QRect(0, 0, 10, 10));
    QVERIFY(frames.endPaint(&repaint));
    QCOMPARE(repaint, QRegion(0, 0, 10, 10));
    QVERIFY(!frames.inFrame());

    QVERIFY(!frames.frameMarker(RdpFrameGrouper::FrameBegin, &repaint));
    QVERIFY(frames.inFrame());
    frames.paint(QRect(0, 0, 10, 10));
    QVERIFY(!frames.endPaint(&repaint));
    frames.paint(QRect(20, 20, 5, 5));
    QVERIFY(!frames.endPaint(&repaint));
    QVERIFY(frames.frameMarker(RdpFrameGrouper::FrameEnd, &repaint));
    QCOMPARE(repaint, QRegion(0, 0, 10, 10).united(QRegion(20, 20, 5, 5)));
    QVERIFY(!frames.inFrame());

    // The next frame starts empty.
    QVERIFY(!frames.frameMarker(RdpFrameGrouper::FrameBegin, &repaint));
    QVERIFY(frames.frameMarker(RdpFrameGrouper::FrameEnd, &repaint));
    QVERIFY(repaint.isEmpty());

    // Unknown actions change nothing.
    repaint = QRegion(1, 1, 1, 1);
    QVERIFY(!frames.frameMarker(7, &repaint));
    QCOMPARE(repaint, QRegion(1, 1, 1, 1));
    QVERIFY(!frames.inFrame());

    // Up to the limit the rectangles stay apart; beyond it their bounding
    // rectangle is shown, and the next end-paint starts apart again.
    for (int i = 0; i < RdpFrameGrouper::MaxRects; ++i)
        frames.paint(QRect(20 * i, 0, 10, 10));
    QVERIFY(frames.endPaint(&repaint));
    QCOMPARE(repaint.rectCount(), RdpFrameGrouper::MaxRects);
    for (int i = 0; i <= RdpFrameGrouper::MaxRects; ++i)
        frames.paint(QRect(20 * i, 2 * i, 10, 10));
    QVERIFY(frames.endPaint(&repaint));
    QCOMPARE(repaint, QRegion(0, 0, 20 * RdpFrameGrouper::MaxRects + 10, 2 * RdpFrameGrouper::MaxRects + 10));
    frames.paint(QRect(0, 0, 1, 1));
    frames.paint(QRect(5, 5, 1, 1));
    QVERIFY(frames.endPaint(&repaint));
    QCOMPARE(repaint.rectCount(), 2);
}

void TestRdpRules::railWindowOffsets()
{
    // The context as the library hands it over, without a connection.
    rdpUpdate update = {};
    rdpWindowUpdate windowUpdate = {};
    rdpInput input = {};
    RdpClientContext context = {};
    update.window = &windowUpdate;
    context.common.context.update = &update;
    context.common.context.input = &input;
    context.scale = context.inverseScale = 1.0;
    RdpRailWindows windows(&context);
    RdpRailOrder order;
    order.id = 5;
    order.fields = WINDOW_ORDER_STATE_NEW | WINDOW_ORDER_FIELD_WND_OFFSET | WINDOW_ORDER_FIELD_WND_SIZE;
    order.x = 100;
    order.y = 80;
    order.width = 300;
    order.height = 200;
    windows.apply(order);
    QVERIFY(windows.window(5));
    const QRect placed = windows.window(5)->remoteGeometry();
    // An offset on no desktop (it would overflow the rectangle) is ignored.
    order.fields = WINDOW_ORDER_FIELD_WND_OFFSET;
    order.x = 0x7fffff00;
    order.y = -0x7fffff00;
    windows.apply(order);
    QCOMPARE(windows.window(5)->remoteGeometry(), placed);
    // The largest side a server may send is bounded by the local screens.
    order.fields = WINDOW_ORDER_FIELD_WND_SIZE;
    order.width = order.height = quint32(RdpRailWindows::MaxSide);
    windows.apply(order);
    const QSize screens = RdpCoordinates::virtualDesktop().size();
    QCOMPARE(windows.window(5)->remoteGeometry().size(), QSize(32767, 32767).boundedTo(screens));
    QVERIFY(windows.window(5)->width() <= screens.width() && windows.window(5)->height() <= screens.height());
}

void TestRdpRules::clipboardFormats()
{
    using RdpClipboardCodec::preferredFormat;
    QCOMPARE(preferredFormat({1, 13, 7}), 13);
    QCOMPARE(preferredFormat({7, 1}), 1);
    QCOMPARE(preferredFormat({7, 49157}), -1);
    QCOMPARE(preferredFormat({}), -1);
}

void TestRdpRules::clipboardDecode()
{
    using RdpClipboardCodec::decode;
    const QByteArray utf16("h\0\xE9\0\xAC\x20\0\0\0\0", 10);
    QCOMPARE(decode(13, utf16), QStringLiteral("h\u00E9\u20AC"));
    // An odd trailing byte is not a code unit.
    QCOMPARE(decode(13, QByteArray("a\0b", 3)), QStringLiteral("a"));
    QCOMPARE(decode(1, QByteArray("caf\xE9\0junk", 9)), QStringLiteral("caf\u00E9"));
    QCOMPARE(decode(1, QByteArray("plain")), QStringLiteral("plain"));
    QVERIFY(decode(13, QByteArray()).isEmpty());
    QVERIFY(decode(7, QByteArray("x")).isNull());
}

void TestRdpRules::clipboardEncode()
{
    using RdpClipboardCodec::encode;
    QCOMPARE(encode(13, QStringLiteral("h\u00E9\u20AC")), QByteArray("h\0\xE9\0\xAC\x20", 6));
    QCOMPARE(encode(1, QStringLiteral("caf\u00E9")), QByteArray("caf\xE9"));
    QVERIFY(encode(13, QString()).isEmpty());
    QVERIFY(encode(7, QStringLiteral("x")).isEmpty());
    // A round trip keeps the text.
    const QString text = QStringLiteral("line 1\nline 2 \u2603");
    QCOMPARE(RdpClipboardCodec::decode(13, encode(13, text)), text);
}

void TestRdpRules::clipboardOnlyLatestRequestApplies()
{
    RdpClipboardRequests requests;
    QCOMPARE(requests.format(), -1);
    requests.sent(13);
    QVERIFY(requests.acceptResponse());
    QCOMPARE(requests.format(), 13);

    // Two announcements in quick succession: the first answer is dropped.
    requests.sent(13);
    requests.sent(1);
    QCOMPARE(requests.format(), 1);
    QVERIFY(!requests.acceptResponse());
    QVERIFY(requests.acceptResponse());

    // An answer nobody asked for still counts as the latest, and does not
    // leave the count below zero for the next request.
    QVERIFY(requests.acceptResponse());
    requests.sent(13);
    QVERIFY(requests.acceptResponse());

    requests.sent(1);
    requests.reset();
    QCOMPARE(requests.format(), -1);
    requests.sent(13);
    QVERIFY(requests.acceptResponse());
}

void TestRdpRules::viewerModel()
{
    RdpViewerModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy updated(&model, &RdpViewerModel::viewersUpdated);
    const auto display = [&model](int row) { return model.index(row, 0).data().toString(); };

    // The owner alone, as it learns its own id: every tag, in order.
    model.setViewers({RdpViewer(0, QStringLiteral("ann"), true, true)});
    model.setClientId(0);
    QCOMPARE(display(0), QStringLiteral("ann (me,owner,controller)"));
    QCOMPARE(model.index(0, 0).data(RdpViewerModel::SortRole).toString(), QStringLiteral("ann"));
    QCOMPARE(changed.size(), 1);
    QVERIFY(model.flags(model.index(0, 0)) & Qt::ItemIsDragEnabled);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Viewer"));
    QVERIFY(!model.headerData(0, Qt::Vertical).isValid());

    // Unsorted, with a repeated id: sorted by id, the first copy kept.
    model.setViewers({RdpViewer(7, QStringLiteral("cy"), false, false), RdpViewer(0, QStringLiteral("ann"), true, true),
                      RdpViewer(3, QStringLiteral("bo"), false, false), RdpViewer(7, QStringLiteral("dup"), false, false)});
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.viewerAt(1).id(), 3u);
    QCOMPARE(display(2), QStringLiteral("cy"));
    QCOMPARE(inserted.size(), 2);
    QCOMPARE(changed.size(), 1);

    // Control moves to bo, cy leaves, dee joins: changes, one removal, one insertion.
    changed.clear();
    inserted.clear();
    model.setViewers({RdpViewer(0, QStringLiteral("ann"), true, false), RdpViewer(3, QStringLiteral("bo"), false, true),
                      RdpViewer(9, QStringLiteral("dee"), false, false)});
    QCOMPARE(changed.size(), 2);
    QCOMPARE(removed.size(), 1);
    QCOMPARE(removed.at(0).at(1).toInt(), 2);
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(display(0), QStringLiteral("ann (me,owner)"));
    QCOMPARE(display(1), QStringLiteral("bo (controller)"));
    QCOMPARE(display(2), QStringLiteral("dee"));

    // A viewer's own id moves the "me" tag, telling both rows.
    changed.clear();
    model.setClientId(9);
    QCOMPARE(changed.size(), 2);
    QCOMPARE(display(2), QStringLiteral("dee (me)"));
    QCOMPARE(display(0), QStringLiteral("ann (owner)"));

    QVERIFY(!model.viewerAt(3).isValid());
    QVERIFY(!model.viewerAt(-1).isValid());
    model.setViewers({});
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(reset.size(), 0);
    QCOMPARE(updated.size(), 4);
}

void TestRdpRules::sharingKey_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("sshPort");
    QTest::addColumn<int>("rdpPort");
    QTest::addColumn<bool>("direct");
    QTest::addColumn<QString>("windowMode");

    const auto key = [](const QJsonObject& object) {
        return QString::fromLatin1(QJsonDocument(object).toJson(QJsonDocument::Compact).toBase64());
    };
    const QJsonObject plain{{QStringLiteral("Hostname"), QStringLiteral("srv.example")},
                            {QStringLiteral("SshPort"), 2222},
                            {QStringLiteral("RdpPort"), 3390},
                            {QStringLiteral("Password"), QStringLiteral("0123abcd")}};
    const auto with = [&plain](const QString& name, const QJsonValue& value) {
        QJsonObject object = plain;
        if (value.isUndefined())
            object.remove(name);
        else
            object.insert(name, value);
        return object;
    };
    const QString def = QStringLiteral("1024x768");
    const QString host = QStringLiteral("srv.example");
    QTest::newRow("plain") << key(plain) << true << host << 2222 << 3390 << false << def;
    QJsonObject direct = with(QStringLiteral("Direct"), true);
    direct.insert(QStringLiteral("WindowMode"), QStringLiteral("rootless"));
    QTest::newRow("direct, rootless") << key(direct) << true << host << 2222 << 3390 << true << "rootless";
    QTest::newRow("size") << key(with(QStringLiteral("WindowMode"), QStringLiteral("1600x900"))) << true << host
                          << 2222 << 3390 << false << "1600x900";
    QTest::newRow("odd window mode") << key(with(QStringLiteral("WindowMode"), QStringLiteral("-1x5;rm"))) << true
                                     << host << 2222 << 3390 << false << def;
    QTest::newRow("window mode and newline") << key(with(QStringLiteral("WindowMode"), QStringLiteral("rootless\n")))
                                             << true << host << 2222 << 3390 << false << def;
    QTest::newRow("window mode not a string") << key(with(QStringLiteral("WindowMode"), 800)) << true << host << 2222
                                              << 3390 << false << def;
    QTest::newRow("ssh port as string") << key(with(QStringLiteral("SshPort"), QStringLiteral("22"))) << true << host
                                        << 0 << 3390 << false << def;
    QTest::newRow("option as host") << key(with(QStringLiteral("Hostname"), QStringLiteral("-oProxyCommand=touch /tmp/x")))
                                    << false << "" << 0 << 0 << false << def;
    QTest::newRow("blank in host") << key(with(QStringLiteral("Hostname"), QStringLiteral("a b"))) << false << "" << 0
                                   << 0 << false << def;
    QTest::newRow("newline after host") << key(with(QStringLiteral("Hostname"), QStringLiteral("srv\n"))) << false
                                        << "" << 0 << 0 << false << def;
    QTest::newRow("no host") << key(with(QStringLiteral("Hostname"), QJsonValue(QJsonValue::Undefined))) << false << ""
                             << 0 << 0 << false << def;
    QTest::newRow("no rdp port") << key(with(QStringLiteral("RdpPort"), QJsonValue(QJsonValue::Undefined))) << false
                                 << "" << 0 << 0 << false << def;
    QTest::newRow("rdp port 0") << key(with(QStringLiteral("RdpPort"), 0)) << false << "" << 0 << 0 << false << def;
    QTest::newRow("rdp port 70000") << key(with(QStringLiteral("RdpPort"), 70000)) << false << "" << 0 << 0 << false
                                    << def;
    QTest::newRow("ssh port 70000") << key(with(QStringLiteral("SshPort"), 70000)) << false << "" << 0 << 0 << false
                                    << def;
    QTest::newRow("rdp port fraction") << key(with(QStringLiteral("RdpPort"), 3390.5)) << false << "" << 0 << 0
                                       << false << def;
    QTest::newRow("array") << QString::fromLatin1(QByteArray("[\"srv.example\",22,3390]").toBase64()) << false << ""
                           << 0 << 0 << false << def;
    QTest::newRow("not json") << QString::fromLatin1(QByteArray("Hostname=srv").toBase64()) << false << "" << 0 << 0
                              << false << def;
    QTest::newRow("empty") << QString() << false << "" << 0 << 0 << false << def;
}

void TestRdpRules::sharingKey()
{
    QFETCH(QString, key);
    QFETCH(bool, valid);
    RdpSharingKey decoded;
    decoded.hostname = QStringLiteral("untouched");
    QString error;
    QCOMPARE(RdpSharingKey::decode(key, &decoded, &error), valid);
    if (!valid) {
        QCOMPARE(error, QStringLiteral("Invalid sharing key."));
        QCOMPARE(decoded.hostname, QStringLiteral("untouched"));
        return;
    }
    QVERIFY(error.isEmpty());
    QTEST(decoded.hostname, "host");
    QTEST(int(decoded.sshPort), "sshPort");
    QTEST(int(decoded.rdpPort), "rdpPort");
    QTEST(decoded.direct, "direct");
    QTEST(decoded.windowMode, "windowMode");
    QCOMPARE(decoded.password, QStringLiteral("0123abcd"));

    // What the sharing dialog writes reads back the same, members sorted by name.
    const QString written = decoded.encode();
    QVERIFY(QByteArray::fromBase64(written.toLatin1()).startsWith("{\"Hostname\":"));
    RdpSharingKey again;
    QVERIFY(RdpSharingKey::decode(written, &again, &error));
    QCOMPARE(again.hostname, decoded.hostname);
    QCOMPARE(again.rdpPort, decoded.rdpPort);
    QCOMPARE(again.sshPort, decoded.sshPort);
    QCOMPARE(again.password, decoded.password);
}

int main(int argc, char** argv)
{
    // Run as "--monitor-records <scale>", prints the records of the screens
    // of $DISPLAY, one "left,top,right,bottom" a line.
    if (argc == 3 && qstrcmp(argv[1], "--monitor-records") == 0) {
        QGuiApplication app(argc, argv);
        const double scale = QString::fromLocal8Bit(argv[2]).toDouble();
        const QPoint origin = QGuiApplication::primaryScreen()->virtualGeometry().topLeft();
        QTextStream out(stdout);
        for (const QzrailMonitor& m : RdpMonitorLayout::records(RdpMonitorLayout::workAreas(), scale, origin))
            out << m.left << ',' << m.top << ',' << m.right << ',' << m.bottom << '\n';
        return 0;
    }
    // Widgets for the rootless windows.
    QApplication app(argc, argv);
    TestRdpRules test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_rdprules.moc"
