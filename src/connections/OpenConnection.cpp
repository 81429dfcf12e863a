#include "ConnectionListWidget.h"

#include "ConnectionsLogging.h"

void ConnectionListWidget::openConnection(const Connection& connection)
{
    qCDebug(lcConnections) << "open connection" << connection.uid() << connection.host();
}
