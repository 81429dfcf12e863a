#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include "DisplayLog.h"
#include "DisplayServer.h"

#include <winpr/wlog.h>

#include <cstdio>

// zentu2_display: the RDP server of one session's X display.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The library reports every client that hangs up or sends nonsense as a
    // transport error, and every one that starts as security it negotiated,
    // several lines each; the server logs its clients itself.
    WLog_AddStringLogFilters("com.freerdp.core:FATAL,com.freerdp.core.transport:FATAL,"
                             "com.freerdp.core.connection:WARN");
    // The library's lines share the session log with ours, in order.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("RDP server of one session display"));
    parser.addHelpOption();
    const QCommandLineOption display(QStringLiteral("display"), QStringLiteral("X display"), QStringLiteral("name"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("loopback port, 0 for any free one"),
                                  QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption portFile(QStringLiteral("port-file"),
                                      QStringLiteral("file that receives the port once listening"),
                                      QStringLiteral("file"));
    const QCommandLineOption passwordFile(QStringLiteral("password-file"),
                                          QStringLiteral("file holding the session password"),
                                          QStringLiteral("file"));
    const QCommandLineOption key(QStringLiteral("key"), QStringLiteral("RSA key (PEM)"), QStringLiteral("file"));
    const QCommandLineOption state(QStringLiteral("state-file"),
                                   QStringLiteral("file that receives the client count"),
                                   QStringLiteral("file"));
    const QCommandLineOption rootless(QStringLiteral("rootless"),
                                      QStringLiteral("no desktop: each window of the session on its own"));
    parser.addOptions({ display, port, portFile, passwordFile, key, state, rootless });
    parser.process(app);

    DisplayConfig config;
    config.display = parser.value(display);
    bool portOk = false;
    config.port = parser.value(port).toInt(&portOk);
    config.keyFile = parser.value(key);
    config.stateFile = parser.value(state);
    config.portFile = parser.value(portFile);
    config.rootless = parser.isSet(rootless);
    QFile password(parser.value(passwordFile));
    if (!password.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "zentu2_display: cannot read the password file\n");
        return 2;
    }
    config.password = password.readAll().trimmed();
    if (config.display.isEmpty() || !portOk || config.port < 0 || config.port > 65535
        || config.keyFile.isEmpty() || config.password.isEmpty()) {
        std::fprintf(stderr, "zentu2_display: --display, --password-file and --key are required\n");
        return 2;
    }
    // The keyboard mapping reads the layout of the display named here.
    qputenv("DISPLAY", config.display.toLocal8Bit());

    DisplayServer server(config);
    QString error;
    if (!server.start(&error)) {
        qCCritical(lcDisplay) << error;
        return 2;
    }
    return server.run();
}
