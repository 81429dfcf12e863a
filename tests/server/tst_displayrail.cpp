// A rootless session against real peers: the supervisor's Xvnc session with
// real X programs, and our probe client in remote application mode.

#include "ChannelMessage.h"
#include "DisplayCapture.h"
#include "RdpProbe.h"
#include "SessionFixture.h"

#include <QFile>
#include <QProcess>
#include <QTest>
#include <QtEndian>

#include <freerdp/freerdp.h>
#include <freerdp/rail.h>
#include <freerdp/window.h>

#include <functional>

namespace {

using Order = RdpProbe::WindowOrder;

// X programs of the test on the session's display.
QString runX(const SessionFixture& session, const QString& program, const QStringList& arguments)
{
    return runX(program, arguments, session.display(), session.authority());
}

quint32 windowNamed(const SessionFixture& session, const QString& title)
{
    return quint32(windowTitled(title, session.display(), session.authority()));
}

QByteArray u32s(std::initializer_list<quint32> values)
{
    QByteArray out;
    for (quint32 v : values) {
        char bytes[4];
        qToLittleEndian<quint32>(v, bytes);
        out.append(bytes, 4);
    }
    return out;
}

bool sendSysCommand(RdpProbe& probe, quint32 id, quint16 command)
{
    return probe.sendRail(TS_RAIL_ORDER_SYSCOMMAND, u32s({ id }) + encodeU16List({ command }));
}

// Pumps until an order received from index `from` on matches.
bool waitForOrder(RdpProbe& probe, int from, const std::function<bool(const Order&)>& match,
                  int timeoutMs = 10000)
{
    const bool found = probe.waitFor([&] {
        const QList<Order>& orders = probe.windowOrders();
        for (int i = from; i < orders.size(); ++i) {
            if (match(orders.at(i)))
                return true;
        }
        return false;
    }, timeoutMs);
    if (!found) {
        for (const Order& o : probe.windowOrders()) {
            QStringList stack;
            for (quint32 id : o.zOrder)
                stack << QString::number(id, 16);
            qWarning("order kind %d id 0x%x fields 0x%x %d,%d %dx%d title %s owner 0x%x show %u active 0x%x z %s",
                     o.kind, o.id, o.fields, o.x, o.y, o.width, o.height, qPrintable(o.title), o.owner,
                     o.showState, o.active, qPrintable(stack.join(QLatin1Char(' '))));
        }
    }
    return found;
}

bool isDesktop(const Order& o, quint32 active, quint32 top)
{
    return o.kind == Order::Desktop && o.active == active && !o.zOrder.isEmpty() && o.zOrder.first() == top;
}

} // namespace

class TestDisplayRail : public QObject
{
    Q_OBJECT

private:
    bool connectRootless(RdpProbe& probe, const SessionFixture& session, QString* error)
    {
        RdpProbe::Options options;
        options.port = session.port();
        options.password = session.password();
        options.remoteApp = true;
        return probe.connect(options, error);
    }

private slots:
    void xWindowsBecomeRootlessWindows();
    void clientCommandsReachTheXWindows();
};

void TestDisplayRail::xWindowsBecomeRootlessWindows()
{
    SessionFixture session;
    QString error;
    QVERIFY2(session.start(QStringLiteral("xterm -geometry 60x20+40+30 -T RailTerm"),
                           QStringLiteral("rootless"), &error),
             qPrintable(error));
    RdpProbe probe;
    QVERIFY2(connectRootless(probe, session, &error), qPrintable(error));

    // The rail channel's start: the server's handshake, and a start request
    // answered with a named result.
    QVERIFY(probe.waitFor([&] { return !probe.railMessages().isEmpty(); }, 10000));
    QCOMPARE(qFromLittleEndian<quint16>(probe.railMessages().first().constData()), quint16(TS_RAIL_ORDER_HANDSHAKE));
    const QByteArray program = QByteArray("n\0o\0t\0h\0i\0n\0g\0", 14);
    QVERIFY(probe.sendRail(TS_RAIL_ORDER_EXEC, encodeU16List({ 0, quint16(program.size()), 0, 0 }) + program));
    QVERIFY(probe.waitFor([&] {
        for (const QByteArray& m : probe.railMessages()) {
            if (qFromLittleEndian<quint16>(m.constData()) == TS_RAIL_ORDER_EXEC_RESULT && m.contains(program))
                return true;
        }
        return false;
    }, 10000));

    // The xterm as a new window: its id, title, place and size, a normal frame.
    const quint32 term = windowNamed(session, QStringLiteral("RailTerm"));
    QVERIFY(term != 0);
    QVERIFY(waitForOrder(probe, 0, [&](const Order& o) {
        return o.kind == Order::Create && o.id == term && o.title == QLatin1String("RailTerm") && o.x == 40
            && o.y == 30 && o.width > 200 && o.height > 100 && !(o.style & WS_POPUP)
            && o.showState == WINDOW_SHOW;
    }));
    QVERIFY(waitForOrder(probe, 0, [&](const Order& o) { return isDesktop(o, term, term); }));

    // Moved, resized and renamed by X clients: updates.
    int from = probe.windowOrders().size();
    runX(session, QStringLiteral("xdotool"), { QStringLiteral("windowmove"), QString::number(term),
                                               QStringLiteral("200"), QStringLiteral("150") });
    QVERIFY(waitForOrder(probe, from, [&](const Order& o) {
        return o.kind == Order::Update && o.id == term && o.x == 200 && o.y == 150;
    }));
    runX(session, QStringLiteral("xdotool"), { QStringLiteral("windowsize"), QString::number(term),
                                               QStringLiteral("500"), QStringLiteral("300") });
    QVERIFY(waitForOrder(probe, from, [&](const Order& o) {
        return o.kind == Order::Update && o.id == term && o.width >= 500 && o.width <= 502
            && o.height >= 300 && o.height <= 302;
    }));
    runX(session, QStringLiteral("xdotool"),
         { QStringLiteral("set_window"), QStringLiteral("--name"), QStringLiteral("Renamed"), QString::number(term) });
    QVERIFY(waitForOrder(probe, from, [&](const Order& o) {
        return o.kind == Order::Update && o.id == term && (o.fields & WINDOW_ORDER_FIELD_TITLE)
            && o.title == QLatin1String("Renamed");
    }));

    // A second program's window on top, and active.
    from = probe.windowOrders().size();
    QProcess message;
    message.setProcessEnvironment(session.environment());
    message.start(QStringLiteral("xmessage"), { QStringLiteral("-title"), QStringLiteral("RailMessage"),
                                                QStringLiteral("-geometry"), QStringLiteral("+300+250"),
                                                QStringLiteral("hello") });
    QVERIFY(waitForOrder(probe, from, [&](const Order& o) {
        return o.kind == Order::Create && o.title == QLatin1String("RailMessage") && o.x == 300 && o.y == 250;
    }));
    const quint32 box = windowNamed(session, QStringLiteral("RailMessage"));
    QVERIFY(box != 0 && box != term);
    QVERIFY(waitForOrder(probe, from, [&](const Order& o) {
        return isDesktop(o, box, box) && o.zOrder.contains(term);
    }));

    // A transient dialog names its owner.
    from = probe.windowOrders().size();
    const QString script = session.directory() + QStringLiteral("/dialog.tcl");
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("wm title . RailMain\ntoplevel .d\nwm title .d RailDialog\nwm transient .d .\n");
    file.close();
    QProcess tk;
    tk.setProcessEnvironment(session.environment());
    tk.start(QStringLiteral("wish"), { script });
    QVERIFY(waitForOrder(probe, from, [&](const Order& o) {
        return o.kind == Order::Create && o.title == QLatin1String("RailMain");
    }));
    const quint32 main = windowNamed(session, QStringLiteral("RailMain"));
    QVERIFY(waitForOrder(probe, from, [&](const Order& o) {
        return o.kind == Order::Create && o.title == QLatin1String("RailDialog") && o.owner == main
            && main != 0;
    }));

    // Withdrawn or gone: deleted.
    from = probe.windowOrders().size();
    runX(session, QStringLiteral("xdotool"), { QStringLiteral("windowunmap"), QString::number(box) });
    QVERIFY(waitForOrder(probe, from, [&](const Order& o) { return o.kind == Order::Delete && o.id == box; }));
    tk.kill();
    tk.waitForFinished(5000);
    QVERIFY(waitForOrder(probe, from, [&](const Order& o) { return o.kind == Order::Delete && o.id == main; }));
    message.kill();
    message.waitForFinished(5000);
}

void TestDisplayRail::clientCommandsReachTheXWindows()
{
    SessionFixture session;
    QString error;
    QVERIFY2(session.start(QStringLiteral("xterm -geometry 60x20+40+30 -T RailTerm"),
                           QStringLiteral("rootless"), &error),
             qPrintable(error));
    QProcess message;
    message.setProcessEnvironment(session.environment());
    message.start(QStringLiteral("xmessage"), { QStringLiteral("-title"), QStringLiteral("RailMessage"),
                                                QStringLiteral("-geometry"), QStringLiteral("+300+250"),
                                                QStringLiteral("hello") });
    RdpProbe probe;
    QVERIFY2(connectRootless(probe, session, &error), qPrintable(error));
    quint32 term = 0, box = 0;
    QVERIFY(probe.waitFor([&] {
        term = windowNamed(session, QStringLiteral("RailTerm"));
        box = windowNamed(session, QStringLiteral("RailMessage"));
        return term && box;
    }, 10000));
    QVERIFY(waitForOrder(probe, 0, [&](const Order& o) { return isDesktop(o, box, box); }));

    // Activate, raise and stack through "qzrail".
    int from = probe.windowOrders().size();
    QVERIFY(probe.send(QStringLiteral("qzrail"), 8, u32s({ term })));
    QVERIFY(waitForOrder(probe, from, [&](const Order& o) { return isDesktop(o, term, term); }));
    from = probe.windowOrders().size();
    QVERIFY(probe.send(QStringLiteral("qzrail"), 6, u32s({ box })));
    QVERIFY(waitForOrder(probe, from, [&](const Order& o) { return isDesktop(o, term, box); }));
    from = probe.windowOrders().size();
    QVERIFY(probe.send(QStringLiteral("qzrail"), 7, u32s({ box, term })));
    QVERIFY(waitForOrder(probe, from, [&](const Order& o) { return isDesktop(o, term, term); }));
    // The standard activate order too.
    from = probe.windowOrders().size();
    QVERIFY(probe.sendRail(TS_RAIL_ORDER_ACTIVATE, u32s({ box }) + QByteArray(1, '\1')));
    QVERIFY(waitForOrder(probe, from, [&](const Order& o) { return isDesktop(o, box, box); }));

    // Geometry: right and bottom exclusive, the X window follows.
    from = probe.windowOrders().size();
    QVERIFY(probe.send(QStringLiteral("qzrail"), 5, u32s({ term, 310, 220, 810, 620 })));
    QVERIFY(waitForOrder(probe, from, [&](const Order& o) {
        return o.kind == Order::Update && o.id == term && o.x == 310 && o.y == 220 && o.width == 500
            && o.height == 400;
    }));
    const QString info = runX(session, QStringLiteral("xwininfo"), { QStringLiteral("-id"), QString::number(term) });
    QVERIFY2(info.contains(QLatin1String("Absolute upper-left X:  310"))
                 && info.contains(QLatin1String("Width: 498")) && info.contains(QLatin1String("Border width: 1")),
             qPrintable(info));

    // Minimise and restore.
    from = probe.windowOrders().size();
    QVERIFY(sendSysCommand(probe, term, SC_MINIMIZE));
    QVERIFY(waitForOrder(probe, from, [&](const Order& o) {
        return o.kind == Order::Update && o.id == term && o.showState == WINDOW_SHOW_MINIMIZED;
    }));
    QVERIFY(runX(session, QStringLiteral("xwininfo"), { QStringLiteral("-id"), QString::number(term) })
                .contains(QLatin1String("IsUnMapped")));
    from = probe.windowOrders().size();
    QVERIFY(sendSysCommand(probe, term, SC_RESTORE));
    QVERIFY(waitForOrder(probe, from, [&](const Order& o) {
        return o.kind == Order::Update && o.id == term && o.showState == WINDOW_SHOW;
    }));

    // Close: the program is asked politely, ends, and its window goes.
    from = probe.windowOrders().size();
    QVERIFY(sendSysCommand(probe, box, SC_CLOSE));
    QVERIFY(waitForOrder(probe, from, [&](const Order& o) { return o.kind == Order::Delete && o.id == box; }));
    QVERIFY(message.waitForFinished(10000));
    QCOMPARE(message.exitStatus(), QProcess::NormalExit);
    const QByteArray said = message.readAllStandardError();
    // Not cut off from the display: Xlib would say so.
    QVERIFY2(!said.contains("broken") && !said.contains("XIO"), said.constData());

    // The monitor layout sizes the screen to cover the client's monitors.
    QVERIFY(probe.send(QStringLiteral("qzrail"), 9,
                       u32s({ 2 }) + encodeU16List({ 0, 0, 1024, 768 }) + encodeU16List({ 1024, 0, 2048, 900 })));
    QVERIFY(probe.waitFor([&] { return probe.frame().size() == QSize(2048, 900); }, 10000));
    QCOMPARE(captureDisplay(session.display(), session.authority()).size(), QSize(2048, 900));
    // A window maximised fills its monitor.
    from = probe.windowOrders().size();
    QVERIFY(sendSysCommand(probe, term, SC_MAXIMIZE));
    QVERIFY(waitForOrder(probe, from, [&](const Order& o) {
        return o.kind == Order::Update && o.id == term && o.showState == WINDOW_SHOW_MAXIMIZED;
    }));
    QVERIFY(waitForOrder(probe, from, [&](const Order& o) {
        return o.kind == Order::Update && o.id == term && o.x == 0 && o.y == 0 && o.width == 1024
            && o.height == 768;
    }));
}

QTEST_GUILESS_MAIN(TestDisplayRail)
#include "tst_displayrail.moc"
