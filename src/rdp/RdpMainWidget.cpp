#include "RdpMainWidget.h"

#include "RdpClientContext.h"
#include "RdpCoordinates.h"
#include "RdpDesktopWidget.h"
#include "RdpInstance.h"
#include "RdpLogging.h"
#include "RdpSharingNotification.h"
#include "RdpToolbar.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

RdpMainWidget::RdpMainWidget(RdpClientContext* context, QWidget* parent)
    : QWidget(parent)
    , m_context(context)
    , m_scrollArea(new QScrollArea(this))
    , m_toolbar(new RdpToolbar(context, this))
    , m_toolbarAnimation(m_toolbar, QByteArrayLiteral("geometry"))
    , m_notification(new RdpSharingNotification(this))
    , m_notificationAnimation(m_notification, QByteArrayLiteral("geometry"))
{
    setObjectName(QStringLiteral("RdpMainWidget"));
    auto* layout = new QGridLayout(this);
    layout->setObjectName(QStringLiteral("gridLayout"));
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);
    m_scrollArea->setObjectName(QStringLiteral("ScrollArea"));
    m_scrollArea->setFocusPolicy(Qt::ClickFocus);
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setFrameShadow(QFrame::Plain);
    m_scrollArea->setLineWidth(0);
    m_scrollArea->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* contents = new QWidget;
    contents->setObjectName(QStringLiteral("ScrollAreaWidgetContents"));
    m_scrollArea->setWidget(contents);
    layout->addWidget(m_scrollArea, 0, 0);

    m_scrollArea->horizontalScrollBar()->installEventFilter(this);
    m_scrollArea->verticalScrollBar()->installEventFilter(this);
    m_toolbar->installEventFilter(this);
    m_toolbar->setMouseTracking(true);
    m_toolbar->setAutoFillBackground(true);
    m_toolbar->show();
    m_toolbar->raise();

    m_toolbarAnimation.setDuration(200);
    m_toolbarTimer.setSingleShot(true);
    m_toolbarTimer.setInterval(5000);
    connect(m_toolbar, &RdpToolbar::buttonClicked, this, &RdpMainWidget::animateToolbarOut);
    connect(m_toolbar, &RdpToolbar::fullscreenToggled, this, &RdpMainWidget::setFullScreen);
    connect(&m_toolbarTimer, &QTimer::timeout, this, &RdpMainWidget::animateToolbarOut);

    m_notification->installEventFilter(this);
    m_notification->setMouseTracking(true);
    m_notification->show();
    m_notification->raise();
    m_notificationAnimation.setDuration(200);
    m_notificationTimer.setSingleShot(true);
    m_notificationTimer.setInterval(5000);
    connect(&m_notificationAnimation, &QPropertyAnimation::finished, this,
            &RdpMainWidget::sharingNotificationAnimated);
    connect(&m_notificationTimer, &QTimer::timeout, this, &RdpMainWidget::animateSharingNotificationOut);
    connect(m_toolbar, &RdpToolbar::resizeToggled, this, &RdpMainWidget::setResizeMode);
    m_sizeTimer.setSingleShot(true);
    m_sizeTimer.setInterval(500);
    // A coarse timer may fire up to 5 % early.
    m_sizeTimer.setTimerType(Qt::PreciseTimer);
    // While requests keep going out the timer keeps running, so a window that
    // is being resized asks at most once per interval; the last size is sent
    // when the timer fires.
    connect(&m_sizeTimer, &QTimer::timeout, this, [this]() {
        if (sendSize())
            m_sizeTimer.start();
    });
    hideToolbar();
    hideSharingNotification();
}

void RdpMainWidget::setDesktopWidget(RdpDesktopWidget* widget)
{
    if (QWidget* previous = m_scrollArea->widget())
        previous->removeEventFilter(this);
    m_scrollArea->setWidget(widget);
    m_desktop = widget;
    // The window takes the size of the remote desktop, as far as the screen
    // allows. Without a size of its own a window opens at its layout's size
    // hint, and a scroll area's hint is only a fraction of its contents'.
    const QSize available = screen()->availableGeometry().size();
    resize(widget->sizeHint().boundedTo(available));
    widget->installEventFilter(this);
    widget->setFocus(Qt::OtherFocusReason);
    m_toolbar->raise();
    m_notification->raise();
}

QRect RdpMainWidget::toolbarRect(int top) const
{
    const int x = (width() - 1) / 2 - (m_toolbar->width() - 1) / 2;
    return QRect(QPoint(x, top), m_toolbar->size());
}

QRect RdpMainWidget::toolbarShownRect() const
{
    return toolbarRect(1);
}

QRect RdpMainWidget::toolbarHiddenRect() const
{
    // A 3-pixel strip stays visible for the pointer to find.
    return toolbarRect(3 - m_toolbar->height());
}

void RdpMainWidget::slideToolbar(const QRect& from, const QRect& to)
{
    m_toolbarAnimation.stop();
    m_toolbarTimer.stop();
    m_toolbarAnimation.setStartValue(from);
    m_toolbarAnimation.setEndValue(to);
    m_toolbarAnimation.start();
}

void RdpMainWidget::animateToolbarIn()
{
    slideToolbar(toolbarHiddenRect(), toolbarShownRect());
}

void RdpMainWidget::animateToolbarOut()
{
    slideToolbar(toolbarShownRect(), toolbarHiddenRect());
}

void RdpMainWidget::hideToolbar()
{
    m_toolbarAnimation.stop();
    m_toolbarTimer.stop();
    m_toolbar->setGeometry(toolbarHiddenRect());
}

bool RdpMainWidget::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (watched == m_scrollArea->horizontalScrollBar() || watched == m_scrollArea->verticalScrollBar()
        || watched == m_desktop) {
        if ((type == QEvent::MouseButtonPress || type == QEvent::KeyPress || type == QEvent::Wheel)
            && m_toolbar->geometry() == toolbarShownRect())
            animateToolbarOut();
    } else if (watched == m_toolbar) {
        if (type == QEvent::Enter) {
            if (m_toolbar->geometry() == toolbarHiddenRect())
                animateToolbarIn();
            m_toolbarTimer.stop();
        } else if (type == QEvent::Leave) {
            m_toolbarTimer.start();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void RdpMainWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    followWindowSize();
    hideToolbar();
    hideSharingNotification();
}

void RdpMainWidget::setResizeMode(bool on)
{
    m_toolbar->setResizeChecked(on);
    // Turned on, the desktop takes the window's size even when that was the
    // last size asked for: the desktop may have changed since.
    if (on)
        m_lastSentSize = QSize(-1, -1);
    followWindowSize();
}

void RdpMainWidget::setResizeEnabled(bool enabled)
{
    m_toolbar->setResizeEnabled(enabled);
}

void RdpMainWidget::followWindowSize()
{
    if (!m_toolbar->isResizeChecked() || m_sizeTimer.isActive())
        return;
    sendSize();
    m_sizeTimer.start();
}

bool RdpMainWidget::sendSize()
{
    if (!m_context->qzdesk || !m_desktop)
        return false;
    const QSize local = m_scrollArea->size().expandedTo(m_desktop->minimumSize()).boundedTo(m_desktop->maximumSize());
    const QRect remote = RdpCoordinates::localToRemote(QRect(QPoint(0, 0), local), m_context->scale);
    const QSize size(qBound(1, remote.width(), 0xFFFF), qBound(1, remote.height(), 0xFFFF));
    if (size == m_lastSentSize)
        return false;
    m_lastSentSize = size;
    qCDebug(lcRdp) << "desktop size request" << size.width() << size.height();
    m_context->qzdesk->RequestDesktopSize(m_context->qzdesk, UINT16(size.width()), UINT16(size.height()));
    return true;
}

void RdpMainWidget::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (m_context->instance)
        QMetaObject::invokeMethod(m_context->instance, "quit", Qt::QueuedConnection);
}

void RdpMainWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_firstShow)
        return;
    m_firstShow = false;
    animateToolbarIn();
    m_toolbarTimer.start();
}

void RdpMainWidget::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    m_toolbar->setFullscreenChecked(isFullScreen() || m_savedFlags != Qt::WindowFlags());
    followWindowSize();
    hideToolbar();
}

bool RdpMainWidget::focusNextPrevChild(bool)
{
    // Tab and Backtab belong to the remote session.
    return false;
}

void RdpMainWidget::setFullScreen(bool on)
{
    if (on)
        enterFullScreen();
    else
        exitFullScreen();
}

void RdpMainWidget::enterFullScreen()
{
    if (m_savedFlags != Qt::WindowFlags())
        return;
    m_savedFlags = windowFlags();
    m_savedGeometry = geometry();
    setWindowFlags(Qt::FramelessWindowHint);
    setGeometry(RdpCoordinates::virtualDesktop());
    show();
    m_toolbar->setFullscreenChecked(true);
    hideToolbar();
}

void RdpMainWidget::exitFullScreen()
{
    if (m_savedFlags == Qt::WindowFlags())
        return;
    setWindowFlags(m_savedFlags);
    QGuiApplication::sync();
    setGeometry(m_savedGeometry);
    show();
    m_savedFlags = Qt::WindowFlags();
    m_savedGeometry = QRect();
    m_toolbar->setFullscreenChecked(false);
    hideToolbar();
}

void RdpMainWidget::handleScaleChanged()
{
    if (!m_desktop)
        return;
    m_desktop->resize(m_desktop->sizeHint());
    m_desktop->update();
}

void RdpMainWidget::handleOverlayMouseEvent(QPoint pos, unsigned long flags)
{
    if (m_desktop)
        m_desktop->handleOverlayMouseEvent(pos, flags);
}

void RdpMainWidget::setSharingEnabled(bool enabled)
{
    m_toolbar->setSharingEnabled(enabled);
}

QRect RdpMainWidget::notificationShownRect() const
{
    const QSize size = m_notification->size();
    return QRect(QPoint(width() - 2 - size.width(), 1), size);
}

QRect RdpMainWidget::notificationHiddenRect() const
{
    const QSize size = m_notification->size();
    return QRect(QPoint(width() - 2 - size.width(), -size.height()), size);
}

void RdpMainWidget::slideSharingNotification(const QRect& from, const QRect& to)
{
    m_notificationAnimation.stop();
    m_notificationTimer.stop();
    m_notificationAnimation.setStartValue(from);
    m_notificationAnimation.setEndValue(to);
    m_notificationAnimation.start();
}

void RdpMainWidget::showSharingNotification(const QString& text)
{
    m_notification->setText(text);
    m_notification->raise();
    animateSharingNotificationIn();
}

void RdpMainWidget::animateSharingNotificationIn()
{
    slideSharingNotification(notificationHiddenRect(), notificationShownRect());
}

void RdpMainWidget::animateSharingNotificationOut()
{
    slideSharingNotification(notificationShownRect(), notificationHiddenRect());
}

void RdpMainWidget::hideSharingNotification()
{
    m_notificationAnimation.stop();
    m_notificationTimer.stop();
    m_notification->setGeometry(notificationHiddenRect());
}

void RdpMainWidget::sharingNotificationAnimated()
{
    if (m_notification->geometry() != notificationHiddenRect())
        m_notificationTimer.start();
}
