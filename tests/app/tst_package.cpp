// "cpack -G DEB" makes the client and the stand-in packages; unpacked into a
// scratch root (nothing is installed on the system), they hold exactly the
// expected files, depend on packages this system has, and the client starts
// from there and finds its global connections.
#include "InstalledTree.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray run(const QString& program, const QStringList& arguments, bool* ok, const QString& directory = QString())
{
    QProcess process;
    process.setWorkingDirectory(directory);
    process.start(program, arguments);
    *ok = process.waitForFinished(300000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
    const QByteArray output = process.readAllStandardOutput();
    if (!*ok)
        qWarning().noquote() << program << arguments << output << process.readAllStandardError();
    return output;
}

QString field(const QString& deb, const QString& name)
{
    bool ok = false;
    const QByteArray value = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb, name}, &ok);
    return ok ? QString::fromUtf8(value).simplified() : QString();
}

// The packages named in a Depends field that are not installed here, where
// an entry is met by any one of its alternatives.
QStringList unmetDependencies(const QString& depends)
{
    QStringList unmet;
    for (const QString& entry : depends.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool met = false;
        for (const QString& alternative : entry.split(QLatin1Char('|'))) {
            const QString name = alternative.trimmed().section(QLatin1Char(' '), 0, 0);
            bool ok = false;
            const QByteArray status = run(QStringLiteral("dpkg-query"),
                                          {QStringLiteral("-W"), QStringLiteral("-f=${Status}"), name}, &ok);
            met = met || (ok && status.endsWith("install ok installed"));
        }
        if (!met)
            unmet.append(entry.trimmed());
    }
    return unmet;
}

// The files and links of a package, without its directories.
QSet<QString> contents(const QString& deb)
{
    bool ok = false;
    const QByteArray listing = run(QStringLiteral("dpkg-deb"), {QStringLiteral("--contents"), deb}, &ok);
    QSet<QString> files;
    for (const QByteArray& line : listing.split('\n')) {
        if (line.isEmpty() || line.startsWith('d'))
            continue;
        // "<mode> <owner> <size> <date> <time> ./<path>[ -> <target>]"
        const QString text = QString::fromUtf8(line);
        const int path = text.indexOf(QStringLiteral(" ./"));
        files.insert(text.mid(path + 3).section(QStringLiteral(" -> "), 0, 0));
    }
    return files;
}

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT

private slots:
    void packagesInstallWorkingTrees();
};

void TestPackage::packagesInstallWorkingTrees()
{
    QTemporaryDir output;
    bool ok = false;
    run(QStringLiteral(ZENTU_CPACK_COMMAND),
        {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), output.path()}, &ok,
        QStringLiteral(ZENTU_BUILD_DIR));
    QVERIFY(ok);

    const QString version = QStringLiteral(ZENTU_VERSION);
    const QString client = output.filePath(QStringLiteral("zentu_%1_amd64.deb").arg(version));
    const QString standin = output.filePath(QStringLiteral("zentu-server-standin_%1_amd64.deb").arg(version));
    QVERIFY2(QFile::exists(client), qPrintable(QDir(output.path()).entryList().join(QLatin1Char(' '))));
    QVERIFY(QFile::exists(standin));
    qInfo().noquote() << "package sizes:" << QFileInfo(client).size() << QFileInfo(standin).size();

    QCOMPARE(field(client, QStringLiteral("Package")), QStringLiteral("zentu"));
    QCOMPARE(field(standin, QStringLiteral("Package")), QStringLiteral("zentu-server-standin"));
    const QString clientDepends = field(client, QStringLiteral("Depends"));
    const QString standinDepends = field(standin, QStringLiteral("Depends"));
    // Computed from the libraries the programs link, plus the programs they run.
    for (const char* name : {"libqt5widgets5", "libfreerdp-client2-2", "openssh-client", "libqt5svg5"})
        QVERIFY2(clientDepends.contains(QLatin1String(name)), qPrintable(clientDepends));
    for (const char* name : {"libfreerdp-server2-2", "tigervnc-standalone-server", "openssl"})
        QVERIFY2(standinDepends.contains(QLatin1String(name)), qPrintable(standinDepends));
    QCOMPARE(unmetDependencies(clientDepends), QStringList());
    QCOMPARE(unmetDependencies(standinDepends), QStringList());

    const QSet<QString> clientFiles{
        QStringLiteral("usr/bin/zentu"),
        QStringLiteral("usr/lib/Zentu/bin/Zentu"),
        QStringLiteral("usr/lib/Zentu/bin/askpass"),
        QStringLiteral("usr/lib/Zentu/doc/FreeRDP License.html"),
        QStringLiteral("usr/lib/Zentu/doc/Ion Icons License.html"),
        QStringLiteral("usr/lib/Zentu/doc/OpenSSH License.html"),
        QStringLiteral("usr/lib/Zentu/doc/OpenSSL License.html"),
        QStringLiteral("usr/lib/Zentu/doc/Qt License.html"),
        QStringLiteral("usr/share/applications/zentu.desktop"),
        QStringLiteral("usr/share/icons/hicolor/256x256/apps/zentu.png"),
    };
    QCOMPARE(contents(client), clientFiles);
    const QSet<QString> standinFiles{
        QStringLiteral("usr/bin/zentu2_display"),
        QStringLiteral("usr/bin/zentu2_session"),
        QStringLiteral("usr/bin/zentu2_sci"),
    };
    QCOMPARE(contents(standin), standinFiles);

    QTemporaryDir root;
    for (const QString& deb : {client, standin}) {
        run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), deb, root.path()}, &ok);
        QVERIFY(ok);
    }
    const QString prefix = root.filePath(QStringLiteral("usr"));
    QVERIFY(QFileInfo(root.filePath(QStringLiteral("usr/share/Zentu/Connections"))).isDir());
    // Each helper program runs from there (its libraries load) and says who it is.
    const QList<QPair<QString, QByteArray>> helpers{
        {QStringLiteral("usr/lib/Zentu/bin/askpass"), "TALVENE_ASKPASS_SERVER is not set"},
        {QStringLiteral("usr/bin/zentu2_sci"), "Welcome to the Zentu test server"},
        {QStringLiteral("usr/bin/zentu2_session"), "usage: zentu2_session"},
        {QStringLiteral("usr/bin/zentu2_display"), "zentu2_display: cannot read the password file"},
    };
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("TALVENE_ASKPASS_SERVER"));
    for (const auto& helper : helpers) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(root.filePath(helper.first), QStringList());
        QVERIFY2(process.waitForFinished(30000), qPrintable(helper.first));
        const QByteArray said = process.readAll();
        QVERIFY2(said.contains(helper.second), said.constData());
    }
    InstalledTree::verifyClientFiles(prefix);
    if (QTest::currentTestFailed())
        return;
    InstalledTree::verifyStartsWithGlobalConnection(prefix);
}

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
