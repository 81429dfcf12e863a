#include "PolledTableModel.h"

#include <QTimer>

PolledTableModel::PolledTableModel(JsonRpcHandler* handler, QObject* parent)
    : SortedTableModel(parent)
    , m_calls(handler)
    , m_updateTimer(new QTimer(this))
{
    m_updateTimer->setObjectName(QStringLiteral("UpdateTimer"));
    connect(m_updateTimer, &QTimer::timeout, this, &PolledTableModel::on_UpdateTimer_timeout);
}

bool PolledTableModel::isUpdating() const
{
    return m_updateTimer->isActive();
}

void PolledTableModel::startUpdating()
{
    if (m_updateTimer->isActive())
        return;
    m_updateTimer->start(UpdateIntervalMs);
    requestList();
}

void PolledTableModel::forceUpdate()
{
    m_calls.cancelAll();
    m_updateTimer->start(UpdateIntervalMs);
    requestList();
}

void PolledTableModel::on_UpdateTimer_timeout()
{
    if (m_calls.isEmpty())
        requestList();
}
