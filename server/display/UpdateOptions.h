#pragma once

#include <QByteArray>
#include <QString>

// The session's screen-update settings, as reported on "qzcfg".
struct UpdateOptions
{
    static constexpr int CompressionMax = 3;
    static constexpr int FpsLimitMax = 60;
    static constexpr int FrameAckWindowMax = 60;
    // The server's own choice while it adjusts by itself.
    static constexpr int AutomaticCompression = 0;
    static constexpr int AutomaticFps = 30;

    bool bandwidthThrottleAdjust = true;
    int compression = AutomaticCompression;
    int fpsLimit = AutomaticFps;
    int frameAckWindow = 0;

    QByteArray toJson() const;
    // Applies a set-options request. Every key present must have the right type
    // and range; on any error nothing changes. Turning the automatic
    // adjustment on brings back the server's own compression and frame rate.
    bool apply(const QByteArray& json, QString* error);

    bool operator==(const UpdateOptions& other) const;
    bool operator!=(const UpdateOptions& other) const { return !(*this == other); }
};
