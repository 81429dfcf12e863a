#include "ConnectionListWidget.h"

#include "AskpassHandler.h"
#include "ConnectionFailure.h"
#include "ConnectionsLogging.h"
#include "JsonRpcHandler.h"
#include "OperationStatusDialog.h"
#include "SessionListWidget.h"
#include "SshDevice.h"

#include <QLocalServer>

void ConnectionListWidget::openConnection(const Connection& connection)
{
    auto* device = new SshDevice;
    connect(device, &SshDevice::finished, device, &QObject::deleteLater);
    auto* handler = new JsonRpcHandler(device, device);
    connect(device, &SshDevice::finished, handler,
            [device, handler]() { reportConnectionFailure(device, handler); });

    auto* askpassServer = new QLocalServer(device);
    QString error;
    if (!listenAskpassServer(askpassServer, &error))
        qCWarning(lcConnections) << "askpass server not listening:" << error;

    auto* window = new SessionListWidget(handler, nullptr);
    connect(device, &SshDevice::finished, window, &QObject::deleteLater);
    connect(device, &SshDevice::connected, window, &SessionListWidget::startUpdating);
    window->setObjectName(windowKey(connection.uid(), QStringLiteral("SessionListWidget")));
    window->setWindowTitle(tr("%1 (%2)").arg(connection.name(), connection.host()));

    auto* status = new OperationStatusDialog(window);
    connect(askpassServer, &QLocalServer::newConnection, status,
            &OperationStatusDialog::handleNewAskpassConnections);
    connect(window, &SessionListWidget::gotVersion, status, &QObject::deleteLater);
    connect(status, &QDialog::rejected, window, &QWidget::close);

    const QString command =
        connection.sci().isEmpty() ? QStringLiteral("zentu2_sci") : connection.sci();
    qCDebug(lcConnections) << "opening" << connection.uid() << connection.host() << command;
    device->start(connection.host(), connection.port(), connection.user(), command,
                  connection.fips(), askpassServer->fullServerName());

    window->show();
    window->activateWindow();
    registerWindow(window);
    status->open();
}
