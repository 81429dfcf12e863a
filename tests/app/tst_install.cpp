// "cmake --install" of the build into a temporary prefix gives a working
// installation: the program behind bin/zentu finds its shared data and
// licence pages relative to itself.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void installsWorkingTree();
};

void TestInstall::installsWorkingTree()
{
    QTemporaryDir prefix;
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(ZENTU_CMAKE_COMMAND),
                  {QStringLiteral("--install"), QStringLiteral(ZENTU_BUILD_DIR),
                   QStringLiteral("--prefix"), prefix.path()});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitCode() == 0, install.readAll().constData());

    const QDir root(prefix.path());
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

    // A system installation lists the global connections in share/Zentu.
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
    // Stopped by pid whatever the outcome of the checks below.
    const auto stop = qScopeGuard([&program]() {
        program.kill();
        program.waitForFinished(10000);
    });
    program.setProcessEnvironment(environment);
    QByteArray log;
    connect(&program, &QProcess::readyReadStandardError, this,
            [&]() { log += program.readAllStandardError(); });
    program.start(link.filePath(), QStringList());
    const QByteArray expected = "listing 1 connections from " + QDir::cleanPath(global).toUtf8();
    QTRY_VERIFY2_WITH_TIMEOUT(log.contains(expected), log.constData(), 30000);
    QCOMPARE(program.state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
