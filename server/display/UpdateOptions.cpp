#include "UpdateOptions.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

QByteArray UpdateOptions::toJson() const
{
    QJsonObject o;
    o.insert(QStringLiteral("BandwidthThrottleAdjust"), bandwidthThrottleAdjust);
    o.insert(QStringLiteral("Compression"), compression);
    o.insert(QStringLiteral("FPSLimit"), fpsLimit);
    o.insert(QStringLiteral("FrameAcknowledgeWindow"), frameAckWindow);
    o.insert(QStringLiteral("CompressionMax"), CompressionMax);
    o.insert(QStringLiteral("FPSLimitMax"), FpsLimitMax);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

namespace {

bool readInt(const QJsonObject& o, const QString& key, int min, int max, int* out, QString* error)
{
    const auto it = o.find(key);
    if (it == o.end())
        return true;
    const double v = it->toDouble(std::nan(""));
    if (!it->isDouble() || std::floor(v) != v || v < min || v > max) {
        *error = QStringLiteral("%1 must be an integer from %2 to %3").arg(key).arg(min).arg(max);
        return false;
    }
    *out = int(v);
    return true;
}

} // namespace

bool UpdateOptions::apply(const QByteArray& json, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (!doc.isObject()) {
        *error = QStringLiteral("options must be a JSON object");
        return false;
    }
    const QJsonObject o = doc.object();
    UpdateOptions next = *this;
    const auto throttle = o.find(QStringLiteral("BandwidthThrottleAdjust"));
    if (throttle != o.end()) {
        if (!throttle->isBool()) {
            *error = QStringLiteral("BandwidthThrottleAdjust must be a boolean");
            return false;
        }
        next.bandwidthThrottleAdjust = throttle->toBool();
    }
    if (!readInt(o, QStringLiteral("Compression"), 0, CompressionMax, &next.compression, error)
        || !readInt(o, QStringLiteral("FPSLimit"), 1, FpsLimitMax, &next.fpsLimit, error)
        || !readInt(o, QStringLiteral("FrameAcknowledgeWindow"), 0, FrameAckWindowMax,
                    &next.frameAckWindow, error))
        return false;
    if (next.bandwidthThrottleAdjust) {
        next.compression = AutomaticCompression;
        next.fpsLimit = AutomaticFps;
    }
    *this = next;
    return true;
}

bool UpdateOptions::operator==(const UpdateOptions& other) const
{
    return bandwidthThrottleAdjust == other.bandwidthThrottleAdjust
        && compression == other.compression && fpsLimit == other.fpsLimit
        && frameAckWindow == other.frameAckWindow;
}
