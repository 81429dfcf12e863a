#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QVector>

#include <qzrail/qzrail.h>

// Where the local monitors' work areas lie, in remote pixels, as the server
// places rootless windows by them.
namespace RdpMonitorLayout {

// One record per work area (global rectangles), mapped like every global
// rectangle: scaled, then moved by minus the virtual desktop's top-left
// corner. Right and bottom become exclusive; values are cut to 16 bits.
QVector<QzrailMonitor> records(const QList<QRect>& workAreas, double scale, const QPoint& desktopOrigin);

// Each screen's work area on a virtual desktop, in screen order; else the
// primary screen's alone.
QList<QRect> workAreas();

} // namespace RdpMonitorLayout
