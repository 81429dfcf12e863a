// Joining a shared session from a sharing key, directly or through an SSH
// login of the user's own.
#include "JoinSessionDialog.h"

#include "AskpassHandler.h"
#include "CloseHelper.h"
#include "ConnectionFailure.h"
#include "ConnectionsLogging.h"
#include "FailureBox.h"
#include "JsonRpcHandler.h"
#include "OperationStatusDialog.h"
#include "RdpExitCode.h"
#include "RdpInstance.h"
#include "RdpSharingKey.h"
#include "SshDevice.h"

#include <QCoreApplication>
#include <QLocalServer>

#include <algorithm>
#include <memory>

namespace {

void reportJoinEnd(const RdpInstance* instance)
{
    switch (RdpExitCode::endOf(instance->exitCode())) {
    case RdpExitCode::End::Quiet:
        return;
    case RdpExitCode::End::Unreachable:
        showFailureBox(JoinSessionDialog::tr("There was a problem joining the session."),
                       JoinSessionDialog::tr("Make sure it is still running and that SSH tunneling is enabled."));
        return;
    case RdpExitCode::End::TakenOver:
    case RdpExitCode::End::Unexpected:
        showFailureBox(JoinSessionDialog::tr("Oops! We are not sure what happened here."),
                       JoinSessionDialog::tr("Please contact %1 support if this happens again.")
                           .arg(QCoreApplication::organizationName()));
        return;
    }
}

RdpInstance* newJoinInstance()
{
    auto* instance = new RdpInstance;
    QObject::connect(instance, &RdpInstance::finished, instance, &QObject::deleteLater);
    QObject::connect(instance, &RdpInstance::finished, instance, [instance] { reportJoinEnd(instance); });
    CloseHelper::instance()->addObject(instance);
    return instance;
}

void clear(QString* text)
{
    std::fill(text->begin(), text->end(), QChar());
}

void launchThroughTunnel(SshDevice* device, quint16 rdpPort, const QString& name, const QString& password)
{
    // The sharing password travels in the clear to whatever answers on the
    // forward's port: never to anything but this login's own ssh.
    QString error;
    if (!device->checkTunnel(&error)) {
        showFailureBox(JoinSessionDialog::tr("There was a problem joining the session."), error);
        device->deleteLater();
        return;
    }
    RdpInstance* instance = newJoinInstance();
    // The tunnel ends with the session.
    QObject::connect(instance, &RdpInstance::finished, device, &QObject::deleteLater);
    QVariantMap params;
    params.insert(QStringLiteral("RemoteHost"), device->realHost());
    instance->start(device->realHost(), rdpPort, name, password, device->tunnelPort(), QStringLiteral("1024x768"),
                    JoinSessionDialog::tr("Viewing %1:%2").arg(device->realHost()).arg(rdpPort), false, params);
}

} // namespace

void joinSession(const QString& sharingKey, const QString& name, bool fips)
{
    RdpSharingKey key;
    QString error;
    if (!RdpSharingKey::decode(sharingKey, &key, &error)) {
        showFailureBox(JoinSessionDialog::tr("There was a problem joining the session."), error);
        return;
    }
    if (key.direct) {
        RdpInstance* instance = newJoinInstance();
        QVariantMap params;
        params.insert(QStringLiteral("RemoteHost"), key.hostname);
        qCDebug(lcConnections) << "joining directly" << key.hostname << key.rdpPort;
        instance->start(key.hostname, key.rdpPort, name, key.password, 0, key.windowMode,
                        JoinSessionDialog::tr("Viewing %1:%2").arg(key.hostname).arg(key.rdpPort), true, params);
        clear(&key.password);
        return;
    }

    auto* device = new SshDevice;
    QObject::connect(device, &SshDevice::finished, device, &QObject::deleteLater);
    auto* handler = new JsonRpcHandler(device, device);
    QObject::connect(device, &SshDevice::finished, handler, [device, handler] { reportConnectionFailure(device, handler); });
    // The password waits for the login in a copy of its own, overwritten once
    // handed to the display or when the login goes.
    const quint16 rdpPort = key.rdpPort;
    auto password = std::make_shared<QString>(key.password.constData(), key.password.size());
    clear(&key.password);
    QObject::connect(device, &SshDevice::connected, device, [device, rdpPort, name, password] {
        launchThroughTunnel(device, rdpPort, name, *password);
        clear(password.get());
    });
    QObject::connect(device, &QObject::destroyed, [password] { clear(password.get()); });

    auto* askpassServer = new QLocalServer(device);
    if (!listenAskpassServer(askpassServer, &error))
        qCWarning(lcConnections) << "askpass server not listening:" << error;

    auto* status = new OperationStatusDialog(nullptr);
    QObject::connect(askpassServer, &QLocalServer::newConnection, status,
                     &OperationStatusDialog::handleNewAskpassConnections);
    QObject::connect(device, &SshDevice::finished, status, &QObject::deleteLater);
    QObject::connect(device, &SshDevice::connected, status, &QObject::deleteLater);
    // Cancelling ends the login; a deleted device says nothing, so the
    // dialog goes by itself.
    QObject::connect(status, &QDialog::rejected, device, &QObject::deleteLater);
    QObject::connect(status, &QDialog::rejected, status, &QObject::deleteLater);

    qCDebug(lcConnections) << "joining through" << key.hostname << key.sshPort;
    // No user: ssh asks for the login name through the askpass relay. No
    // command: the login only carries the tunnel.
    device->start(key.hostname, key.sshPort, QString(), QString(), fips, askpassServer->fullServerName());
    status->setWindowTitle(JoinSessionDialog::tr("%1").arg(key.hostname));
    status->open();
}
