#pragma once

#include <QPixmap>
#include <QPoint>
#include <QPropertyAnimation>
#include <QTimer>
#include <QWidget>

#include "RdpKeyInput.h"

#include <memory>

class RdpScreenPainter;
struct RdpClientContext;

// Paints the remote frame buffer and turns local mouse and keyboard input
// into RDP input events. Sits in the desktop window's scroll area. When the
// frame buffer is shared with the X server the widget is a native window
// that gets the changed areas put straight from it, past the toolkit's
// backing store; otherwise it paints through the toolkit.
class RdpDesktopWidget : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(double overlayMouseClickRadius READ overlayMouseClickRadius WRITE setOverlayMouseClickRadius)
    Q_PROPERTY(QPoint overlayMousePosition READ overlayMousePosition WRITE setOverlayMousePosition)

public:
    explicit RdpDesktopWidget(RdpClientContext* context, QWidget* parent = nullptr);
    ~RdpDesktopWidget() override;

    QSize sizeHint() const override;
    QPaintEngine* paintEngine() const override;

    // Whether areas go on screen straight from the frame buffer.
    bool paintsOnScreen() const { return m_screen != nullptr; }
    // Shows a changed region of the frame buffer (remote pixels) at once;
    // only when paintsOnScreen.
    void paintRemote(const QRegion& remote);

    double overlayMouseClickRadius() const { return m_overlayClickRadius; }
    QPoint overlayMousePosition() const { return m_overlayPosition; }

public slots:
    void setOverlayMouseClickRadius(double rad);
    void setOverlayMousePosition(QPoint pos);
    // Shows another participant's pointer (local pixels) and its clicks.
    void handleOverlayMouseEvent(QPoint pos, unsigned long flags);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private slots:
    void sendMousePosition();

private:
    QPoint remotePosition(const QPointF& local) const;
    void sendMouse(quint16 flags, const QPoint& remote);
    void sendButton(QMouseEvent* event, bool press);
    void sendKey(QKeyEvent* event, bool press);
    QRect overlayArea() const;
    bool overlayShown() const;
    void repaintOverlay(const QRect& area);
    void paintOverlay(QPainter& painter) const;
    // The local area from the frame buffer, as drawn at the current scale.
    QImage composed(const QImage& frame, const QRect& local) const;
    void paintLocal(const QRegion& local);

    RdpClientContext* m_context;
    std::unique_ptr<RdpScreenPainter> m_screen;
    QTimer m_mouseTimer;
    int m_lastX = -1;
    int m_lastY = -1;
    // Wheel delta of less than a step not yet sent.
    int m_wheelPending = 0;
    RdpKeyInput m_keys;
    double m_overlayOpacity = 0.7;
    QPixmap m_overlayCursor;
    double m_overlayClickRadius = 0.0;
    QPoint m_overlayPosition{-1, -1};
    bool m_overlayPressed = false;
    QPropertyAnimation m_radiusAnimation;
};
