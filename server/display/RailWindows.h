#pragma once

#include "RailCommand.h"
#include "X11WindowTracker.h"

#include <freerdp/freerdp.h>

#include <QByteArray>
#include <QSize>

#include <memory>
#include <set>
#include <vector>

class PeerConnection;

// The windows of a rootless session as the clients see them: turns what the
// window tracker reports into window and monitored-desktop orders, and the
// clients' window commands ("qzrail" messages, system commands) into actions
// on the X windows.
class RailWindows
{
public:
    explicit RailWindows(X11WindowTracker& tracker);
    RailWindows(const RailWindows&) = delete;
    RailWindows& operator=(const RailWindows&) = delete;

    // Sends what changed since the last call to the clients that know the windows.
    void sync(const std::vector<std::unique_ptr<PeerConnection>>& peers);
    // Tells a client of every window: as new windows the first time, else
    // (after a reactivation) as updates of all fields.
    void announce(rdpContext* context, int peerId);
    bool announced(int peerId) const { return m_announced.count(peerId) != 0; }

    // A "qzrail" message; a monitor layout sets *screen to the size that
    // covers the monitors. False with an error for a malformed message.
    bool handleMessage(quint16 type, const QByteArray& payload, QSize* screen, QString* error);
    // Standard rail orders of a client.
    void activate(quint32 windowId);
    void systemCommand(quint32 windowId, quint16 command);

private:
    void sendWindow(rdpContext* context, const TrackedWindow& window, const TrackedWindow* before) const;
    void sendDesktop(rdpContext* context) const;
    RailCommand::Monitor monitorOf(const TrackedWindow& window) const;

    X11WindowTracker& m_tracker;
    std::vector<TrackedWindow> m_sent; // stacking order, bottom first
    Window m_sentActive = 0;
    std::set<int> m_announced;
    std::vector<RailCommand::Monitor> m_monitors;
};
