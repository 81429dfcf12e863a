// "cmake --install" of the build into a temporary prefix gives a working
// installation: the program behind bin/zentu finds its shared data and
// licence pages relative to itself.
#include "InstalledTree.h"

#include <QProcess>
#include <QTemporaryDir>
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

    InstalledTree::verifyClientFiles(prefix.path());
    if (QTest::currentTestFailed())
        return;
    InstalledTree::verifyStartsWithGlobalConnection(prefix.path());
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
