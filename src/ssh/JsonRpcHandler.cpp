#include "JsonRpcHandler.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QJsonDocument>

#include "JsonRepeatedKey.h"
#include "RandomToken.h"
#include "SshLogging.h"

const QByteArray JsonRpcHandler::Marker = QByteArrayLiteral("---- BEGIN Zentu NetString ----");

JsonRpcHandler::JsonRpcHandler(QIODevice* device, QObject* parent)
    : QObject(parent)
    , m_device(device)
{
    if (device)
        connect(device, &QIODevice::readyRead, this, &JsonRpcHandler::on_Device_readyRead);
}

QString JsonRpcHandler::call(const QString& method, const QJsonObject& params, JsonRpcCallback callback)
{
    QString id;
    QString error;
    if (!randomToken(&id, &error))
        qCWarning(lcSsh) << "No request id for" << method << error;
    // QJsonObject keeps its members sorted by key, so the text is compact and
    // in lexicographic member order.
    const QJsonObject request{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                              {QStringLiteral("id"), id},
                              {QStringLiteral("method"), method},
                              {QStringLiteral("params"), params}};
    const QByteArray frame = encodeNetString(QJsonDocument(request).toJson(QJsonDocument::Compact));
    // A request on a closed channel is kept pending like any other; writing
    // it would only draw a warning from the device.
    if (m_device && m_device->isWritable())
        m_device->write(frame);
    m_pending.insert(id, std::move(callback));
    return id;
}

void JsonRpcHandler::cancel(const QString& id)
{
    m_pending.remove(id);
}

bool JsonRpcHandler::isValid() const
{
    return m_state != Failed;
}

QString JsonRpcHandler::errorString() const
{
    return m_errorString;
}

QIODevice* JsonRpcHandler::device() const
{
    return m_device;
}

JsonRpcHandler::State JsonRpcHandler::state() const
{
    return m_state;
}

int JsonRpcHandler::pendingCount() const
{
    return m_pending.size();
}

void JsonRpcHandler::on_Device_readyRead()
{
    // Callbacks run from here and may destroy this handler or its device.
    const QPointer<JsonRpcHandler> self(this);
    while (self && m_state != Failed && m_device && m_device->bytesAvailable() > 0) {
        const bool goOn = m_state == Waiting ? readMarker() : readFrames();
        if (!goOn)
            return;
    }
}

bool JsonRpcHandler::readMarker()
{
    while (m_state == Waiting && m_device->bytesAvailable() > 0) {
        m_buffer.append(m_device->read(NetStringBuffer::ReadChunk));
        const int index = m_buffer.indexOf(Marker);
        if (index < 0) {
            // Keep enough to find a marker that is split across reads.
            m_buffer.keepLast(Marker.size());
            continue;
        }
        m_buffer.discard(index + Marker.size());
        m_state = Reading;
        return takeFrames();
    }
    return true;
}

bool JsonRpcHandler::readFrames()
{
    while (m_state == Reading && m_device && m_device->bytesAvailable() > 0) {
        m_buffer.append(m_device->read(NetStringBuffer::ReadChunk));
        if (!takeFrames())
            return false;
    }
    return true;
}

bool JsonRpcHandler::takeFrames()
{
    const QPointer<JsonRpcHandler> self(this);
    for (;;) {
        QByteArray payload;
        const NetStringBuffer::Outcome outcome = m_buffer.takeFrame(&payload);
        if (outcome == NetStringBuffer::NeedMore)
            return true;
        if (outcome != NetStringBuffer::Payload) {
            fail(NetStringBuffer::errorString(outcome));
            return false;
        }
        if (!handleReply(payload) || !self || m_state == Failed)
            return false;
    }
}

bool JsonRpcHandler::handleReply(const QByteArray& payload)
{
    // A repeated member is refused before the parser can lose its memory.
    const QJsonDocument document =
        jsonHasRepeatedKey(payload) ? QJsonDocument() : QJsonDocument::fromJson(payload);
    if (!document.isObject()) {
        fail(tr("Got invalid JSON"));
        return false;
    }
    const QJsonObject reply = document.object();
    if (reply.value(QStringLiteral("jsonrpc")).toString() != QLatin1String("2.0"))
        return true;
    const QJsonValue idValue = reply.value(QStringLiteral("id"));
    if (!idValue.isString())
        return true;
    const QString id = idValue.toString();
    // The entry goes before the callback runs, so the callback may call again.
    const JsonRpcCallback callback = m_pending.take(id);
    if (callback)
        callback(id, reply.value(QStringLiteral("result")), reply.value(QStringLiteral("error")));
    return true;
}

void JsonRpcHandler::fail(const QString& message)
{
    qCWarning(lcSsh) << "Command channel failed:" << message;
    m_state = Failed;
    m_errorString = message;
    // Closing may end the connection and destroy this handler with it.
    if (m_device)
        m_device->close();
}
