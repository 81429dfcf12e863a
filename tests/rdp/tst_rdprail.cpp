// A rootless session end to end: the display server's Xvnc session with
// real xterms, our client in rootless mode under openbox on the test's Xvfb.

#include "DisplayCapture.h"
#include "RdpClientContext.h"
#include "RdpInstance.h"
#include "RdpRailWidget.h"
#include "RdpRailWindows.h"
#include "SessionFixture.h"

#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QX11Info>

#include <X11/Xlib.h>

namespace {

constexpr int Timeout = 30000;

QString run(const QString& program, const QStringList& arguments,
            const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The session's window with this title, 0 while there is none.
quint32 sessionWindow(const SessionFixture& session, const QString& title)
{
    return run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--name"),
                                           QStringLiteral("^%1$").arg(title)},
               session.environment())
        .section(QLatin1Char('\n'), 0, 0)
        .toUInt();
}

// A window with its border in root coordinates, as the X server has it.
QRect windowArea(quint64 id, const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    const QString info = run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(id)}, environment);
    auto value = [&info](const char* label) {
        const QRegularExpression pattern(QStringLiteral("%1:\\s+(-?\\d+)").arg(QLatin1String(label)));
        return pattern.match(info).captured(1).toInt();
    };
    const int border = 2 * value("Border width");
    return QRect(value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width") + border,
                 value("Height") + border);
}

// Same colours within what the lossy codec changes, whatever the two
// displays put in the unused byte.
bool sameColours(const QImage& a, const QImage& b)
{
    constexpr int Tolerance = 24;
    if (a.isNull() || a.size() != b.size())
        return false;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const quint32*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const quint32*>(y.constScanLine(row));
        for (int column = 0; column < x.width(); ++column) {
            if (qAbs(qRed(p[column]) - qRed(q[column])) > Tolerance
                || qAbs(qGreen(p[column]) - qGreen(q[column])) > Tolerance
                || qAbs(qBlue(p[column]) - qBlue(q[column])) > Tolerance)
                return false;
        }
    }
    return true;
}

// Asks the window manager to close a window, as its close button does.
void closeWithWindowManager(quint64 window)
{
    Display* display = QX11Info::display();
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "_NET_CLOSE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = CurrentTime;
    event.xclient.data.l[1] = 2;
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &event);
    XFlush(display);
}

QList<RdpRailWidget*> railWidgets()
{
    QList<RdpRailWidget*> widgets;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* rail = qobject_cast<RdpRailWidget*>(widget))
            widgets << rail;
    }
    return widgets;
}

RdpRailWidget* railWidget(RdpInstance& instance, const QString& title)
{
    if (!instance.context() || !instance.context()->railWindows)
        return nullptr;
    for (RdpRailWidget* widget : instance.context()->railWindows->windows()) {
        if (widget->windowTitle() == title && widget->isVisible())
            return widget;
    }
    return nullptr;
}

} // namespace

class TestRdpRail : public QObject
{
    Q_OBJECT

private slots:
    void remoteWindowsBecomeLocalWindows();
};

void TestRdpRail::remoteWindowsBecomeLocalWindows()
{
    QProcess windowManager;
    windowManager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    QVERIFY(windowManager.waitForStarted());
    auto stopWindowManager = qScopeGuard([&] {
        windowManager.terminate();
        windowManager.waitForFinished(10000);
    });
    QVERIFY(QTest::qWaitFor([] {
        return run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
            .contains(QLatin1String("window id"));
    }, 20000));

    SessionFixture session;
    QString error;
    QVERIFY2(session.start(QStringLiteral("xterm -T RailTerm -geometry 60x12+120+140 & "
                                          "exec xterm -T RailOther -geometry 20x4+900+700"),
                           QStringLiteral("rootless"), &error),
             qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(sessionWindow(session, QStringLiteral("RailTerm")) != 0, Timeout);
    const quint32 term = sessionWindow(session, QStringLiteral("RailTerm"));

    RdpInstance instance;
    QSignalSpy connected(&instance, &RdpInstance::connected);
    QSignalSpy finished(&instance, &RdpInstance::finished);
    instance.start(QStringLiteral("127.0.0.1"), session.port(), QStringLiteral("tester"), session.password(), 0,
                   QStringLiteral("rootless"), QStringLiteral("Rail"), false, QVariantMap());
    QVERIFY(connected.wait(Timeout));

    // The xterm as a local window with its title, at the server's place.
    QTRY_VERIFY_WITH_TIMEOUT(railWidget(instance, QStringLiteral("RailTerm")), Timeout);
    QPointer<RdpRailWidget> local = railWidget(instance, QStringLiteral("RailTerm"));
    const QRect remote = windowArea(term, session.environment());
    QCOMPARE(remote.topLeft(), QPoint(120, 140));
    QTRY_COMPARE_WITH_TIMEOUT(windowArea(local->winId()), remote, Timeout);

    // Showing the xterm's pixels.
    const QString display = QString::fromLocal8Bit(qgetenv("DISPLAY"));
    auto same = [&] {
        const QImage shown = captureDisplay(display).copy(remote);
        const QImage server = captureDisplay(session.display(), session.authority()).copy(remote);
        return sameColours(shown, server);
    };
    QTRY_VERIFY_WITH_TIMEOUT(same(), Timeout);

    // Typed keys reach the xterm's shell.
    run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                                    QString::number(local->winId())});
    QTRY_VERIFY_WITH_TIMEOUT(local->isActiveWindow(), Timeout);
    const QString typed = session.directory() + QStringLiteral("/typed");
    run(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"),
                                    QStringLiteral("touch %1").arg(typed)});
    run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")});
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(typed), Timeout);

    // Moved by the local window manager: the remote window follows.
    run(QStringLiteral("xdotool"), {QStringLiteral("windowmove"), QString::number(local->winId()),
                                    QStringLiteral("400"), QStringLiteral("300")});
    QTRY_VERIFY_WITH_TIMEOUT(windowArea(local->winId()).topLeft() != remote.topLeft(), Timeout);
    const QRect moved = windowArea(local->winId());
    QTRY_COMPARE_WITH_TIMEOUT(windowArea(term, session.environment()), moved, Timeout);

    // Closed with the window manager: the xterm ends, then its window goes.
    closeWithWindowManager(local->winId());
    QTRY_COMPARE_WITH_TIMEOUT(sessionWindow(session, QStringLiteral("RailTerm")), 0u, Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(local.isNull(), Timeout);

    // Disconnecting takes the remaining window with it.
    QTRY_VERIFY_WITH_TIMEOUT(railWidget(instance, QStringLiteral("RailOther")), Timeout);
    instance.quit();
    QCOMPARE(finished.size(), 1);
    QVERIFY(railWidgets().isEmpty());
}

QTEST_MAIN(TestRdpRail)
#include "tst_rdprail.moc"
