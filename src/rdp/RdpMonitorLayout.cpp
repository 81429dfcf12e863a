#include "RdpMonitorLayout.h"

#include "RdpCoordinates.h"

#include <QGuiApplication>
#include <QScreen>

namespace RdpMonitorLayout {

QVector<QzrailMonitor> records(const QList<QRect>& workAreas, double scale, const QPoint& desktopOrigin)
{
    QVector<QzrailMonitor> result;
    result.reserve(workAreas.size());
    for (const QRect& area : workAreas) {
        const QRect remote = RdpCoordinates::globalToRemote(area, scale, desktopOrigin);
        result.append({UINT16(remote.left()), UINT16(remote.top()), UINT16(remote.right() + 1),
                       UINT16(remote.bottom() + 1)});
    }
    return result;
}

QList<QRect> workAreas()
{
    QList<QRect> areas;
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary)
        return areas;
    const QList<QScreen*> screens = primary->virtualSiblings();
    if (screens.size() > 1) {
        for (const QScreen* screen : screens)
            areas.append(screen->availableGeometry());
    } else {
        areas.append(primary->availableGeometry());
    }
    return areas;
}

} // namespace RdpMonitorLayout
