#pragma once

#include "RailCommand.h"
#include "X11WindowTracker.h"

#include <freerdp/freerdp.h>

#include <QByteArray>
#include <QSize>

#include <map>
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
    // Tells a client of every window, and from then on of every change:
    // windows it does not know as new ones, the others (after a
    // reactivation) with all their fields.
    void announce(rdpContext* context, int peerId);

    // A "qzrail" message; a monitor layout sets *screen to the size that
    // covers the monitors. False with an error for a malformed message.
    bool handleMessage(quint16 type, const QByteArray& payload, QSize* screen, QString* error);
    // Standard rail orders of a client.
    void activate(quint32 windowId);
    void systemCommand(quint32 windowId, quint16 command);

private:
    // Brings a client that knows the given windows up to date; before: what
    // it was last sent, null for all fields.
    void sendChanges(rdpContext* context, std::set<Window>& known,
                     const std::vector<TrackedWindow>* before, bool desktop);
    void sendWindow(rdpContext* context, const TrackedWindow& window, const TrackedWindow* before) const;
    void sendDesktop(rdpContext* context) const;
    RailCommand::Monitor monitorOf(const TrackedWindow& window) const;

    X11WindowTracker& m_tracker;
    std::vector<TrackedWindow> m_sent; // stacking order, bottom first
    Window m_sentActive = 0;
    std::map<int, std::set<Window>> m_known; // per client id: the windows it knows
    std::vector<RailCommand::Monitor> m_monitors;
};
