#include "DisplayCapture.h"

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
