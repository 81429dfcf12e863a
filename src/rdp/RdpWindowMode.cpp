#include "RdpWindowMode.h"

#include <QStringList>

RdpWindowMode RdpWindowMode::parse(const QString& mode)
{
    RdpWindowMode result;
    if (mode == QLatin1String("rootless")) {
        result.kind = Rootless;
        return result;
    }
    if (mode == QLatin1String("fullscreen")) {
        result.kind = Fullscreen;
        return result;
    }
    const QStringList parts = mode.split(QLatin1Char('x'), Qt::KeepEmptyParts, Qt::CaseSensitive);
    int width = 0;
    int height = 0;
    if (parts.size() == 2) {
        width = parts.at(0).toInt();
        height = parts.at(1).toInt();
    }
    // Negative or absurd sizes would make the library refuse the connection.
    if (width <= 0 || width > 8192)
        width = 1024;
    if (height <= 0 || height > 8192)
        height = 768;
    result.width = width;
    result.height = height;
    return result;
}
