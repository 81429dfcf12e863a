#include "InstalledTree.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

namespace InstalledTree {

void verifyClientFiles(const QString& prefix)
{
    const QDir root(prefix);
    const QFileInfo link(root.filePath(QStringLiteral("bin/zentu")));
    QVERIFY(link.isSymLink());
    QCOMPARE(link.symLinkTarget(), root.filePath(QStringLiteral("lib/Zentu/bin/Zentu")));
    QVERIFY(QFileInfo(root.filePath(QStringLiteral("lib/Zentu/bin/Zentu"))).isExecutable());
    QVERIFY(QFileInfo(root.filePath(QStringLiteral("lib/Zentu/bin/askpass"))).isExecutable());
    QVERIFY(QFile::exists(root.filePath(QStringLiteral("share/applications/zentu.desktop"))));
    QVERIFY(QFile::exists(root.filePath(QStringLiteral("share/icons/hicolor/256x256/apps/zentu.png"))));
    for (const char* component : {"Qt", "FreeRDP", "OpenSSH", "OpenSSL", "Ion Icons"}) {
        QFile page(root.filePath(QStringLiteral("lib/Zentu/doc/%1 License.html").arg(QLatin1String(component))));
        QVERIFY2(page.open(QIODevice::ReadOnly), component);
        const QByteArray html = page.readAll();
        QVERIFY(html.contains("<pre>"));
        QVERIFY(html.size() > 500);
    }
}

void verifyStartsWithGlobalConnection(const QString& prefix)
{
    // A system installation lists the global connections in share/Zentu.
    const QDir root(prefix);
    const QString global = root.filePath(QStringLiteral("share/Zentu/Connections"));
    QVERIFY(QDir().mkpath(global));
    const QString uid = QUuid::createUuid().toString();
    QFile file(QDir(global).filePath(uid + QStringLiteral(".rv32")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("<SshConnection>\n <Uid>%1</Uid>\n <Name>Installed</Name>\n</SshConnection>\n")
                   .arg(uid).toUtf8());
    file.close();

    QTemporaryDir home;
    const QString runtime = home.filePath(QStringLiteral("run"));
    QVERIFY(QDir().mkpath(runtime));
    QVERIFY(QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("zentu.*.debug=true"));
    QProcess program;
    // Declared before the guard: output read while the guard waits for the
    // program still has somewhere to go.
    QByteArray log;
    // Stopped by pid whatever the outcome of the checks below.
    const auto stop = qScopeGuard([&program]() {
        program.kill();
        program.waitForFinished(10000);
    });
    program.setProcessEnvironment(environment);
    QObject::connect(&program, &QProcess::readyReadStandardError, &program,
                     [&]() { log += program.readAllStandardError(); });
    program.start(root.filePath(QStringLiteral("bin/zentu")), QStringList());
    const QByteArray expected = "listing 1 connections from " + QDir::cleanPath(global).toUtf8();
    QTRY_VERIFY2_WITH_TIMEOUT(log.contains(expected), log.constData(), 30000);
    QCOMPARE(program.state(), QProcess::Running);
}

} // namespace InstalledTree
