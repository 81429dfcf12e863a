#include "RdpRailWidget.h"

#include "RdpClientContext.h"
#include "RdpCoordinates.h"
#include "RdpInputFlags.h"
#include "RdpKeyboardState.h"
#include "RdpOptionsDialog.h"
#include "RdpRailWindows.h"

#include <QCloseEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>
#include <QWindow>
#include <QX11Info>

#include <freerdp/gdi/gdi.h>
#include <freerdp/input.h>
#include <freerdp/rail.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>


namespace {

// Geometry reports while the user drags: one at once, then at most one per
// this many milliseconds, and a last one when the dragging stops.
constexpr int GeometryIntervalMs = 125;

} // namespace

RdpRailWidget::RdpRailWidget(RdpClientContext* context, quint32 windowId, Qt::WindowFlags flags)
    : QWidget(nullptr, flags)
    , m_context(context)
    , m_windowId(windowId)
{
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    m_mouseTimer.setSingleShot(true);
    m_mouseTimer.setInterval(0);
    connect(&m_mouseTimer, &QTimer::timeout, this, &RdpRailWidget::sendMousePosition);
    m_geometryTimer.setSingleShot(true);
    m_geometryTimer.setInterval(GeometryIntervalMs);
    connect(&m_geometryTimer, &QTimer::timeout, this, &RdpRailWidget::sendGeometry);
}

void RdpRailWidget::setOwner(RdpRailWidget* owner)
{
    m_owner = owner;
    // Only a hint for the window manager (dialogs stay with their owner).
    create();
    if (owner)
        owner->create();
    if (QWindow* window = windowHandle())
        window->setTransientParent(owner ? owner->windowHandle() : nullptr);
    // Qt writes the hint when it maps the window; a shown window learns its
    // new owner here.
    Display* display = QX11Info::display();
    if (!display || !isVisible())
        return;
    if (owner)
        XSetTransientForHint(display, winId(), owner->winId());
    else
        XDeleteProperty(display, winId(), XA_WM_TRANSIENT_FOR);
    XFlush(display);
}

QRect RdpRailWidget::remoteGeometry() const
{
    const QRect global(mapToGlobal(QPoint(0, 0)), size());
    return RdpCoordinates::globalToRemote(global, m_context->scale, RdpCoordinates::virtualDesktop().topLeft());
}

void RdpRailWidget::applyRemoteGeometry(const QRect& remote, bool place)
{
    if (remote == remoteGeometry())
        return;
    const QRect global =
        RdpCoordinates::remoteToGlobal(remote, m_context->inverseScale, RdpCoordinates::virtualDesktop().topLeft());
    // What the server already has is not sent back to it.
    m_lastGeometry = remote;
    m_ignoreGeometry = true;
    if (place)
        setGeometry(global);
    else
        resize(global.size());
    m_ignoreGeometry = false;
}

void RdpRailWidget::keepLocalGeometry(const QRect& remote)
{
    if (remote == remoteGeometry())
        return;
    m_lastGeometry = remote;
    QMetaObject::invokeMethod(this, &RdpRailWidget::sendGeometry, Qt::QueuedConnection);
}

void RdpRailWidget::activateFromServer()
{
    if (isActiveWindow())
        return;
    m_suppressActivation = true;
    activateWindow();
    raise();
}

void RdpRailWidget::paintEvent(QPaintEvent* event)
{
    const rdpGdi* gdi = m_context->rdp()->gdi;
    if (!gdi || !gdi->primary_buffer) {
        // Never a see-through window over the local desktop.
        QPainter(this).fillRect(event->rect(), Qt::black);
        return;
    }
    const QImage frame(gdi->primary_buffer, gdi->width, gdi->height, static_cast<int>(gdi->stride),
                       QImage::Format_RGB32);
    const QPoint origin = mapToGlobal(QPoint(0, 0));
    const QPoint desktop = RdpCoordinates::virtualDesktop().topLeft();
    QPainter painter(this);
    for (const QRect& rect : event->region()) {
        const QRectF source =
            RdpCoordinates::globalToRemote(QRectF(rect.translated(origin)), m_context->scale, desktop);
        // Parts outside the remote screen have no pixels.
        if (!frame.rect().contains(source.toAlignedRect()))
            painter.fillRect(rect, Qt::black);
        painter.drawImage(QRectF(rect), frame, source);
    }
}

QPoint RdpRailWidget::remotePosition(const QPoint& global) const
{
    return RdpCoordinates::globalToRemote(global, m_context->scale, RdpCoordinates::virtualDesktop().topLeft());
}

// Positions left of or above the remote desktop wrap like the server's
// 16-bit fields; they are not clamped to the window.
void RdpRailWidget::sendMouse(quint16 flags, const QPoint& remote)
{
    freerdp_input_send_mouse_event(m_context->rdp()->input, flags, static_cast<UINT16>(remote.x()),
                                   static_cast<UINT16>(remote.y()));
}

void RdpRailWidget::sendButton(QMouseEvent* event, bool press)
{
    const QPoint remote = remotePosition(event->globalPos());
    quint16 flags = RdpInputFlags::button(event->button(), press);
    if (remote.x() != m_lastX || remote.y() != m_lastY)
        flags |= RdpInputFlags::Move;
    m_lastX = remote.x();
    m_lastY = remote.y();
    m_mouseTimer.start();
    sendMouse(flags, remote);
    event->accept();
}

void RdpRailWidget::mousePressEvent(QMouseEvent* event)
{
    sendButton(event, true);
}

void RdpRailWidget::mouseReleaseEvent(QMouseEvent* event)
{
    sendButton(event, false);
    if (m_context->railWindows)
        m_context->railWindows->buttonReleased();
}

void RdpRailWidget::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    if (m_mouseTimer.isActive())
        return;
    const QPoint remote = remotePosition(event->globalPos());
    m_lastX = remote.x();
    m_lastY = remote.y();
    m_mouseTimer.start();
    sendMouse(RdpInputFlags::Move, remote);
}

void RdpRailWidget::sendMousePosition()
{
    const QPoint remote = remotePosition(QCursor::pos());
    if (remote.x() == m_lastX && remote.y() == m_lastY)
        return;
    m_lastX = remote.x();
    m_lastY = remote.y();
    sendMouse(RdpInputFlags::Move, remote);
}

void RdpRailWidget::wheelEvent(QWheelEvent* event)
{
    event->accept();
    const int turn = RdpInputFlags::takeWheelSteps(&m_wheelPending, event->angleDelta().y());
    if (turn == 0)
        return;
    sendMouse(RdpInputFlags::wheel(turn), remotePosition(event->globalPosition().toPoint()));
}

void RdpRailWidget::sendKey(QKeyEvent* event, bool press)
{
    event->accept();
    m_keys.send(m_context->rdp()->input, event->nativeScanCode(), press);
}

void RdpRailWidget::keyPressEvent(QKeyEvent* event)
{
    // Rootless windows have no toolbar: the options are a key away.
    if (event->key() == Qt::Key_O
        && event->modifiers() == (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier)) {
        event->accept();
        showOptions();
        return;
    }
    sendKey(event, true);
}

void RdpRailWidget::showOptions()
{
    if (RdpOptionsDialog* dialog = m_context->optionsDialog) {
        dialog->show();
        dialog->raise();
        dialog->activateWindow();
    }
}

void RdpRailWidget::keyReleaseEvent(QKeyEvent* event)
{
    sendKey(event, false);
}

void RdpRailWidget::focusInEvent(QFocusEvent* event)
{
    // Modifiers pressed in another window and still held apply here too.
    if (m_context->railWindows && m_context->railWindows->focusEntered(this))
        m_keys.pressHeld(m_context->rdp()->input, RdpKeyboardState::heldModifiers());
    QWidget::focusInEvent(event);
}

void RdpRailWidget::focusOutEvent(QFocusEvent* event)
{
    if (m_mouseTimer.isActive()) {
        m_mouseTimer.stop();
        sendMousePosition();
    }
    m_keys.releaseAll(m_context->rdp()->input);
    if (m_context->railWindows)
        QMetaObject::invokeMethod(m_context->railWindows, &RdpRailWindows::checkFocus, Qt::QueuedConnection);
    QWidget::focusOutEvent(event);
}

void RdpRailWidget::moveEvent(QMoveEvent* event)
{
    geometryChanged();
    QWidget::moveEvent(event);
}

void RdpRailWidget::resizeEvent(QResizeEvent* event)
{
    geometryChanged();
    QWidget::resizeEvent(event);
}

void RdpRailWidget::geometryChanged()
{
    if (m_ignoreGeometry || m_geometryTimer.isActive())
        return;
    sendGeometry();
    m_geometryTimer.start();
}

void RdpRailWidget::sendGeometry()
{
    if (!isVisible() || !m_context->qzrail)
        return;
    const QRect remote = remoteGeometry();
    if (remote == m_lastGeometry)
        return;
    m_lastGeometry = remote;
    m_context->qzrail->WindowGeometry(m_context->qzrail, m_windowId, remote.left(), remote.top(),
                                      remote.right() + 1, remote.bottom() + 1);
}

namespace {

// The standard channel's only way to bring a window forward.
void railActivate(RdpClientContext* context, quint32 windowId)
{
    if (!context->rail)
        return;
    RAIL_ACTIVATE_ORDER activate = {};
    activate.windowId = windowId;
    activate.enabled = TRUE;
    context->rail->ClientActivate(context->rail, &activate);
}

} // namespace

void RdpRailWidget::sendActivate()
{
    if (m_context->qzrail)
        m_context->qzrail->WindowActivate(m_context->qzrail, m_windowId);
    else
        railActivate(m_context, m_windowId);
}

void RdpRailWidget::sendRaise()
{
    if (m_context->qzrail)
        m_context->qzrail->WindowRaise(m_context->qzrail, m_windowId);
    else
        railActivate(m_context, m_windowId);
}

void RdpRailWidget::sendSysCommand(quint16 command)
{
    if (!m_context->rail)
        return;
    RAIL_SYSCOMMAND_ORDER order = {};
    order.windowId = m_windowId;
    order.command = command;
    m_context->rail->ClientSystemCommand(m_context->rail, &order);
}

void RdpRailWidget::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange && isVisible()) {
        if (windowState() & Qt::WindowMinimized)
            sendSysCommand(SC_MINIMIZE);
        else if (windowState() & Qt::WindowMaximized)
            sendSysCommand(SC_MAXIMIZE);
        else
            sendSysCommand(SC_RESTORE);
    } else if (event->type() == QEvent::ActivationChange) {
        // A window without child widgets takes the keyboard focus itself.
        if (isActiveWindow() && focusPolicy() != Qt::NoFocus)
            setFocus(Qt::ActiveWindowFocusReason);
        if (isActiveWindow() && !m_suppressActivation) {
            sendActivate();
            if (m_context->railWindows)
                m_context->railWindows->activatedLocally();
            sendRaise();
        }
        m_suppressActivation = false;
    }
    QWidget::changeEvent(event);
}

// The program may ask before it ends, or refuse: the window stays until
// the server deletes it.
void RdpRailWidget::closeEvent(QCloseEvent* event)
{
    event->ignore();
    sendSysCommand(SC_CLOSE);
}
