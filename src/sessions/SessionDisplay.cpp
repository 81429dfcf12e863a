#include "SessionListWidget.h"

#include "SessionsLogging.h"

void SessionListWidget::startDisplay(const QJsonObject& result, const QString& sessionId,
                                     const QString& displayName)
{
    qCDebug(lcSessions) << "display of session" << sessionId << displayName << "port"
                        << result.value(QStringLiteral("port")).toInt();
}
