#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// A "qzrail" message from a rootless client: window control and the layout
// of its monitors, in the session screen's pixels.
struct RailCommand
{
    enum Kind : quint16 { Geometry = 5, Raise = 6, ZOrder = 7, Activate = 8, MonitorLayout = 9 };
    struct Monitor
    {
        int left = 0, top = 0, right = 0, bottom = 0; // right and bottom exclusive
    };

    Kind kind = Activate;
    quint32 windowId = 0;
    quint32 otherId = 0; // z-order: the window goes directly below this one
    int left = 0, top = 0, right = 0, bottom = 0; // geometry, right and bottom exclusive
    std::vector<Monitor> monitors; // only those with an area
};

// At most this many monitors are sent; a layout announcing more is refused.
constexpr quint32 MaxRailMonitors = 32;

// Reads one message's type and payload; false with an error for an unknown
// type, a short payload or a layout without a usable monitor.
bool decodeRailCommand(quint16 type, const QByteArray& payload, RailCommand* command, QString* error);
