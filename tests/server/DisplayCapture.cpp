#include "DisplayCapture.h"

#include <QRegularExpression>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/Xutil.h>

namespace {

Display* openDisplay(const QString& display, const QString& authority)
{
    // Xlib reads the authority file named in the environment at each open.
    const QByteArray saved = qgetenv("XAUTHORITY");
    if (!authority.isEmpty())
        qputenv("XAUTHORITY", authority.toLocal8Bit());
    Display* dpy = XOpenDisplay(display.toLocal8Bit().constData());
    if (!authority.isEmpty() && saved.isNull())
        qunsetenv("XAUTHORITY");
    else if (!authority.isEmpty())
        qputenv("XAUTHORITY", saved);
    return dpy;
}

// A client message to the root window of the test's display, as a pager sends.
void sendToWindowManager(quint64 window, const char* type, std::initializer_list<long> data)
{
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy)
        return;
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = Window(window);
    event.xclient.message_type = XInternAtom(dpy, type, False);
    event.xclient.format = 32;
    int i = 0;
    for (long value : data)
        event.xclient.data.l[i++] = value;
    XSendEvent(dpy, DefaultRootWindow(dpy), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XCloseDisplay(dpy);
}

} // namespace

QImage captureDisplay(const QString& display, const QString& authority)
{
    Display* dpy = openDisplay(display, authority);
    if (!dpy)
        return QImage();
    const Window root = DefaultRootWindow(dpy);
    XWindowAttributes attributes;
    XGetWindowAttributes(dpy, root, &attributes);
    XImage* image = XGetImage(dpy, root, 0, 0, unsigned(attributes.width), unsigned(attributes.height),
                              AllPlanes, ZPixmap);
    QImage copy;
    if (image && image->bits_per_pixel == 32) {
        copy = QImage(reinterpret_cast<const uchar*>(image->data), image->width, image->height,
                      image->bytes_per_line, QImage::Format_RGB32)
                   .copy();
    }
    if (image)
        XDestroyImage(image);
    XCloseDisplay(dpy);
    return copy;
}

QStringList heldDown(const QString& display, const QString& authority)
{
    Display* dpy = openDisplay(display, authority);
    if (!dpy)
        return { QStringLiteral("no display") };
    QStringList held;
    char keys[32];
    XQueryKeymap(dpy, keys);
    for (int code = 8; code < 256; ++code) {
        if (keys[code / 8] & (1 << (code % 8))) {
            const char* name = XKeysymToString(XkbKeycodeToKeysym(dpy, KeyCode(code), 0, 0));
            held << (name ? QString::fromLatin1(name) : QString::number(code));
        }
    }
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned mask = 0;
    XQueryPointer(dpy, DefaultRootWindow(dpy), &root, &child, &rootX, &rootY, &x, &y, &mask);
    const unsigned buttons[] = { Button1Mask, Button2Mask, Button3Mask, Button4Mask, Button5Mask };
    for (int i = 0; i < 5; ++i) {
        if (mask & buttons[i])
            held << QStringLiteral("Button%1").arg(i + 1);
    }
    XCloseDisplay(dpy);
    return held;
}

QProcessEnvironment xEnvironment(const QString& display, const QString& authority)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!display.isEmpty()) {
        environment.insert(QStringLiteral("DISPLAY"), display);
        environment.insert(QStringLiteral("XAUTHORITY"), authority);
    }
    return environment;
}

bool copyWithXclip(QProcess* owner, const QProcessEnvironment& display, const QString& text)
{
    owner->setProcessEnvironment(display);
    owner->start(QStringLiteral("xclip"),
                 { QStringLiteral("-quiet"), QStringLiteral("-i"), QStringLiteral("-selection"), QStringLiteral("clipboard") });
    if (!owner->waitForStarted(10000))
        return false;
    owner->write(text.toUtf8());
    owner->waitForBytesWritten(10000);
    owner->closeWriteChannel();
    return true;
}

QString pasteWithXclip(const QProcessEnvironment& display)
{
    QProcess paste;
    paste.setProcessEnvironment(display);
    paste.start(QStringLiteral("xclip"), { QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard") });
    if (!QTest::qWaitFor([&] { return paste.state() == QProcess::NotRunning; }, 5000)) {
        paste.kill();
        paste.waitForFinished(5000);
        return QStringLiteral("<no answer>");
    }
    return QString::fromUtf8(paste.readAllStandardOutput());
}

QString runX(const QString& program, const QStringList& arguments, const QString& display, const QString& authority)
{
    QProcess process;
    process.setProcessEnvironment(xEnvironment(display, authority));
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

quint64 windowTitled(const QString& title, const QString& display, const QString& authority)
{
    return runX(QStringLiteral("xdotool"),
                { QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("^%1$").arg(title) }, display,
                authority)
        .section(QLatin1Char('\n'), 0, 0)
        .toULongLong();
}

QRect windowArea(quint64 window, const QString& display, const QString& authority)
{
    const QString info = runX(QStringLiteral("xwininfo"), { QStringLiteral("-id"), QString::number(window) }, display,
                              authority);
    const auto value = [&info](const char* label) {
        return QRegularExpression(QStringLiteral("%1:\\s+(-?\\d+)").arg(QLatin1String(label)))
            .match(info).captured(1).toInt();
    };
    const int border = 2 * value("Border width");
    return QRect(value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width") + border,
                 value("Height") + border);
}

bool startWindowManager(QProcess* windowManager)
{
    windowManager->start(QStringLiteral("openbox"), { QStringLiteral("--sm-disable") });
    return windowManager->waitForStarted() && QTest::qWaitFor([] {
        return runX(QStringLiteral("xprop"), { QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK") })
            .contains(QLatin1String("window id"));
    }, 30000);
}

void closeWithWindowManager(quint64 window)
{
    sendToWindowManager(window, "_NET_CLOSE_WINDOW", { CurrentTime, 2 });
}

void maximizeWithWindowManager(quint64 window, bool on)
{
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy)
        return;
    const long vertical = long(XInternAtom(dpy, "_NET_WM_STATE_MAXIMIZED_VERT", False));
    const long horizontal = long(XInternAtom(dpy, "_NET_WM_STATE_MAXIMIZED_HORZ", False));
    XCloseDisplay(dpy);
    sendToWindowManager(window, "_NET_WM_STATE", { on ? 1 : 0, vertical, horizontal, 2 });
}
