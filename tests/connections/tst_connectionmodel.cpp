// The connection model under Qt's model tester, and what it shows per row.
#include "ConnectionModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QtTest>

namespace {

Connection makeConnection(const QString& name, const QString& host = QString(), quint16 port = 22)
{
    Connection connection;
    connection.setUid(QUuid::createUuid());
    connection.setName(name);
    connection.setHost(host);
    connection.setPort(port);
    return connection;
}

} // namespace

class TestConnectionModel : public QObject
{
    Q_OBJECT

private slots:
    void passesModelTester();
    void keepsUidOrderAndRejectsDuplicates();
    void displayText_data();
    void displayText();
    void toolTipListsSetFields();
};

void TestConnectionModel::passesModelTester()
{
    ConnectionModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSortFilterProxyModel proxy;
    proxy.setSourceModel(&model);
    QAbstractItemModelTester proxyTester(&proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);

    QVector<Connection> list;
    for (int i = 0; i < 20; ++i)
        list.append(makeConnection(QStringLiteral("c%1").arg(i), QStringLiteral("h%1").arg(i)));
    model.setConnections(list);
    QCOMPARE(model.rowCount(), 20);

    Connection added = makeConnection(QStringLiteral("added"));
    QVERIFY(model.addConnection(added).isValid());
    added.setHost(QStringLiteral("changed.example.com"));
    QVERIFY(model.updateConnection(added).isValid());
    model.removeConnection(list.at(3));
    model.removeConnection(list.at(3));
    QCOMPARE(model.rowCount(), 20);

    const QModelIndex first = model.index(0, 0);
    QVERIFY(model.flags(first) & Qt::ItemIsDragEnabled);
    QVERIFY(!(model.flags(QModelIndex()) & Qt::ItemIsDragEnabled));
    QVERIFY(!model.data(first, Qt::DecorationRole).isValid());
    QVERIFY(!model.data(first.sibling(0, 1)).isValid());
    QVERIFY(model.connectionAt(19).isValid());
    QCOMPARE(&model.connectionAt(-1), &Connection::null);
    QCOMPARE(&model.connectionAt(20), &Connection::null);
    model.setConnections({});
    QCOMPARE(model.rowCount(), 0);
}

void TestConnectionModel::keepsUidOrderAndRejectsDuplicates()
{
    ConnectionModel model;
    QVector<Connection> list;
    for (int i = 0; i < 50; ++i)
        list.append(makeConnection(QStringLiteral("c%1").arg(i)));
    model.setConnections(list);
    for (int i = 0; i < 10; ++i)
        QVERIFY(model.addConnection(makeConnection(QStringLiteral("a%1").arg(i))).isValid());
    for (int row = 1; row < model.rowCount(); ++row)
        QVERIFY(model.connectionAt(row - 1).uid() < model.connectionAt(row).uid());

    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    Connection duplicate = list.at(7);
    duplicate.setName(QStringLiteral("other"));
    QVERIFY(!model.addConnection(duplicate).isValid());
    QCOMPARE(inserted.count(), 0);
    QCOMPARE(model.rowCount(), 60);

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    const QModelIndex index = model.updateConnection(duplicate);
    QVERIFY(index.isValid());
    QCOMPARE(changed.count(), 1);
    QCOMPARE(model.connectionAt(index.row()).name(), QStringLiteral("other"));
    QVERIFY(!model.updateConnection(makeConnection(QStringLiteral("unknown"))).isValid());
}

void TestConnectionModel::displayText_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("text");
    QTest::newRow("default port") << "Office" << "office.example.com" << 22
                                  << "<b><big>Office</big></b><br/>office.example.com";
    QTest::newRow("other port") << "Office" << "office.example.com" << 2200
                                << "<b><big>Office</big></b><br/>office.example.com:2200";
    QTest::newRow("no host") << "Office" << "" << 2200 << "<b><big>Office</big></b>";
    QTest::newRow("no name") << "" << "h" << 22 << "<b><big>NO_NAME</big></b><br/>h";
    QTest::newRow("markup is text") << "<i>x</i>" << "a&b" << 22
                                    << "<b><big>&lt;i&gt;x&lt;/i&gt;</big></b><br/>a&amp;b";
}

void TestConnectionModel::displayText()
{
    QFETCH(QString, name);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, text);
    ConnectionModel model;
    model.setConnections({makeConnection(name, host, quint16(port))});
    QCOMPARE(model.data(model.index(0, 0)).toString(), text);
    QCOMPARE(model.data(model.index(0, 0), ConnectionModel::SortRole).toString(), name);
}

void TestConnectionModel::toolTipListsSetFields()
{
    Connection connection = makeConnection(QStringLiteral("Office"), QStringLiteral("h"), 22);
    ConnectionModel model;
    model.setConnections({connection});
    QCOMPARE(model.data(model.index(0, 0), Qt::ToolTipRole).toString(),
             QStringLiteral("Uid: %1\nName: Office\nHost: h").arg(connection.uid().toString()));

    connection.setName(QString());
    connection.setHost(QString());
    connection.setPort(2200);
    connection.setUser(QStringLiteral("joe"));
    connection.setSci(QStringLiteral("bin/sci"));
    connection.setFips(true);
    model.updateConnection(connection);
    QCOMPARE(model.data(model.index(0, 0), Qt::ToolTipRole).toString(),
             QStringLiteral("Uid: %1\nPort: 2200\nUser: joe\nSci: bin/sci\nFIPS mode enabled")
                 .arg(connection.uid().toString()));
}

QTEST_GUILESS_MAIN(TestConnectionModel)
#include "tst_connectionmodel.moc"
