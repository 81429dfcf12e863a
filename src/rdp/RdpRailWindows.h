#pragma once

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>

#include <freerdp/client/rail.h>

class QCursor;
class QRegion;
class RdpRailWidget;
struct RdpClientContext;

// What the window orders say, as values: orders that arrive on the worker
// during the connect travel to the GUI thread in a queued call.
struct RdpRailOrder
{
    enum Kind { Window, Delete, Desktop };
    Kind kind = Window;
    quint32 id = 0;
    quint32 fields = 0;
    quint32 owner = 0;
    quint32 style = 0;
    quint32 extendedStyle = 0;
    quint32 showState = 0;
    QString title;
    int x = 0;
    int y = 0;
    quint32 width = 0;
    quint32 height = 0;
    // Monitored desktop: the server's stacking order, topmost first.
    QVector<quint32> zOrder;
};

// The local windows of a rootless session, by the server's window id. It
// takes the library's window orders (create, update, delete, monitored
// desktop), which arrive inside the event processing on the GUI thread
// (or on the worker while connecting), and bounds what a server can make it allocate: windows of absurd size and
// windows beyond a fixed number are ignored, owner cycles are broken.
class RdpRailWindows : public QObject
{
    Q_OBJECT

public:
    // Windows beyond this many are ignored.
    static constexpr int MaxWindows = 256;
    // Ids of a stacking order beyond this many (below the top ones) are ignored.
    static constexpr int MaxZOrder = 4096;
    // A side longer than this (or empty) is not a real window.
    static constexpr int MaxSide = 32767;

    explicit RdpRailWindows(RdpClientContext* context);
    // Removes the callbacks and deletes every window.
    ~RdpRailWindows() override;

    // Installs the window order callbacks on the context's update table.
    void install();
    RdpRailWidget* window(quint32 id) const { return m_windows.value(id); }
    QList<RdpRailWidget*> windows() const { return m_windows.values(); }
    // Repaints what each window covers of a region of the remote screen.
    void repaint(const QRegion& remote);
    void setCursor(const QCursor& cursor);

    void apply(const RdpRailOrder& order);

    // A window took the keyboard focus: the server learns the lock keys
    // when the focus comes from outside the session's windows, and true
    // is returned then.
    bool focusEntered(RdpRailWidget* widget);
    // A window was activated locally: the server's next stacking order is
    // applied at once or with the next button release.
    void activatedLocally();
    // A mouse button went up in one of the windows.
    void buttonReleased();
    // The zoom changed: each window is repainted and reports its rectangle
    // in the new remote pixels.
    void scaleChanged();
    // Answers the server's system parameters with the work area: the
    // whole virtual desktop, where the local windows may go.
    void sendWorkArea();
    // The server's rail handshake: its channels are open from now on, so
    // the monitor layout sent on connect is sent again, with the work area.
    void serverReady();
    // True while one of the session's windows is the active window.
    bool hasFocus() const;

public slots:
    // After a window lost the focus: when no window of the session has it,
    // the server is told that no key is down.
    void checkFocus();

private:
    void windowOrder(const RdpRailOrder& order);
    RdpRailWidget* createWindow(const RdpRailOrder& order);
    void applyFields(RdpRailWidget* widget, const RdpRailOrder& order, bool isNew);
    void setOwner(RdpRailWidget* widget, quint32 ownerId);
    void desktopOrder(const RdpRailOrder& order);
    void restack();
    void placeAbove(RdpRailWidget* upper, RdpRailWidget* lower);

    RdpClientContext* m_context;
    QMap<quint32, RdpRailWidget*> m_windows;
    QPointer<RdpRailWidget> m_focus;
    // The server's stacking order of the known windows, bottom first.
    QList<QPointer<RdpRailWidget>> m_order;
    bool m_restackPending = false;
};
