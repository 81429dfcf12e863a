#pragma once

#include "JsonRpcHandler.h"

#include <QPointer>
#include <QSet>

class QObject;

// The JSON-RPC requests one object has sent and not yet seen answered. A
// reply reaches its callback only while the receiver lives, and the
// requests still outstanding are cancelled when the tracker goes, so no
// reply can reach a destroyed owner.
class PendingCalls
{
public:
    explicit PendingCalls(JsonRpcHandler* handler);
    ~PendingCalls();
    PendingCalls(const PendingCalls&) = delete;
    PendingCalls& operator=(const PendingCalls&) = delete;

    // Null once the connection has ended.
    JsonRpcHandler* handler() const { return m_handler; }

    // Sends the request and records its id; does nothing once the handler
    // is gone. The reply handler must remove the id again (remove()).
    void call(const QString& method, const QJsonObject& params, QObject* receiver,
              JsonRpcCallback callback);
    void remove(const QString& id) { m_ids.remove(id); }
    // Drops every outstanding request: its callback never runs.
    void cancelAll();

    bool isEmpty() const { return m_ids.isEmpty(); }
    int size() const { return m_ids.size(); }

private:
    QPointer<JsonRpcHandler> m_handler;
    QSet<QString> m_ids;
};
