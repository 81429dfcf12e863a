#include "PendingCalls.h"

PendingCalls::PendingCalls(JsonRpcHandler* handler)
    : m_handler(handler)
{
}

PendingCalls::~PendingCalls()
{
    cancelAll();
}

void PendingCalls::call(const QString& method, const QJsonObject& params, QObject* receiver,
                        JsonRpcCallback callback)
{
    if (!m_handler)
        return;
    QPointer<QObject> guard(receiver);
    m_ids.insert(m_handler->call(
        method, params,
        [guard, callback](const QString& id, const QJsonValue& result, const QJsonValue& error) {
            if (guard)
                callback(id, result, error);
        }));
}

void PendingCalls::cancelAll()
{
    if (m_handler) {
        for (const QString& id : qAsConst(m_ids))
            m_handler->cancel(id);
    }
    m_ids.clear();
}
