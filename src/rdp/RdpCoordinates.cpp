#include "RdpCoordinates.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

RdpScale RdpScale::fromFactor(double factor)
{
    if (factor == 0.5)
        return {0.5, 2.0};
    if (factor == 2.0)
        return {2.0, 0.5};
    return {1.0, 1.0};
}

namespace RdpCoordinates {

namespace {

int scaled(int value, double factor)
{
    return static_cast<int>(std::floor(value * factor));
}

QRect fromCorners(int left, int top, int right, int bottom)
{
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

} // namespace

QPoint localToRemote(const QPoint& point, double scale)
{
    return {scaled(point.x(), scale), scaled(point.y(), scale)};
}

QPoint remoteToLocal(const QPoint& point, double inverse)
{
    return {scaled(point.x(), inverse), scaled(point.y(), inverse)};
}

QRect localToRemote(const QRect& rect, double scale)
{
    const int l = rect.left(), t = rect.top(), r = rect.right(), b = rect.bottom();
    if (scale < 1.0)
        return fromCorners(scaled(l, scale), scaled(t, scale), scaled(r - 1, scale), scaled(b - 1, scale));
    if (scale > 1.0)
        return fromCorners(scaled(l, scale), scaled(t, scale), scaled(r + 1, scale) - 1,
                           scaled(b + 1, scale) - 1);
    return rect;
}

QRect remoteToLocal(const QRect& rect, double inverse)
{
    const int l = rect.left(), t = rect.top(), r = rect.right(), b = rect.bottom();
    if (inverse < 1.0)
        return fromCorners(scaled(l, inverse), scaled(t, inverse), scaled(r, inverse), scaled(b, inverse));
    if (inverse > 1.0)
        return fromCorners(scaled(l, inverse), scaled(t, inverse), scaled(r + 1, inverse) - 1,
                           scaled(b + 1, inverse) - 1);
    return rect;
}

QRectF localToRemote(const QRectF& rect, double scale)
{
    return {rect.x() * scale, rect.y() * scale, rect.width() * scale, rect.height() * scale};
}

QPoint globalToRemote(const QPoint& point, double scale, const QPoint& desktopOrigin)
{
    return localToRemote(point, scale) - desktopOrigin;
}

QPoint remoteToGlobal(const QPoint& point, double inverse, const QPoint& desktopOrigin)
{
    return remoteToLocal(point, inverse) + desktopOrigin;
}

QRect globalToRemote(const QRect& rect, double scale, const QPoint& desktopOrigin)
{
    return localToRemote(rect, scale).translated(-desktopOrigin);
}

QRect remoteToGlobal(const QRect& rect, double inverse, const QPoint& desktopOrigin)
{
    return remoteToLocal(rect, inverse).translated(desktopOrigin);
}

QRectF globalToRemote(const QRectF& rect, double scale, const QPoint& desktopOrigin)
{
    return localToRemote(rect, scale).translated(-QPointF(desktopOrigin));
}

QRect virtualDesktop()
{
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary)
        return QRect(0, 0, 1024, 768);
    if (primary->virtualSiblings().size() > 1)
        return primary->virtualGeometry();
    return primary->geometry();
}

QSize remoteDesktopSize(const QRect& desktop, double scale)
{
    const QRect remote = localToRemote(desktop.translated(-desktop.topLeft()), scale);
    return {remote.right() - remote.left() + 1, remote.bottom() - remote.top() + 1};
}

} // namespace RdpCoordinates
