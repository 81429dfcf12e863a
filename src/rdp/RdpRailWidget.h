#pragma once

#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include "RdpKeyInput.h"

struct RdpClientContext;

// One remote window of a rootless session as a local top-level window. It
// shows the part of the remote frame buffer it covers, sends input with
// global (remote desktop) positions and reports what the local window
// manager and the user do with it: moves, resizes, activation, state
// changes and the close button. The server's orders reach it through
// RdpRailWindows, which owns it.
class RdpRailWidget : public QWidget
{
    Q_OBJECT

public:
    RdpRailWidget(RdpClientContext* context, quint32 windowId, Qt::WindowFlags flags);

    quint32 windowId() const { return m_windowId; }
    RdpRailWidget* owner() const { return m_owner; }
    void setOwner(RdpRailWidget* owner);
    // Takes the server's rectangle (remote pixels) without reporting it back.
    void applyRemoteGeometry(const QRect& remote, bool place);
    // The server placed a window whose size the local window manager keeps
    // (maximised): the remote window is sent back to where the local one is.
    void keepLocalGeometry(const QRect& remote);
    // The server made this window active: shown locally, not reported back.
    void activateFromServer();
    // The widget's global rectangle in remote pixels.
    QRect remoteGeometry() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

public slots:
    // Reports the window's rectangle in remote pixels when it changed.
    void sendGeometry();

private slots:
    // Ctrl+Alt+Shift+O in a window: the session's options dialog.
    void showOptions();
    void sendMousePosition();

private:
    QPoint remotePosition(const QPoint& global) const;
    void sendMouse(quint16 flags, const QPoint& remote);
    void sendButton(QMouseEvent* event, bool press);
    void sendKey(QKeyEvent* event, bool press);
    void sendActivate();
    void sendRaise();
    void sendSysCommand(quint16 command);
    void geometryChanged();

    RdpClientContext* m_context;
    quint32 m_windowId;
    QPointer<RdpRailWidget> m_owner;
    bool m_suppressActivation = false;
    bool m_ignoreGeometry = false;
    QTimer m_mouseTimer;
    int m_lastX = -1;
    int m_lastY = -1;
    int m_wheelPending = 0;
    RdpKeyInput m_keys;
    QTimer m_geometryTimer;
    // The rectangle last reported or taken from the server, remote pixels.
    QRect m_lastGeometry;
};
