#include "RdpRailWindows.h"

#include "RdpClientContext.h"
#include "RdpCoordinates.h"
#include "RdpGraphics.h"
#include "RdpKeyboardState.h"
#include "RdpLogging.h"
#include "RdpRailWidget.h"

#include <QApplication>
#include <QRegion>
#include <QScreen>
#include <QThread>

#include <freerdp/input.h>

namespace {

// The callbacks run inside freerdp_check_event_handles, which only the GUI
// thread calls once connected. Anything else (an order during the connect
// on the worker) must not touch widgets.
RdpRailWindows* railWindows(rdpContext* context)
{
    auto* windows = reinterpret_cast<RdpClientContext*>(context)->railWindows;
    if (windows && QThread::currentThread() != windows->thread()) {
        qCWarning(lcRdp) << "window order off the GUI thread dropped";
        return nullptr;
    }
    return windows;
}

BOOL RdpInstanceRailWindowCommon(rdpContext* context, const WINDOW_ORDER_INFO* info,
                                 const WINDOW_STATE_ORDER* state)
{
    if (RdpRailWindows* windows = railWindows(context))
        windows->windowOrder(info, state);
    return TRUE;
}

BOOL RdpInstanceRailWindowDelete(rdpContext* context, const WINDOW_ORDER_INFO* info)
{
    if (RdpRailWindows* windows = railWindows(context))
        windows->deleteWindow(info->windowId);
    return TRUE;
}

BOOL RdpInstanceRailMonitoredDesktop(rdpContext* context, const WINDOW_ORDER_INFO* info,
                                     const MONITORED_DESKTOP_ORDER* desktop)
{
    if (RdpRailWindows* windows = railWindows(context))
        windows->monitoredDesktop(info, desktop);
    return TRUE;
}

bool sensibleSize(UINT32 width, UINT32 height)
{
    return width > 0 && height > 0 && width <= UINT32(RdpRailWindows::MaxSide)
        && height <= UINT32(RdpRailWindows::MaxSide);
}

Qt::WindowFlags windowFlags(const WINDOW_STATE_ORDER* state, bool hasStyle)
{
    const UINT32 style = hasStyle ? state->style : 0;
    const UINT32 extended = hasStyle ? state->extendedStyle : 0;
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
    rdpWindowUpdate* window = context->rdp()->update->window;
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

bool RdpRailWindows::windowOrder(const WINDOW_ORDER_INFO* info, const WINDOW_STATE_ORDER* state)
{
    RdpRailWidget* widget = nullptr;
    const bool isNew = info->fieldFlags & WINDOW_ORDER_STATE_NEW;
    if (isNew)
        widget = createWindow(info, state);
    else
        widget = m_windows.value(info->windowId);
    if (!widget)
        return false;
    applyFields(widget, info, state, isNew);
    return true;
}

RdpRailWidget* RdpRailWindows::createWindow(const WINDOW_ORDER_INFO* info, const WINDOW_STATE_ORDER* state)
{
    const UINT32 fields = info->fieldFlags;
    if (!(fields & WINDOW_ORDER_FIELD_WND_SIZE) || !sensibleSize(state->windowWidth, state->windowHeight)) {
        qCDebug(lcRdp) << "window" << info->windowId << "without a sensible size ignored";
        return nullptr;
    }
    // A window that is only an off-screen pixel is not shown.
    if ((fields & WINDOW_ORDER_FIELD_WND_OFFSET) && state->windowOffsetX == -1 && state->windowOffsetY == -1
        && state->windowWidth == 1 && state->windowHeight == 1)
        return nullptr;
    if (!m_windows.contains(info->windowId) && m_windows.size() >= MaxWindows) {
        qCWarning(lcRdp) << "more than" << MaxWindows << "windows: window" << info->windowId << "ignored";
        return nullptr;
    }
    const Qt::WindowFlags flags = windowFlags(state, fields & WINDOW_ORDER_FIELD_STYLE);
    auto* widget = new RdpRailWidget(m_context, info->windowId, flags);
    if (flags & Qt::Tool)
        widget->setFocusPolicy(Qt::NoFocus);
    if (RdpRailWidget* old = m_windows.value(info->windowId))
        delete old;
    m_windows.insert(info->windowId, widget);
    RdpGraphics::applyCurrentPointer(m_context);
    return widget;
}

void RdpRailWindows::applyFields(RdpRailWidget* widget, const WINDOW_ORDER_INFO* info,
                                 const WINDOW_STATE_ORDER* state, bool isNew)
{
    const UINT32 fields = info->fieldFlags;
    if (fields & WINDOW_ORDER_FIELD_TITLE) {
        const RAIL_UNICODE_STRING& title = state->titleInfo;
        widget->setWindowTitle(title.string ? QString::fromUtf16(reinterpret_cast<const char16_t*>(title.string),
                                                                 title.length / 2)
                                            : QString());
    }
    if (fields & WINDOW_ORDER_FIELD_OWNER)
        setOwner(widget, state->ownerWindowId);
    if (fields & (WINDOW_ORDER_FIELD_WND_OFFSET | WINDOW_ORDER_FIELD_WND_SIZE)) {
        const QRect current = widget->remoteGeometry();
        QRect remote = current;
        if (fields & WINDOW_ORDER_FIELD_WND_OFFSET)
            remote.moveTopLeft(QPoint(state->windowOffsetX, state->windowOffsetY));
        if (fields & WINDOW_ORDER_FIELD_WND_SIZE && sensibleSize(state->windowWidth, state->windowHeight))
            remote.setSize(QSize(int(state->windowWidth), int(state->windowHeight)));
        bool place = true;
        if (isNew) {
            // Placed where the server has it when that lies on a local work
            // area; otherwise the local window manager places it.
            const QRect global = RdpCoordinates::remoteToGlobal(remote, m_context->inverseScale,
                                                                RdpCoordinates::virtualDesktop().topLeft());
            const QScreen* screen = QGuiApplication::screenAt(global.topLeft());
            const QRect work = screen ? screen->availableGeometry() : QRect();
            place = remote.topLeft() != QPoint(0, 0)
                && (work.contains(global.topLeft(), true) || work.contains(global.topRight(), true));
        }
        if (!widget->isMinimized() && !widget->isMaximized())
            widget->applyRemoteGeometry(remote, place);
    }
    if (fields & WINDOW_ORDER_FIELD_SHOW)
        applyShowState(widget, state->showState);
    else if (isNew)
        widget->show();
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

void RdpRailWindows::deleteWindow(quint32 id)
{
    delete m_windows.take(id);
}

void RdpRailWindows::monitoredDesktop(const WINDOW_ORDER_INFO* info, const MONITORED_DESKTOP_ORDER* desktop)
{
    if (!(info->fieldFlags & WINDOW_ORDER_FIELD_DESKTOP_ACTIVE_WND))
        return;
    if (RdpRailWidget* widget = m_windows.value(desktop->activeWindowId))
        widget->activateFromServer();
}

void RdpRailWindows::repaint(const QRegion& remote)
{
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

void RdpRailWindows::setCursor(const QCursor& cursor)
{
    for (RdpRailWidget* widget : qAsConst(m_windows))
        widget->setCursor(cursor);
}

void RdpRailWindows::focusEntered(RdpRailWidget* widget)
{
    if (!m_focus)
        freerdp_input_send_synchronize_event(m_context->rdp()->input, RdpKeyboardState::lockFlags());
    m_focus = widget;
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
