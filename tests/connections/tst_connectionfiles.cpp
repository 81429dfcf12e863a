// Connection records, their files and the scan of the connection directories.
#include "Connection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include "ConnectionTestFiles.h"

#include <csignal>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString UidText = QStringLiteral("{6f0d1c2e-3b4a-4c5d-8e9f-a0b1c2d3e4f5}");

Connection fullConnection()
{
    Connection connection;
    connection.setUid(QUuid(UidText));
    connection.setName(QStringLiteral("Build <farm> & co"));
    connection.setHost(QStringLiteral("build.example.com"));
    connection.setPort(2200);
    connection.setUser(QStringLiteral("joe"));
    connection.setSci(QStringLiteral("bin/sci"));
    connection.setFips(true);
    return connection;
}

// Child mode of this program: write a large connection under a file-size
// limit, as a full disk or a quota would cut the write short.
int limitedWrite(const char* path, const char* limit)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit rl;
    rl.rlim_cur = rl.rlim_max = rlim_t(std::atol(limit));
    if (setrlimit(RLIMIT_FSIZE, &rl) != 0)
        return 3;
    Connection connection = fullConnection();
    connection.setName(QString(20000, QLatin1Char('n')));
    QString error;
    const bool ok = writeConnectionFile(QString::fromLocal8Bit(path), connection, &error);
    if (!ok && error.isEmpty())
        return 2;
    return ok ? 0 : 1;
}

} // namespace

class TestConnectionFiles : public QObject
{
    Q_OBJECT

private slots:
    void roundTripThroughFile();
    void minimalFileKeepsDefaults();
    void readsFieldsLeniently_data();
    void readsFieldsLeniently();
    void readRecordSurvivesSave_data();
    void readRecordSurvivesSave();
    void scanSkipsBadFiles_data();
    void scanSkipsBadFiles();
    void scanFetchesAndBlocksOnNothing_data();
    void scanFetchesAndBlocksOnNothing();
    void globalFileShadowsUserFile();
    void failedWriteReportsError();
    void cutShortWriteLeavesOldFileIntact();
    void removeReportsMissingFile();
};

void TestConnectionFiles::roundTripThroughFile()
{
    QTemporaryDir dir;
    const Connection connection = fullConnection();
    const QString path = dir.filePath(QStringLiteral("new/sub/") + Connection::fileName(connection.uid()));
    QString error;
    QVERIFY2(writeConnectionFile(path, connection, &error), qPrintable(error));
    QCOMPARE(QFileInfo(path).fileName(), UidText + QStringLiteral(".rv32"));
    QCOMPARE(readFile(path), QByteArray("<SshConnection>\n"
                                        " <Uid>{6f0d1c2e-3b4a-4c5d-8e9f-a0b1c2d3e4f5}</Uid>\n"
                                        " <Name>Build &lt;farm> &amp; co</Name>\n"
                                        " <Host>build.example.com</Host>\n"
                                        " <Port>2200</Port>\n"
                                        " <User>joe</User>\n"
                                        " <Sci>bin/sci</Sci>\n"
                                        " <Fips>true</Fips>\n"
                                        "</SshConnection>\n"));

    const ConnectionScan scan = scanConnectionFiles({dir.filePath(QStringLiteral("new/sub"))});
    QCOMPARE(scan.connections.size(), 1);
    QVERIFY(scan.connections.first() == connection);
    QCOMPARE(scan.files.value(connection.uid()), QDir::cleanPath(path));
}

void TestConnectionFiles::minimalFileKeepsDefaults()
{
    QDomDocument document;
    QVERIFY(document.setContent(minimalFile(UidText, QStringLiteral("Office"))));
    const Connection connection = Connection::fromXml(document);
    QVERIFY(connection.isValid());
    QCOMPARE(connection.name(), QStringLiteral("Office"));
    QCOMPARE(connection.port(), quint16(22));
    QVERIFY(connection.host().isEmpty());
    QVERIFY(connection.user().isEmpty());
    QVERIFY(connection.sci().isEmpty());
    QVERIFY(!connection.fips());
    QCOMPARE(connection.toXml().toByteArray(1), minimalFile(UidText, QStringLiteral("Office")));

    QDomDocument other;
    QVERIFY(other.setContent(QByteArray("<Other><Uid>") + UidText.toUtf8() + "</Uid></Other>"));
    QVERIFY(!Connection::fromXml(other).isValid());
}

void TestConnectionFiles::readsFieldsLeniently_data()
{
    QTest::addColumn<QString>("uid");
    QTest::addColumn<QString>("element");
    QTest::addColumn<bool>("fips");
    QTest::addColumn<int>("port");

    QTest::newRow("fips lower") << UidText << "<Fips>true</Fips>" << true << 22;
    QTest::newRow("fips mixed") << UidText << "<Fips>TrUe</Fips>" << true << 22;
    QTest::newRow("fips one") << UidText << "<Fips>1</Fips>" << false << 22;
    QTest::newRow("fips false") << UidText << "<Fips>false</Fips>" << false << 22;
    QTest::newRow("port 2200") << UidText << "<Port>2200</Port>" << false << 2200;
    QTest::newRow("port too big") << UidText << "<Port>70000</Port>" << false << 0;
    QTest::newRow("port text") << UidText << "<Port>ssh</Port>" << false << 0;
    QTest::newRow("unbraced uid") << QUuid(UidText).toString(QUuid::WithoutBraces) << "" << false << 22;
}

void TestConnectionFiles::readsFieldsLeniently()
{
    QFETCH(QString, uid);
    QFETCH(QString, element);
    QFETCH(bool, fips);
    QFETCH(int, port);
    // fromXml reads by name, so the position of the extra element does not matter.
    QDomDocument document;
    QVERIFY(document.setContent(
        QStringLiteral("<SshConnection><Uid>%1</Uid><Name>n</Name>%2</SshConnection>").arg(uid, element)));
    const Connection connection = Connection::fromXml(document);
    QVERIFY(connection.isValid());
    QCOMPARE(connection.uid(), QUuid(UidText));
    QCOMPARE(connection.fips(), fips);
    QCOMPARE(int(connection.port()), port);
}

// Files another program wrote: the record read from one is saved and must
// be read back unchanged.
void TestConnectionFiles::readRecordSurvivesSave_data()
{
    QTest::addColumn<QString>("elements");

    QTest::newRow("empty name") << "<Name></Name>";
    QTest::newRow("blank name") << "<Name> </Name><Host>h</Host>";
}

void TestConnectionFiles::readRecordSurvivesSave()
{
    QFETCH(QString, elements);
    QTemporaryDir dir;
    const QString path = dir.filePath(UidText + QStringLiteral(".rv32"));
    QVERIFY(writeFile(path, QStringLiteral("<SshConnection><Uid>%1</Uid>%2</SshConnection>").arg(UidText, elements).toUtf8()));
    const ConnectionScan scan = scanConnectionFiles({dir.path()});
    QCOMPARE(scan.connections.size(), 1);

    QString error;
    QVERIFY2(writeConnectionFile(path, scan.connections.first(), &error), qPrintable(error));
    const ConnectionScan again = scanConnectionFiles({dir.path()});
    QCOMPARE(again.connections.size(), 1);
    QVERIFY(again.connections.first() == scan.connections.first());
}

void TestConnectionFiles::scanSkipsBadFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    const QByteArray uid = UidText.toUtf8();
    QTest::newRow("wrong root") << QByteArray("<Connection><Uid>" + uid + "</Uid><Name>x</Name></Connection>");
    QTest::newRow("wrong order") << QByteArray("<SshConnection><Name>x</Name><Uid>" + uid + "</Uid></SshConnection>");
    QTest::newRow("unknown element") << QByteArray("<SshConnection><Uid>" + uid + "</Uid><Name>x</Name><Colour>red</Colour></SshConnection>");
    QTest::newRow("missing name") << QByteArray("<SshConnection><Uid>" + uid + "</Uid></SshConnection>");
    QTest::newRow("missing name, written layout") << QByteArray("<SshConnection>\n <Uid>" + uid + "</Uid>\n</SshConnection>\n");
    QTest::newRow("bad uid") << QByteArray("<SshConnection><Uid>not-a-uuid</Uid><Name>x</Name></SshConnection>");
    QTest::newRow("bad port") << QByteArray("<SshConnection><Uid>" + uid + "</Uid><Name>x</Name><Port>99999</Port></SshConnection>");
    QTest::newRow("not xml") << QByteArray("this is not a connection");
    QTest::newRow("truncated") << QByteArray("<SshConnection><Uid>" + uid + "</Uid><Name>x");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("oversized") << QByteArray(minimalFile(UidText, QString(70000, QLatin1Char('x'))));
    QTest::newRow("namespace") << QByteArray("<SshConnection xmlns=\"urn:x\"><Uid>" + uid + "</Uid><Name>x</Name></SshConnection>");
}

void TestConnectionFiles::scanSkipsBadFiles()
{
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString good = QUuid::createUuid().toString();
    QVERIFY(writeFile(dir.filePath(good + QStringLiteral(".rv32")), minimalFile(good, QStringLiteral("Good"))));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("bad.rv32")), content));
    // Not a connection file by name, although its content is valid.
    QVERIFY(writeFile(dir.filePath(QStringLiteral("other.xml")), minimalFile(UidText, QStringLiteral("Other"))));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("dir.rv32")));

    const ConnectionScan scan = scanConnectionFiles({dir.path()});
    QCOMPARE(scan.connections.size(), 1);
    QCOMPARE(scan.connections.first().name(), QStringLiteral("Good"));
    QCOMPARE(scan.files.size(), 1);
}

void TestConnectionFiles::scanFetchesAndBlocksOnNothing_data()
{
    QTest::addColumn<QString>("schemaLocation");
    QTest::addColumn<bool>("linkToFifo");
    QTest::newRow("link to a FIFO") << QString() << true;
    QTest::newRow("schema over http") << QStringLiteral("http://127.0.0.1:{port}/Connection.xsd") << false;
    QTest::newRow("schema in a FIFO") << QStringLiteral("file://{fifo}") << false;
}

void TestConnectionFiles::scanFetchesAndBlocksOnNothing()
{
    QFETCH(QString, schemaLocation);
    QFETCH(bool, linkToFifo);
    QTemporaryDir dir;
    // Neither may ever be opened: the server would leave a fetch waiting for
    // an answer, and opening the FIFO blocks until someone writes to it.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const QString fifo = dir.filePath(QStringLiteral("pipe"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    if (linkToFifo)
        QVERIFY(QFile::link(fifo, dir.filePath(QStringLiteral("pipe.rv32"))));
    const QString good = QUuid::createUuid().toString();
    QVERIFY(writeFile(dir.filePath(good + QStringLiteral(".rv32")), minimalFile(good, QStringLiteral("Good"))));
    // A file naming a schema of its own is not one of ours and is skipped.
    if (!schemaLocation.isEmpty()) {
        schemaLocation.replace(QLatin1String("{port}"), QString::number(server.serverPort()));
        schemaLocation.replace(QLatin1String("{fifo}"), fifo);
        const QString uid = QUuid::createUuid().toString();
        QVERIFY(writeFile(dir.filePath(uid + QStringLiteral(".rv32")),
                          QStringLiteral("<SshConnection xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
                                         " xsi:noNamespaceSchemaLocation=\"%1\"><Uid>%2</Uid><Name>n</Name>"
                                         "</SshConnection>")
                              .arg(schemaLocation, uid)
                              .toUtf8()));
    }

    ConnectionScan scan;
    const QString directory = dir.path();
    std::unique_ptr<QThread> scanner(QThread::create([&scan, directory]() { scan = scanConnectionFiles({directory}); }));
    // A scan caught by either is released, so that its thread can end.
    const auto release = qScopeGuard([&]() {
        while (!scanner->wait(100)) {
            const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
            QCoreApplication::processEvents();
            while (QTcpSocket* peer = server.nextPendingConnection())
                peer->abort();
        }
    });
    scanner->start();
    QVERIFY2(QTest::qWaitFor([&scanner]() { return scanner->isFinished(); }, 20000), "the scan hangs");
    QVERIFY(!server.hasPendingConnections());
    QCOMPARE(scan.connections.size(), 1);
    QCOMPARE(scan.connections.first().uid(), QUuid(good));
}

void TestConnectionFiles::globalFileShadowsUserFile()
{
    QTemporaryDir global;
    QTemporaryDir user;
    const QString shared = QUuid::createUuid().toString();
    const QString own = QUuid::createUuid().toString();
    QVERIFY(writeFile(global.filePath(QStringLiteral("a.rv32")), minimalFile(shared, QStringLiteral("Global"))));
    QVERIFY(writeFile(user.filePath(QStringLiteral("b.rv32")), minimalFile(shared, QStringLiteral("Personal"))));
    QVERIFY(writeFile(user.filePath(QStringLiteral("c.rv32")), minimalFile(own, QStringLiteral("Own"))));

    // Empty and missing directories contribute nothing.
    const ConnectionScan scan =
        scanConnectionFiles({QString(), global.path(), global.filePath(QStringLiteral("missing")), user.path()});
    QCOMPARE(scan.connections.size(), 2);
    QCOMPARE(scan.files.value(QUuid(shared)), global.filePath(QStringLiteral("a.rv32")));
    QCOMPARE(scan.files.value(QUuid(own)), user.filePath(QStringLiteral("c.rv32")));
    for (const Connection& connection : scan.connections)
        QVERIFY(connection.name() != QLatin1String("Personal"));
}

void TestConnectionFiles::failedWriteReportsError()
{
    QTemporaryDir dir;
    const QString blocker = dir.filePath(QStringLiteral("file"));
    QVERIFY(writeFile(blocker, "plain file"));
    QString error;
    QVERIFY(!writeConnectionFile(blocker + QStringLiteral("/x.rv32"), fullConnection(), &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(readFile(blocker), QByteArray("plain file"));

    error.clear();
    QVERIFY(!writeConnectionFile(QString(), fullConnection(), &error));
    QVERIFY(!error.isEmpty());
}

void TestConnectionFiles::cutShortWriteLeavesOldFileIntact()
{
    QTemporaryDir dir;
    const Connection old = fullConnection();
    const QString path = dir.filePath(Connection::fileName(old.uid()));
    QString error;
    QVERIFY2(writeConnectionFile(path, old, &error), qPrintable(error));
    const QByteArray before = readFile(path);

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--limited-write"), path, QStringLiteral("2048")});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 1);

    QCOMPARE(readFile(path), before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    QCOMPARE(scanConnectionFiles({dir.path()}).connections.value(0), old);
}

void TestConnectionFiles::removeReportsMissingFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("x.rv32"));
    QVERIFY(writeFile(path, "x"));
    QString error;
    QVERIFY(removeConnectionFile(path, &error));
    QVERIFY(!QFile::exists(path));
    QVERIFY(!removeConnectionFile(path, &error));
    QVERIFY(!error.isEmpty());
    error.clear();
    QVERIFY(!removeConnectionFile(QString(), &error));
    QVERIFY(!error.isEmpty());
}

int main(int argc, char* argv[])
{
    if (argc == 4 && std::strcmp(argv[1], "--limited-write") == 0)
        return limitedWrite(argv[2], argv[3]);
    QCoreApplication app(argc, argv);
    TestConnectionFiles test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_connectionfiles.moc"
