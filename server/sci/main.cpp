// Stand-in for the server command interface: JSON-RPC over standard input
// and output, run as the remote command of an ssh login.
#include <QCoreApplication>

#include "SciServer.h"
#include "SessionMethods.h"

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zentu2_sci"));

    SciServer server;
    registerCoreMethods(server);
    registerSessionMethods(server);
    QObject::connect(&server, &SciServer::finished, &app, &QCoreApplication::exit, Qt::QueuedConnection);
    server.start();
    return app.exec();
}
