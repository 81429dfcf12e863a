#pragma once

#include <QPoint>
#include <QRect>
#include <QRectF>

// Remote pixels per local pixel (scale) and its inverse. Only 0.5, 1 and 2
// are used; any other stored factor falls back to 1.
struct RdpScale
{
    double scale = 1.0;
    double inverse = 1.0;

    static RdpScale fromFactor(double factor);
};

// Mapping between local widget pixels, global screen pixels and remote
// desktop pixels. Rectangles are inclusive corner rectangles.
namespace RdpCoordinates {

QPoint localToRemote(const QPoint& point, double scale);
QPoint remoteToLocal(const QPoint& point, double inverse);
QRect localToRemote(const QRect& rect, double scale);
QRect remoteToLocal(const QRect& rect, double inverse);
QRectF localToRemote(const QRectF& rect, double scale);

// The virtual desktop's top-left corner is subtracted or added unscaled.
QPoint globalToRemote(const QPoint& point, double scale, const QPoint& desktopOrigin);
QPoint remoteToGlobal(const QPoint& point, double inverse, const QPoint& desktopOrigin);
QRect globalToRemote(const QRect& rect, double scale, const QPoint& desktopOrigin);
QRect remoteToGlobal(const QRect& rect, double inverse, const QPoint& desktopOrigin);
QRectF globalToRemote(const QRectF& rect, double scale, const QPoint& desktopOrigin);

// The primary screen, or the union of all screens on a virtual desktop.
QRect virtualDesktop();
// The virtual desktop moved to 0,0 and scaled to remote pixels.
QSize remoteDesktopSize(const QRect& desktop, double scale);

} // namespace RdpCoordinates
