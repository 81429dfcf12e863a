#pragma once

#include <QPointer>
#include <QPropertyAnimation>
#include <QRect>
#include <QTimer>
#include <QWidget>

class QScrollArea;
class RdpDesktopWidget;
class RdpSharingNotification;
class RdpToolbar;
struct RdpClientContext;

// The desktop window of a session: the remote desktop in a scroll area,
// with the slide-in toolbar over its top edge and a full-screen mode over
// the whole virtual desktop.
class RdpMainWidget : public QWidget
{
    Q_OBJECT

public:
    explicit RdpMainWidget(RdpClientContext* context, QWidget* parent = nullptr);

    void setDesktopWidget(RdpDesktopWidget* widget);
    RdpDesktopWidget* desktopWidget() const { return m_desktop; }
    RdpToolbar* toolbar() const { return m_toolbar; }
    RdpClientContext* context() const { return m_context; }
    RdpSharingNotification* sharingNotification() const { return m_notification; }

    void setSharingEnabled(bool enabled);
    // Slides the banner in at the top-right corner; it slides out 5 s later.
    void showSharingNotification(const QString& text);

    // In resize mode the remote desktop follows the window's size.
    void setResizeMode(bool on);
    void setResizeEnabled(bool enabled);

    // Toolbar rectangles, exposed for the window's own checks.
    QRect toolbarShownRect() const;
    QRect toolbarHiddenRect() const;

public slots:
    void enterFullScreen();
    void exitFullScreen();
    // The zoom changed: the desktop widget takes the remote desktop's new local size.
    void handleScaleChanged();
    // Another participant's pointer, local pixels; (-1, -1) hides it.
    void handleOverlayMouseEvent(QPoint pos, unsigned long flags);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private slots:
    void animateToolbarIn();
    void animateToolbarOut();
    void hideToolbar();
    void setFullScreen(bool on);
    void animateSharingNotificationIn();
    void animateSharingNotificationOut();
    void hideSharingNotification();
    void sharingNotificationAnimated();
    // Asks the server for the window's size when it differs from the last
    // size asked; true when a request went out.
    bool sendSize();

private:
    // The toolbar's rectangle, centred horizontally, with its top edge at top.
    QRect toolbarRect(int top) const;
    void slideToolbar(const QRect& from, const QRect& to);
    QRect notificationShownRect() const;
    QRect notificationHiddenRect() const;
    void slideSharingNotification(const QRect& from, const QRect& to);
    // Sends the size at once unless a request went out less than 500 ms ago;
    // the size timer then sends the latest size.
    void followWindowSize();

    RdpClientContext* m_context;
    QScrollArea* m_scrollArea;
    QPointer<RdpDesktopWidget> m_desktop;
    RdpToolbar* m_toolbar;
    QPropertyAnimation m_toolbarAnimation;
    QTimer m_toolbarTimer;
    RdpSharingNotification* m_notification;
    QPropertyAnimation m_notificationAnimation;
    QTimer m_notificationTimer;
    bool m_firstShow = true;
    Qt::WindowFlags m_savedFlags;
    QRect m_savedGeometry;
    QTimer m_sizeTimer;
    QSize m_lastSentSize{-1, -1};
};
