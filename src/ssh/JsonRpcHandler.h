#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

#include "NetString.h"

class QIODevice;

// Reply callback: (request id, "result", "error"); members missing from the
// reply arrive as undefined values.
using JsonRpcCallback = std::function<void(const QString& id, const QJsonValue& result, const QJsonValue& error)>;

// JSON-RPC 2.0 client of the server command interface. Skips the login
// output up to the marker line, then exchanges netstring-framed messages on
// the device. A broken stream fails the handler for good and closes the
// device; pending callbacks are then never invoked.
class JsonRpcHandler : public QObject
{
    Q_OBJECT

public:
    enum State { Waiting = 0, Reading = 1, Failed = 2 };

    static const QByteArray Marker;

    explicit JsonRpcHandler(QIODevice* device, QObject* parent = nullptr);

    // Sends one request and returns its id. The callback runs once, when the
    // matching reply arrives, unless the id is cancelled first.
    QString call(const QString& method, const QJsonObject& params, JsonRpcCallback callback);
    void cancel(const QString& id);

    bool isValid() const;
    QString errorString() const;
    QIODevice* device() const;
    State state() const;
    int pendingCount() const;

public slots:
    void on_Device_readyRead();

private:
    // Both return false when reading must stop (failure or handler gone).
    bool readMarker();
    bool readFrames();
    bool takeFrames();
    bool handleReply(const QByteArray& payload);
    void fail(const QString& message);

    QPointer<QIODevice> m_device;
    NetStringBuffer m_buffer;
    State m_state = Waiting;
    QString m_errorString;
    QMap<QString, JsonRpcCallback> m_pending;
};
