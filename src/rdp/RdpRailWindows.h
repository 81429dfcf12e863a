#pragma once

#include <QMap>
#include <QObject>
#include <QPointer>

#include <freerdp/freerdp.h>
#include <freerdp/window.h>

class QCursor;
class QRegion;
class RdpRailWidget;
struct RdpClientContext;

// The local windows of a rootless session, by the server's window id. It
// takes the library's window orders (create, update, delete, monitored
// desktop), which arrive inside the event processing on the GUI thread, and
// bounds what a server can make it allocate: windows of absurd size and
// windows beyond a fixed number are ignored, owner cycles are broken.
class RdpRailWindows : public QObject
{
    Q_OBJECT

public:
    // Windows beyond this many are ignored.
    static constexpr int MaxWindows = 256;
    // A side longer than this (or empty) is not a real window.
    static constexpr int MaxSide = 32767;

    // Installs the window order callbacks on the context's update table.
    explicit RdpRailWindows(RdpClientContext* context);
    // Removes the callbacks and deletes every window.
    ~RdpRailWindows() override;

    RdpRailWidget* window(quint32 id) const { return m_windows.value(id); }
    QList<RdpRailWidget*> windows() const { return m_windows.values(); }
    // Repaints what each window covers of a region of the remote screen.
    void repaint(const QRegion& remote);
    void setCursor(const QCursor& cursor);

    bool windowOrder(const WINDOW_ORDER_INFO* info, const WINDOW_STATE_ORDER* state);
    void deleteWindow(quint32 id);
    void monitoredDesktop(const WINDOW_ORDER_INFO* info, const MONITORED_DESKTOP_ORDER* desktop);

    // A window took the keyboard focus: the server learns the lock keys
    // when the focus comes from outside the session's windows.
    void focusEntered(RdpRailWidget* widget);

public slots:
    // After a window lost the focus: when no window of the session has it,
    // the server is told that no key is down.
    void checkFocus();

private:
    RdpRailWidget* createWindow(const WINDOW_ORDER_INFO* info, const WINDOW_STATE_ORDER* state);
    void applyFields(RdpRailWidget* widget, const WINDOW_ORDER_INFO* info, const WINDOW_STATE_ORDER* state,
                     bool isNew);
    void setOwner(RdpRailWidget* widget, quint32 ownerId);

    RdpClientContext* m_context;
    QMap<quint32, RdpRailWidget*> m_windows;
    QPointer<RdpRailWidget> m_focus;
};
