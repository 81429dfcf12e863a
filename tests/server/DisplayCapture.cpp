#include "DisplayCapture.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

QImage captureDisplay(const QString& display, const QString& authority)
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
