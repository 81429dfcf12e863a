// The road from a start or connect reply to a running session display.
#include "SessionListWidget.h"

#include "CloseHelper.h"
#include "FailureBox.h"
#include "JsonRpcHandler.h"
#include "RdpExitCode.h"
#include "RdpInstance.h"
#include "SessionModel.h"
#include "SshDevice.h"

#include <QCoreApplication>

namespace {

// Tells the user how a display ended, by its exit code.
void reportDisplayEnd(const RdpInstance* instance)
{
    switch (RdpExitCode::endOf(instance->exitCode())) {
    case RdpExitCode::End::Quiet:
        return;
    case RdpExitCode::End::Unreachable:
        showFailureBox(SessionListWidget::tr("There was a problem connecting to the session."),
                       SessionListWidget::tr("Make sure it is still running and that SSH tunneling is enabled."));
        return;
    case RdpExitCode::End::TakenOver:
        showFailureBox(SessionListWidget::tr("The session was taken over by another connection."),
                       SessionListWidget::tr("It is now shown there. Connect again to show it here."));
        return;
    case RdpExitCode::End::Unexpected:
        showFailureBox(SessionListWidget::tr("Oops! We are not sure what happened here."),
                       SessionListWidget::tr("Please contact %1 support if this happens again.")
                           .arg(QCoreApplication::organizationName()));
        return;
    }
}

// The reply's port; anything that is not a port number gives 0, which the
// display reports as a failure to connect.
quint16 replyPort(const QJsonObject& result)
{
    const QJsonValue value = result.value(QStringLiteral("port"));
    if (!value.isDouble())
        return 0;
    const int port = value.toInt(-1);
    return port >= 0 && port <= 65535 ? static_cast<quint16>(port) : 0;
}

} // namespace

void SessionListWidget::startDisplay(const QJsonObject& result, const QString& sessionId,
                                     const QString& displayName)
{
    const quint16 port = replyPort(result);
    const QString password = result.value(QStringLiteral("password")).toString();
    const QString geometry = result.value(QStringLiteral("geometry")).toString();
    const QString windowMode = result.value(QStringLiteral("windowMode")).toString();

    JsonRpcHandler* handler = m_calls.handler();
    if (!handler)
        return;
    auto* device = qobject_cast<SshDevice*>(handler->device());
    if (!device)
        return;
    // The display's password travels in the clear to whatever answers on the
    // forward's port: never to anything but this login's own ssh.
    QString tunnelError;
    if (!device->checkTunnel(&tunnelError)) {
        showFailureBox(tr("There was a problem connecting to the session."), tunnelError);
        return;
    }

    auto* instance = new RdpInstance;
    connect(instance, &RdpInstance::finished, instance, &QObject::deleteLater);
    connect(instance, &RdpInstance::finished, instance, [instance] { reportDisplayEnd(instance); });
    CloseHelper::instance()->addObject(instance);
    ++m_displays;
    connect(instance, &QObject::destroyed, this, &SessionListWidget::displayDestroyed);
    connect(instance, &RdpInstance::connected, m_model, &SessionModel::forceUpdate);
    connect(instance, &RdpInstance::finished, m_model, &SessionModel::forceUpdate);

    QVariantMap params;
    params.insert(QStringLiteral("RemoteHost"), device->realHost());
    params.insert(QStringLiteral("SessionId"), sessionId);
    params.insert(QStringLiteral("SshHost"), device->realHost());
    params.insert(QStringLiteral("SshPort"), static_cast<int>(device->port()));

    instance->start(device->realHost(), port, device->user(), password, device->tunnelPort(),
                    windowMode == QLatin1String("rootless") ? windowMode : geometry, displayName, false,
                    params);
}
