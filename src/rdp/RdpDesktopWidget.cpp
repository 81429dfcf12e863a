#include "RdpDesktopWidget.h"

#include "RdpClientContext.h"
#include "RdpCoordinates.h"
#include "RdpInputFlags.h"
#include "RdpKeyboardState.h"
#include "RdpScreenPainter.h"
#include "RdpSharedFrame.h"

#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRadialGradient>
#include <QWheelEvent>

#include <freerdp/gdi/gdi.h>
#include <freerdp/input.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr quint16 ButtonFlags = 0x7000;

} // namespace

RdpDesktopWidget::RdpDesktopWidget(RdpClientContext* context, QWidget* parent)
    : QWidget(parent)
    , m_context(context)
    , m_overlayCursor(QStringLiteral(":/images/resources/cursor.png"))
    , m_radiusAnimation(this, QByteArrayLiteral("overlayMouseClickRadius"))
{
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    if (m_context->sharedFrame) {
        // Its siblings and ancestors become native windows too, so the
        // toolbar and the banner stay stacked above it.
        m_screen = std::make_unique<RdpScreenPainter>(m_context->sharedFrame->connection());
        setAttribute(Qt::WA_NativeWindow);
        setAttribute(Qt::WA_PaintOnScreen);
    }
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    m_mouseTimer.setSingleShot(true);
    m_mouseTimer.setInterval(0);
    connect(&m_mouseTimer, &QTimer::timeout, this, &RdpDesktopWidget::sendMousePosition);
}

RdpDesktopWidget::~RdpDesktopWidget() = default;

QPaintEngine* RdpDesktopWidget::paintEngine() const
{
    return m_screen ? nullptr : QWidget::paintEngine();
}

QSize RdpDesktopWidget::sizeHint() const
{
    const rdpGdi* gdi = m_context->rdp()->gdi;
    if (!gdi)
        return QWidget::sizeHint();
    return RdpCoordinates::remoteToLocal(QRect(0, 0, gdi->width, gdi->height), m_context->inverseScale).size();
}

QPoint RdpDesktopWidget::remotePosition(const QPointF& local) const
{
    const QPoint rounded(static_cast<int>(std::lround(local.x())), static_cast<int>(std::lround(local.y())));
    return RdpCoordinates::localToRemote(rounded, m_context->scale);
}

void RdpDesktopWidget::sendMouse(quint16 flags, const QPoint& remote)
{
    const auto x = static_cast<UINT16>(std::max(remote.x(), 0));
    const auto y = static_cast<UINT16>(std::max(remote.y(), 0));
    freerdp_input_send_mouse_event(m_context->rdp()->input, flags, x, y);
}

void RdpDesktopWidget::sendButton(QMouseEvent* event, bool press)
{
    const QPoint remote = remotePosition(event->localPos());
    quint16 flags = RdpInputFlags::button(event->button(), press);
    if (remote.x() != m_lastX || remote.y() != m_lastY)
        flags |= RdpInputFlags::Move;
    m_lastX = remote.x();
    m_lastY = remote.y();
    m_mouseTimer.start();
    sendMouse(flags, remote);
    event->accept();
}

void RdpDesktopWidget::mousePressEvent(QMouseEvent* event)
{
    sendButton(event, true);
}

void RdpDesktopWidget::mouseReleaseEvent(QMouseEvent* event)
{
    sendButton(event, false);
}

void RdpDesktopWidget::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    // The timer sends the newest position once the event loop comes round.
    if (m_mouseTimer.isActive())
        return;
    const QPoint remote = remotePosition(event->localPos());
    m_lastX = remote.x();
    m_lastY = remote.y();
    m_mouseTimer.start();
    sendMouse(RdpInputFlags::Move, remote);
}

void RdpDesktopWidget::sendMousePosition()
{
    const QPoint remote = RdpCoordinates::localToRemote(mapFromGlobal(QCursor::pos()), m_context->scale);
    if (remote.x() == m_lastX && remote.y() == m_lastY)
        return;
    m_lastX = remote.x();
    m_lastY = remote.y();
    sendMouse(RdpInputFlags::Move, remote);
}

void RdpDesktopWidget::wheelEvent(QWheelEvent* event)
{
    event->accept();
    const int turn = RdpInputFlags::takeWheelSteps(&m_wheelPending, event->angleDelta().y());
    if (turn == 0)
        return;
    // At the pointer: a server that reads the position must not see a jump.
    sendMouse(RdpInputFlags::wheel(turn), remotePosition(event->position()));
}

void RdpDesktopWidget::sendKey(QKeyEvent* event, bool press)
{
    event->accept();
    m_keys.send(m_context->rdp()->input, event->nativeScanCode(), press);
}

void RdpDesktopWidget::keyPressEvent(QKeyEvent* event)
{
    sendKey(event, true);
}

void RdpDesktopWidget::keyReleaseEvent(QKeyEvent* event)
{
    sendKey(event, false);
}

void RdpDesktopWidget::focusInEvent(QFocusEvent* event)
{
    freerdp_input_send_synchronize_event(m_context->rdp()->input, RdpKeyboardState::lockFlags());
    QWidget::focusInEvent(event);
}

void RdpDesktopWidget::focusOutEvent(QFocusEvent* event)
{
    if (m_mouseTimer.isActive()) {
        m_mouseTimer.stop();
        sendMousePosition();
    }
    rdpInput* input = m_context->rdp()->input;
    m_keys.releaseAll(input);
    freerdp_input_send_synchronize_event(input, 0);
    QWidget::focusOutEvent(event);
}

void RdpDesktopWidget::paintEvent(QPaintEvent* event)
{
    // Rendered into another device (grab, render) the widget paints through
    // the toolkit in either mode.
    const QPaintDevice* device = redirected(nullptr);
    if (m_screen && (!device || device == this)) {
        paintLocal(event->region());
        return;
    }
    const rdpGdi* gdi = m_context->rdp()->gdi;
    if (!gdi || !gdi->primary_buffer)
        return;
    const QImage frame(gdi->primary_buffer, gdi->width, gdi->height, static_cast<int>(gdi->stride),
                       QImage::Format_RGB32);
    QPainter painter(this);
    const QRect target = event->rect();
    if (m_context->scale == 1.0) {
        // Only the changed rectangles: their bounding rectangle can be most of the screen.
        for (const QRect& rect : event->region())
            painter.drawImage(rect.topLeft(), frame, rect);
    } else {
        painter.drawImage(QRectF(target), frame, RdpCoordinates::localToRemote(QRectF(target), m_context->scale));
    }
    if (overlayShown() && overlayArea().intersects(target))
        paintOverlay(painter);
}

void RdpDesktopWidget::paintRemote(const QRegion& remote)
{
    if (!m_screen || !isVisible())
        return;
    if (m_context->inverseScale == 1.0) {
        paintLocal(remote);
        return;
    }
    QRegion local;
    for (const QRect& rect : remote)
        local += RdpCoordinates::remoteToLocal(rect, m_context->inverseScale);
    paintLocal(local);
}

QImage RdpDesktopWidget::composed(const QImage& frame, const QRect& local) const
{
    QImage image(local.size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.translate(-local.topLeft());
    if (m_context->scale == 1.0)
        painter.drawImage(local.topLeft(), frame, local);
    else
        painter.drawImage(QRectF(local), frame, RdpCoordinates::localToRemote(QRectF(local), m_context->scale));
    return image;
}

void RdpDesktopWidget::paintLocal(const QRegion& local)
{
    const rdpGdi* gdi = m_context->rdp()->gdi;
    const auto window = static_cast<quint32>(internalWinId());
    if (!gdi || !gdi->primary_buffer || !window || !m_screen->accepts(window))
        return;
    const QSize frameSize(gdi->width, gdi->height);
    const QImage frame(gdi->primary_buffer, frameSize.width(), frameSize.height(), static_cast<int>(gdi->stride),
                       QImage::Format_RGB32);
    const bool unscaled = m_context->scale == 1.0;
    const QRect shown = unscaled ? QRect(QPoint(0, 0), frameSize)
                                 : RdpCoordinates::remoteToLocal(QRect(QPoint(0, 0), frameSize), m_context->inverseScale);
    const QRegion wanted = local & rect();
    // The library may have left shared memory after a failed resize.
    const quint32 segment = m_context->sharedFrame ? m_context->sharedFrame->segment() : 0;
    for (const QRect& area : wanted & shown) {
        if (unscaled && segment)
            m_screen->putShared(window, segment, frameSize, area);
        else
            m_screen->putImage(window, composed(frame, area), area.topLeft());
    }
    // A widget larger than the remote desktop, until the server follows.
    const QRegion beyond = wanted - shown;
    if (!beyond.isEmpty())
        m_screen->fill(window, beyond);
    // The overlay last, on a copy of the frame under it.
    const QRect overlay = overlayArea() & rect();
    if (overlayShown() && wanted.intersects(overlay)) {
        QImage piece = composed(frame, overlay);
        QPainter painter(&piece);
        painter.translate(-overlay.topLeft());
        paintOverlay(painter);
        painter.end();
        m_screen->putImage(window, piece, overlay.topLeft());
    }
    m_screen->flush();
}

bool RdpDesktopWidget::overlayShown() const
{
    return m_overlayPosition.x() >= 0 && rect().contains(m_overlayPosition);
}

void RdpDesktopWidget::paintOverlay(QPainter& painter) const
{
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_overlayClickRadius > 0.0) {
        QRadialGradient gradient(m_overlayPosition, m_overlayClickRadius);
        gradient.setColorAt(0.0, Qt::white);
        gradient.setColorAt(1.0, QColor(0, 112, 184));
        painter.setOpacity(m_overlayOpacity);
        painter.setPen(Qt::NoPen);
        painter.setBrush(gradient);
        painter.drawEllipse(QPointF(m_overlayPosition), m_overlayClickRadius, m_overlayClickRadius);
        painter.setOpacity(1.0);
    }
    painter.drawPixmap(m_overlayPosition, m_overlayCursor);
}

QRect RdpDesktopWidget::overlayArea() const
{
    const int radius = static_cast<int>(std::ceil(m_overlayClickRadius));
    const QRect circle(m_overlayPosition.x() - radius, m_overlayPosition.y() - radius, 2 * radius + 1, 2 * radius + 1);
    return circle.united(QRect(m_overlayPosition, m_overlayCursor.size()));
}

void RdpDesktopWidget::repaintOverlay(const QRect& area)
{
    // On screen at once, like the frames, without the toolkit's repaint.
    if (!m_screen)
        update(area);
    else if (isVisible())
        paintLocal(area);
}

void RdpDesktopWidget::setOverlayMouseClickRadius(double rad)
{
    const QRect before = overlayArea();
    m_overlayClickRadius = rad;
    repaintOverlay(before.united(overlayArea()));
}

void RdpDesktopWidget::setOverlayMousePosition(QPoint pos)
{
    const QRect before = overlayArea();
    m_overlayPosition = pos;
    repaintOverlay(before.united(overlayArea()));
}

void RdpDesktopWidget::handleOverlayMouseEvent(QPoint pos, unsigned long flags)
{
    setOverlayMousePosition(pos);
    if (m_radiusAnimation.state() == QAbstractAnimation::Running) {
        m_radiusAnimation.stop();
        setOverlayMouseClickRadius(m_radiusAnimation.endValue().toDouble());
    }
    if (!(flags & ButtonFlags))
        return;
    const bool down = flags & RdpInputFlags::Down;
    if (down == m_overlayPressed)
        return;
    m_overlayPressed = down;
    m_radiusAnimation.setDuration(100);
    m_radiusAnimation.setStartValue(down ? 0.0 : 10.0);
    m_radiusAnimation.setEndValue(down ? 10.0 : 0.0);
    m_radiusAnimation.start();
}
