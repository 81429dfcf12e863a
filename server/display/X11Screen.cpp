#include "X11Screen.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>

X11Screen::~X11Screen()
{
    destroyImage();
    if (m_dpy) {
        if (m_damage)
            XDamageDestroy(m_dpy, m_damage);
        XCloseDisplay(m_dpy);
    }
}

namespace {

// Xlib's default handler ends the process on any protocol error, such as a
// clipboard requestor window that vanished before its answer.
int logXError(Display* dpy, XErrorEvent* event)
{
    char text[256] = {};
    XGetErrorText(dpy, event->error_code, text, sizeof(text) - 1);
    qWarning("X error ignored: %s (request %d.%d)", text, event->request_code, event->minor_code);
    return 0;
}

} // namespace

bool X11Screen::open(const QString& displayName, QString* error)
{
    XSetErrorHandler(logXError);
    m_dpy = XOpenDisplay(displayName.toLocal8Bit().constData());
    if (!m_dpy) {
        *error = QStringLiteral("cannot open X display %1").arg(displayName);
        return false;
    }
    m_root = DefaultRootWindow(m_dpy);
    int errorBase = 0, major = 0, minor = 0;
    if (!XDamageQueryExtension(m_dpy, &m_damageEvent, &errorBase)
        || !XFixesQueryExtension(m_dpy, &m_fixesEvent, &errorBase)
        || !XShmQueryExtension(m_dpy)) {
        *error = QStringLiteral("X display %1 lacks DAMAGE, XFIXES or MIT-SHM").arg(displayName);
        return false;
    }
    XFixesQueryVersion(m_dpy, &major, &minor);
    if (XRRQueryExtension(m_dpy, &m_randrEvent, &errorBase))
        XRRSelectInput(m_dpy, m_root, RRScreenChangeNotifyMask);
    else
        m_randrEvent = -1;
    XWindowAttributes attributes;
    XGetWindowAttributes(m_dpy, m_root, &attributes);
    m_width = attributes.width;
    m_height = attributes.height;
    m_damage = XDamageCreate(m_dpy, m_root, XDamageReportNonEmpty);
    XFixesSelectCursorInput(m_dpy, m_root, XFixesDisplayCursorNotifyMask);
    return createImage(error);
}

int X11Screen::connectionFd() const
{
    return ConnectionNumber(m_dpy);
}

bool X11Screen::createImage(QString* error)
{
    Visual* visual = DefaultVisual(m_dpy, DefaultScreen(m_dpy));
    m_image = XShmCreateImage(m_dpy, visual, 24, ZPixmap, nullptr, &m_shm, m_width, m_height);
    if (!m_image || m_image->bits_per_pixel != 32) {
        *error = QStringLiteral("the X screen is not a 32-bit TrueColor screen");
        return false;
    }
    m_shm.shmid = shmget(IPC_PRIVATE, size_t(m_image->bytes_per_line) * m_height, IPC_CREAT | 0600);
    if (m_shm.shmid < 0) {
        *error = QStringLiteral("shared memory for the screen image failed");
        return false;
    }
    m_shm.shmaddr = m_image->data = static_cast<char*>(shmat(m_shm.shmid, nullptr, 0));
    m_shm.readOnly = False;
    m_shmAttached = XShmAttach(m_dpy, &m_shm);
    XSync(m_dpy, False);
    // Marked for removal now; it lives until both sides detach.
    shmctl(m_shm.shmid, IPC_RMID, nullptr);
    if (!m_shmAttached) {
        *error = QStringLiteral("the X server refused the shared memory segment");
        return false;
    }
    m_damaged = true;
    return true;
}

void X11Screen::destroyImage()
{
    if (!m_image)
        return;
    if (m_shmAttached)
        XShmDetach(m_dpy, &m_shm);
    m_shmAttached = false;
    shmdt(m_shm.shmaddr);
    m_image->data = nullptr;
    XDestroyImage(m_image);
    m_image = nullptr;
}

bool X11Screen::handleEvent(const XEvent& ev)
{
    if (ev.type == m_damageEvent + XDamageNotify) {
        m_damaged = true;
        return true;
    }
    if (ev.type == m_fixesEvent + XFixesCursorNotify) {
        m_cursorChanged = true;
        return true;
    }
    if (m_randrEvent >= 0 && ev.type == m_randrEvent + RRScreenChangeNotify) {
        XEvent copy = ev;
        XRRUpdateConfiguration(&copy);
        const auto& change = reinterpret_cast<const XRRScreenChangeNotifyEvent&>(ev);
        if (change.width != m_width || change.height != m_height) {
            // Another X client changed the size.
            destroyImage();
            m_width = change.width;
            m_height = change.height;
            if (!createImage(&m_error))
                m_failed = true;
        }
        return true;
    }
    return false;
}

bool X11Screen::takeDamage(std::vector<ScreenRect>* rects)
{
    if (!m_damaged)
        return false;
    m_damaged = false;
    XserverRegion region = XFixesCreateRegion(m_dpy, nullptr, 0);
    XDamageSubtract(m_dpy, m_damage, None, region);
    int count = 0;
    XRectangle* list = XFixesFetchRegion(m_dpy, region, &count);
    for (int i = 0; i < count; ++i) {
        ScreenRect r { list[i].x, list[i].y, list[i].width, list[i].height };
        r.w = std::min(r.w, m_width - r.x);
        r.h = std::min(r.h, m_height - r.y);
        if (r.w > 0 && r.h > 0)
            rects->push_back(r);
    }
    if (list)
        XFree(list);
    XFixesDestroyRegion(m_dpy, region);
    return !rects->empty();
}

bool X11Screen::fetchCursor(CursorImage* cursor)
{
    m_cursorChanged = false;
    XFixesCursorImage* image = XFixesGetCursorImage(m_dpy);
    if (!image)
        return false;
    cursor->serial = image->cursor_serial;
    cursor->width = image->width;
    cursor->height = image->height;
    cursor->hotX = image->xhot;
    cursor->hotY = image->yhot;
    cursor->argb.resize(size_t(image->width) * image->height);
    // XFixes hands out 32-bit values in longs.
    for (size_t i = 0; i < cursor->argb.size(); ++i)
        cursor->argb[i] = uint32_t(image->pixels[i]);
    XFree(image);
    return true;
}

bool X11Screen::capture()
{
    return XShmGetImage(m_dpy, m_root, m_image, 0, 0, AllPlanes);
}

const uint8_t* X11Screen::pixels() const
{
    return reinterpret_cast<const uint8_t*>(m_image->data);
}

int X11Screen::stride() const
{
    return m_image->bytes_per_line;
}

void X11Screen::sizeRange(int* minW, int* minH, int* maxW, int* maxH) const
{
    *minW = *maxW = m_width;
    *minH = *maxH = m_height;
    if (m_randrEvent >= 0)
        XRRGetScreenSizeRange(m_dpy, m_root, minW, minH, maxW, maxH);
    // Limits of the desktop-size request (16-bit) and of sane RDP desktops.
    *minW = std::max(*minW, 64);
    *minH = std::max(*minH, 64);
    *maxW = std::min(*maxW, 8192);
    *maxH = std::min(*maxH, 8192);
}

namespace {

RROutput findOutput(Display* dpy, XRRScreenResources* res, RRCrtc* crtc)
{
    for (int i = 0; i < res->noutput; ++i) {
        XRROutputInfo* info = XRRGetOutputInfo(dpy, res, res->outputs[i]);
        if (!info)
            continue;
        const bool usable = info->connection == RR_Connected || info->crtc != None;
        RRCrtc candidate = info->crtc != None ? info->crtc : (info->ncrtc > 0 ? info->crtcs[0] : None);
        XRRFreeOutputInfo(info);
        if (usable && candidate != None) {
            *crtc = candidate;
            return res->outputs[i];
        }
    }
    return None;
}

RRMode findOrCreateMode(Display* dpy, Window root, XRRScreenResources* res, int w, int h)
{
    for (int i = 0; i < res->nmode; ++i) {
        if (int(res->modes[i].width) == w && int(res->modes[i].height) == h)
            return res->modes[i].id;
    }
    const QByteArray name = QStringLiteral("%1x%2").arg(w).arg(h).toLatin1();
    XRRModeInfo mode {};
    mode.width = unsigned(w);
    mode.height = unsigned(h);
    mode.hSyncStart = unsigned(w + 1);
    mode.hSyncEnd = unsigned(w + 2);
    mode.hTotal = unsigned(w + 3);
    mode.vSyncStart = unsigned(h + 1);
    mode.vSyncEnd = unsigned(h + 2);
    mode.vTotal = unsigned(h + 3);
    mode.dotClock = (unsigned long)(mode.hTotal) * mode.vTotal * 60;
    mode.name = const_cast<char*>(name.constData());
    mode.nameLength = unsigned(name.size());
    return XRRCreateMode(dpy, root, &mode);
}

int ignoreErrors(Display*, XErrorEvent*)
{
    return 0;
}

} // namespace

bool X11Screen::resize(int width, int height, QString* error)
{
    int minW, minH, maxW, maxH;
    sizeRange(&minW, &minH, &maxW, &maxH);
    if (width < minW || height < minH || width > maxW || height > maxH) {
        *error = QStringLiteral("size %1x%2 outside %3x%4 .. %5x%6")
                     .arg(width).arg(height).arg(minW).arg(minH).arg(maxW).arg(maxH);
        return false;
    }
    if (width == m_width && height == m_height)
        return true;
    XRRScreenResources* res = XRRGetScreenResources(m_dpy, m_root);
    if (!res) {
        *error = QStringLiteral("RandR offers no screen resources");
        return false;
    }
    RRCrtc crtc = None;
    const RROutput output = findOutput(m_dpy, res, &crtc);
    if (output == None) {
        XRRFreeScreenResources(res);
        *error = QStringLiteral("RandR offers no output");
        return false;
    }
    auto previous = XSetErrorHandler(ignoreErrors);
    const RRMode mode = findOrCreateMode(m_dpy, m_root, res, width, height);
    XRRAddOutputMode(m_dpy, output, mode);
    XGrabServer(m_dpy);
    XRRSetCrtcConfig(m_dpy, res, crtc, CurrentTime, 0, 0, None, RR_Rotate_0, nullptr, 0);
    const double dpi = 96.0 / 25.4;
    XRRSetScreenSize(m_dpy, m_root, width, height, int(width / dpi), int(height / dpi));
    RROutput outputs[] = { output };
    const Status status = XRRSetCrtcConfig(m_dpy, res, crtc, CurrentTime, 0, 0, mode, RR_Rotate_0,
                                           outputs, 1);
    XUngrabServer(m_dpy);
    XSync(m_dpy, False);
    XSetErrorHandler(previous);
    XRRFreeScreenResources(res);
    XWindowAttributes attributes;
    XGetWindowAttributes(m_dpy, m_root, &attributes);
    if (attributes.width != m_width || attributes.height != m_height) {
        destroyImage();
        m_width = attributes.width;
        m_height = attributes.height;
        if (!createImage(error))
            return false;
    }
    if (status != RRSetConfigSuccess || m_width != width || m_height != height) {
        *error = QStringLiteral("the X server kept its size %1x%2").arg(m_width).arg(m_height);
        return false;
    }
    return true;
}
