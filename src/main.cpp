#include "CloseHelper.h"
#include "ConnectionListWidget.h"
#include "GlIntegrationSwitch.h"
#include "Installation.h"
#include "MainWindowHelper.h"
#include "SingleApplication.h"
#include "Translations.h"

#include <QCoreApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
    GlIntegrationSwitch glIntegration;
    SingleApplication app(QStringLiteral("%1 %2").arg(QStringLiteral("Zentu")).arg(2), argc, argv);
    glIntegration.release();
    QCoreApplication::setApplicationName(QStringLiteral("Zentu"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.0.23"));
    QCoreApplication::setOrganizationName(QStringLiteral("Talvene"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("talvene.com"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/resources/Zentu.png")));

    if (app.isRunning()) {
        app.sendMessage(QStringLiteral("RAISE"), 5000);
        return 0;
    }

    installTranslations();
    CloseHelper::instance();
    const QString programDirectory = QCoreApplication::applicationDirPath();
    const bool globalWritable = isDataDirectoryWritable(programDirectory);

    ConnectionListWidget window(userConnectionsDirectory(programDirectory),
                                globalConnectionsDirectory(programDirectory), nullptr,
                                globalWritable, demoConnectionsDirectory());
    window.setWindowTitle(QCoreApplication::translate("main", "Connections"));

    MainWindowHelper helper(&window);
    QObject::connect(&app, &SingleApplication::messageReceived, &helper,
                     &MainWindowHelper::activate);

    helper.activate();
    return app.exec();
}
