#include "RdpRailWindows.h"

#include "RdpClientContext.h"
#include "RdpCoordinates.h"
#include "RdpGraphics.h"
#include "RdpInstance.h"
#include "RdpKeyboardState.h"
#include "RdpLogging.h"
#include "RdpRailWidget.h"

#include <common/handover.h>

#include <QApplication>
#include <QRegion>
#include <QScreen>
#include <QSet>
#include <QThread>
#include <QX11Info>

#include <freerdp/freerdp.h>
#include <freerdp/input.h>
#include <freerdp/window.h>

#include <X11/Xlib.h>

namespace {

// The callbacks run inside the library's processing: on the GUI thread once
// connected, on the worker during the connect. There they touch no widget
// and hand the order over in a queued call.
void dispatch(rdpContext* context, const RdpRailOrder& order)
{
    RdpRailWindows* windows = reinterpret_cast<RdpClientContext*>(context)->railWindows;
    if (!windows)
        return;
    if (QThread::currentThread() == windows->thread())
        windows->apply(order);
    else
        HandOver::post(windows, [&] {
            QMetaObject::invokeMethod(
                windows,
                [windows, order] {
                    HandOver::acquire(windows);
                    windows->apply(order);
                },
                Qt::QueuedConnection);
        });
}

BOOL RdpInstanceRailWindowCommon(rdpContext* context, const WINDOW_ORDER_INFO* info,
                                 const WINDOW_STATE_ORDER* state)
{
    RdpRailOrder order;
    order.id = info->windowId;
    order.fields = info->fieldFlags;
    order.owner = state->ownerWindowId;
    order.style = state->style;
    order.extendedStyle = state->extendedStyle;
    order.showState = state->showState;
    // UTF-16 with a 16-bit byte length.
    if ((order.fields & WINDOW_ORDER_FIELD_TITLE) && state->titleInfo.string)
        order.title = QString::fromUtf16(reinterpret_cast<const char16_t*>(state->titleInfo.string),
                                         state->titleInfo.length / 2);
    order.x = state->windowOffsetX;
    order.y = state->windowOffsetY;
    order.width = state->windowWidth;
    order.height = state->windowHeight;
    dispatch(context, order);
    return TRUE;
}

BOOL RdpInstanceRailWindowDelete(rdpContext* context, const WINDOW_ORDER_INFO* info)
{
    RdpRailOrder order;
    order.kind = RdpRailOrder::Delete;
    order.id = info->windowId;
    dispatch(context, order);
    return TRUE;
}

BOOL RdpInstanceRailMonitoredDesktop(rdpContext* context, const WINDOW_ORDER_INFO* info,
                                     const MONITORED_DESKTOP_ORDER* desktop)
{
    RdpRailOrder order;
    order.kind = RdpRailOrder::Desktop;
    order.fields = info->fieldFlags;
    order.id = desktop->activeWindowId;
    if ((order.fields & WINDOW_ORDER_FIELD_DESKTOP_ZORDER) && desktop->windowIds) {
        const int count = int(qMin(desktop->numWindowIds, UINT32(RdpRailWindows::MaxZOrder)));
        order.zOrder.reserve(count);
        for (int i = 0; i < count; ++i)
            order.zOrder.append(desktop->windowIds[i]);
    }
    dispatch(context, order);
    return TRUE;
}

// The window manager's frame around a window: the child of the root that
// holds it, or the window itself when it has no frame.
Window frameOf(Display* display, Window window)
{
    const Window root = DefaultRootWindow(display);
    // A frame is only a few levels deep; anything deeper is not followed.
    for (int depth = 0; depth < 8; ++depth) {
        Window rootReturn = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, window, &rootReturn, &parent, &children, &count))
            return 0;
        if (children)
            XFree(children);
        if (parent == root || parent == 0)
            return window;
        window = parent;
    }
    return 0;
}

bool sensibleSize(UINT32 width, UINT32 height)
{
    return width > 0 && height > 0 && width <= UINT32(RdpRailWindows::MaxSide)
        && height <= UINT32(RdpRailWindows::MaxSide);
}

// An offset beyond the largest side is on no desktop; it would also overflow
// the window's rectangle.
bool sensibleOffset(int x, int y)
{
    return qAbs(qint64(x)) <= RdpRailWindows::MaxSide && qAbs(qint64(y)) <= RdpRailWindows::MaxSide;
}

Qt::WindowFlags windowFlags(const RdpRailOrder& order)
{
    const bool hasStyle = order.fields & WINDOW_ORDER_FIELD_STYLE;
    const UINT32 style = hasStyle ? order.style : 0;
    const UINT32 extended = hasStyle ? order.extendedStyle : 0;
    Qt::WindowFlags flags;
    if (extended & WS_EX_TOOLWINDOW)
        flags = Qt::Tool | Qt::FramelessWindowHint;
    else if (style & WS_POPUP)
        flags = Qt::Window | Qt::FramelessWindowHint;
    else
        flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint;
    if (extended & WS_EX_TOPMOST)
        flags |= Qt::WindowStaysOnTopHint;
    return flags;
}

void applyShowState(RdpRailWidget* widget, UINT32 showState)
{
    switch (showState) {
    case WINDOW_HIDE:
        widget->hide();
        break;
    case WINDOW_SHOW_MINIMIZED:
        widget->showMinimized();
        break;
    case WINDOW_SHOW_MAXIMIZED:
        widget->showMaximized();
        break;
    default:
        widget->showNormal();
        if (widget->windowFlags() & Qt::FramelessWindowHint)
            widget->raise();
        break;
    }
}

} // namespace

RdpRailWindows::RdpRailWindows(RdpClientContext* context)
    : m_context(context)
{
}

void RdpRailWindows::install()
{
    rdpWindowUpdate* window = m_context->rdp()->update->window;
    window->WindowCreate = RdpInstanceRailWindowCommon;
    window->WindowUpdate = RdpInstanceRailWindowCommon;
    window->WindowDelete = RdpInstanceRailWindowDelete;
    window->MonitoredDesktop = RdpInstanceRailMonitoredDesktop;
}

RdpRailWindows::~RdpRailWindows()
{
    rdpWindowUpdate* window = m_context->rdp()->update->window;
    window->WindowCreate = nullptr;
    window->WindowUpdate = nullptr;
    window->WindowDelete = nullptr;
    window->MonitoredDesktop = nullptr;
    qDeleteAll(m_windows);
}

void RdpRailWindows::apply(const RdpRailOrder& order)
{
    switch (order.kind) {
    case RdpRailOrder::Window:
        windowOrder(order);
        break;
    case RdpRailOrder::Delete:
        delete m_windows.take(order.id);
        break;
    case RdpRailOrder::Desktop:
        desktopOrder(order);
        break;
    }
}

void RdpRailWindows::desktopOrder(const RdpRailOrder& order)
{
    // The server may make one of its windows active, but it takes the
    // keyboard only from another window of the session, never from
    // whatever the user works in elsewhere.
    if (order.fields & WINDOW_ORDER_FIELD_DESKTOP_ACTIVE_WND) {
        if (RdpRailWidget* widget = m_windows.value(order.id); widget && hasFocus())
            widget->activateFromServer();
    }
    if (!(order.fields & WINDOW_ORDER_FIELD_DESKTOP_ZORDER))
        return;
    QList<QPointer<RdpRailWidget>> stacking;
    QSet<RdpRailWidget*> seen;
    for (auto it = order.zOrder.crbegin(); it != order.zOrder.crend(); ++it) {
        RdpRailWidget* widget = m_windows.value(*it);
        if (widget && !seen.contains(widget)) {
            seen.insert(widget);
            stacking.append(widget);
        }
    }
    m_order = stacking;
    restack();
}

bool RdpRailWindows::hasFocus() const
{
    auto* active = qobject_cast<RdpRailWidget*>(QApplication::activeWindow());
    return active && m_windows.value(active->windowId()) == active;
}

void RdpRailWindows::activatedLocally()
{
    m_restackPending = true;
    m_order.clear();
}

void RdpRailWindows::buttonReleased()
{
    if (m_restackPending)
        restack();
}

// Each shown window directly above the next one down in the server's order.
void RdpRailWindows::restack()
{
    RdpRailWidget* previous = nullptr;
    for (const QPointer<RdpRailWidget>& widget : qAsConst(m_order)) {
        if (!widget || !widget->isVisible() || widget->isMinimized())
            continue;
        if (previous)
            placeAbove(widget, previous);
        previous = widget;
    }
    m_restackPending = false;
}

void RdpRailWindows::placeAbove(RdpRailWidget* upper, RdpRailWidget* lower)
{
    // A window kept on top stays where the window manager has it.
    if (lower->windowFlags() & Qt::WindowStaysOnTopHint)
        return;
    if (!lower->isWindow() || !upper->isWindow()) {
        lower->stackUnder(upper);
        return;
    }
    Display* display = QX11Info::display();
    if (!display)
        return;
    // The upper window is raised onto the lower one rather than the lower
    // one lowered under it: window managers that ignore the sibling of a
    // stacking request (openbox, mutter) raise to the top or lower to the
    // bottom, and a lowered window would drop under every other program's
    // windows, the one in use included.
    XWindowChanges changes = {};
    changes.sibling = frameOf(display, lower->winId());
    changes.stack_mode = Above;
    if (const Window frame = frameOf(display, upper->winId()); frame && changes.sibling) {
        XConfigureWindow(display, frame, CWSibling | CWStackMode, &changes);
        XFlush(display);
    }
}

void RdpRailWindows::scaleChanged()
{
    for (RdpRailWidget* widget : qAsConst(m_windows)) {
        widget->update();
        widget->sendGeometry();
    }
}

void RdpRailWindows::windowOrder(const RdpRailOrder& order)
{
    const bool isNew = order.fields & WINDOW_ORDER_STATE_NEW;
    RdpRailWidget* widget = isNew ? createWindow(order) : m_windows.value(order.id);
    if (widget)
        applyFields(widget, order, isNew);
}

RdpRailWidget* RdpRailWindows::createWindow(const RdpRailOrder& order)
{
    if (!(order.fields & WINDOW_ORDER_FIELD_WND_SIZE) || !sensibleSize(order.width, order.height)) {
        qCDebug(lcRdp) << "window" << order.id << "without a sensible size ignored";
        return nullptr;
    }
    // A window that is only an off-screen pixel is not shown.
    if ((order.fields & WINDOW_ORDER_FIELD_WND_OFFSET) && order.x == -1 && order.y == -1 && order.width == 1
        && order.height == 1)
        return nullptr;
    if (!m_windows.contains(order.id) && m_windows.size() >= MaxWindows) {
        qCWarning(lcRdp) << "more than" << MaxWindows << "windows: window" << order.id << "ignored";
        return nullptr;
    }
    const Qt::WindowFlags flags = windowFlags(order);
    auto* widget = new RdpRailWidget(m_context, order.id, flags);
    // Qt::Tool shares its bits with every other window type.
    if ((flags & Qt::WindowType_Mask) == Qt::Tool)
        widget->setFocusPolicy(Qt::NoFocus);
    // A window that opens while the user works in another program does
    // not take the keyboard from it.
    widget->setAttribute(Qt::WA_ShowWithoutActivating, !QApplication::activeWindow());
    delete m_windows.value(order.id);
    m_windows.insert(order.id, widget);
    RdpGraphics::applyCurrentPointer(m_context);
    return widget;
}

void RdpRailWindows::applyFields(RdpRailWidget* widget, const RdpRailOrder& order, bool isNew)
{
    const quint32 fields = order.fields;
    if (fields & WINDOW_ORDER_FIELD_TITLE)
        widget->setWindowTitle(order.title);
    if (fields & WINDOW_ORDER_FIELD_OWNER)
        setOwner(widget, order.owner);
    if (fields & (WINDOW_ORDER_FIELD_WND_OFFSET | WINDOW_ORDER_FIELD_WND_SIZE)) {
        QRect remote = widget->remoteGeometry();
        if ((fields & WINDOW_ORDER_FIELD_WND_OFFSET) && sensibleOffset(order.x, order.y))
            remote.moveTopLeft(QPoint(order.x, order.y));
        const QRect desktop = RdpCoordinates::virtualDesktop();
        if ((fields & WINDOW_ORDER_FIELD_WND_SIZE) && sensibleSize(order.width, order.height)) {
            // No larger than the local screens together: every shown window
            // gets an image of its size, and a server sending many windows
            // of the largest side would exhaust the memory.
            const QSize bound = RdpCoordinates::remoteDesktopSize(desktop, m_context->scale);
            remote.setSize(QSize(int(order.width), int(order.height)).boundedTo(bound));
        }
        const QRect global = RdpCoordinates::remoteToGlobal(remote, m_context->inverseScale, desktop.topLeft());
        bool place = true;
        if (isNew) {
            // Placed where the server has it when that lies on a local work
            // area; otherwise the local window manager places it.
            const QScreen* screen = QGuiApplication::screenAt(global.topLeft());
            const QRect work = screen ? screen->availableGeometry() : QRect();
            place = remote.topLeft() != QPoint(0, 0)
                && (work.contains(global.topLeft(), true) || work.contains(global.topRight(), true));
        } else if (!desktop.intersects(global)) {
            // Not moved off every local screen, where it would hold the
            // keyboard unseen: the server learns where it stays.
            place = false;
            QMetaObject::invokeMethod(widget, &RdpRailWidget::sendGeometry, Qt::QueuedConnection);
        }
        if (widget->isMaximized())
            widget->keepLocalGeometry(remote);
        else if (!widget->isMinimized())
            widget->applyRemoteGeometry(remote, place);
    }
    if (fields & WINDOW_ORDER_FIELD_SHOW)
        applyShowState(widget, order.showState);
    else if (isNew)
        widget->show();
    // The server learns where the local window manager put a new window.
    if (isNew)
        QMetaObject::invokeMethod(widget, &RdpRailWidget::sendGeometry, Qt::QueuedConnection);
}

void RdpRailWindows::setOwner(RdpRailWidget* widget, quint32 ownerId)
{
    RdpRailWidget* owner = m_windows.value(ownerId);
    // A window that (through its owners) would own itself gets no owner.
    for (RdpRailWidget* link = owner; link; link = link->owner()) {
        if (link == widget) {
            qCDebug(lcRdp) << "owner cycle at window" << widget->windowId() << "broken";
            owner = nullptr;
            break;
        }
    }
    widget->setOwner(owner);
}

void RdpRailWindows::repaint(const QRegion& remote)
{
    // Painted during the connect, on the worker: shown once the GUI thread
    // comes round, into windows its queued orders may have made by then.
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, remote] { repaint(remote); }, Qt::QueuedConnection);
        return;
    }
    const QPoint desktop = RdpCoordinates::virtualDesktop().topLeft();
    QRegion global;
    for (const QRect& rect : remote)
        global += RdpCoordinates::remoteToGlobal(rect, m_context->inverseScale, desktop);
    for (RdpRailWidget* widget : qAsConst(m_windows)) {
        if (!widget->isVisible())
            continue;
        const QPoint corner = widget->mapToGlobal(QPoint(0, 0));
        const QRegion covered = global.intersected(QRect(corner, widget->size()));
        if (!covered.isEmpty())
            widget->repaint(covered.translated(-corner));
    }
}

void RdpRailWindows::sendWorkArea()
{
    RailClientContext* rail = m_context->rail;
    if (!rail || !rail->ClientSystemParam)
        return;
    const QSize desktop = RdpCoordinates::remoteDesktopSize(RdpCoordinates::virtualDesktop(), m_context->scale);
    RAIL_SYSPARAM_ORDER order = {};
    order.param = SPI_SET_WORK_AREA;
    order.params = SPI_MASK_SET_WORK_AREA;
    order.workArea = {0, 0, UINT16(qBound(0, desktop.width(), 0xFFFF)), UINT16(qBound(0, desktop.height(), 0xFFFF))};
    rail->ClientSystemParam(rail, &order);
}

void RdpRailWindows::serverReady()
{
    if (m_context->instance)
        QMetaObject::invokeMethod(m_context->instance, "sendMonitorLayout");
    sendWorkArea();
}

void RdpRailWindows::setCursor(const QCursor& cursor)
{
    for (RdpRailWidget* widget : qAsConst(m_windows))
        widget->setCursor(cursor);
}

bool RdpRailWindows::focusEntered(RdpRailWidget* widget)
{
    const bool fromOutside = !m_focus;
    if (fromOutside)
        freerdp_input_send_synchronize_event(m_context->rdp()->input, RdpKeyboardState::lockFlags());
    m_focus = widget;
    return fromOutside;
}

void RdpRailWindows::checkFocus()
{
    if (!m_focus)
        return;
    auto* focused = qobject_cast<RdpRailWidget*>(QApplication::focusWidget());
    if (focused && m_windows.value(focused->windowId()) == focused)
        return;
    m_focus = nullptr;
    freerdp_input_send_synchronize_event(m_context->rdp()->input, 0);
}
