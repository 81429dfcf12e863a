// The main window driven as a user would: through its buttons, the editor's
// fields and the question dialog, with real files in temporary directories.
#include "ConnectionEditor.h"
#include "ConnectionListWidget.h"
#include "JoinSessionDialog.h"
#include "QuestionDialog.h"
#include "TopLevels.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTableView>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include "ConnectionTestFiles.h"

#include <algorithm>
#include <memory>

namespace {

// Adding a connection also opens it. Its hosts are the loopback address and
// port 1, where nothing listens, so the login fails at once and locally.
const QString Host = QStringLiteral("127.0.0.1");

QList<QMessageBox*> failureBoxes(const QString& summary)
{
    QList<QMessageBox*> boxes = visibleTopLevels<QMessageBox>();
    boxes.erase(std::remove_if(boxes.begin(), boxes.end(),
                               [&summary](QMessageBox* box) { return !box->text().startsWith(summary); }),
                boxes.end());
    return boxes;
}

QPushButton* dialogButton(QWidget* dialog, QDialogButtonBox::StandardButton which)
{
    return dialog->findChild<QDialogButtonBox*>(QStringLiteral("ButtonBox"))->button(which);
}

QTableView* listView(QWidget* window)
{
    return window->findChild<QTableView*>(QStringLiteral("ConnectionListView"));
}

// The one open connection editor, once it is there.
QPointer<ConnectionEditor> waitForEditor()
{
    if (!QTest::qWaitFor([] { return visibleTopLevels<ConnectionEditor>().size() == 1; }, 5000))
        return nullptr;
    return visibleTopLevels<ConnectionEditor>().first();
}

Connection makeConnection(const QString& name, const QString& host)
{
    Connection connection;
    connection.setUid(QUuid::createUuid());
    connection.setName(name);
    connection.setHost(host);
    return connection;
}

// A connection to a peer that accepts the SSH connection and never answers:
// its login, and so its session window, stays open until the peer hangs up.
QByteArray hangingConnectionFile(const QUuid& uid, quint16 port)
{
    return QStringLiteral("<SshConnection>\n <Uid>%1</Uid>\n <Name>Hanging</Name>\n"
                          " <Host>127.0.0.1</Host>\n <Port>%2</Port>\n <User>joe</User>\n"
                          "</SshConnection>\n")
        .arg(uid.toString())
        .arg(port)
        .toUtf8();
}

// The session windows of a connection, by their registry key.
QList<QWidget*> sessionWindows(const QUuid& uid)
{
    const QString key = uid.toString() + QStringLiteral("-SessionListWidget");
    QList<QWidget*> found;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == key)
            found.append(widget);
    }
    return found;
}

QPushButton* buttonWithText(QWidget* dialog, const QString& text)
{
    const QList<QPushButton*> buttons = dialog->findChildren<QPushButton*>();
    for (QPushButton* button : buttons) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

} // namespace

class TestConnectionList : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void listsBothDirectoriesByName();
    void addThroughEditor_data();
    void addThroughEditor();
    void globalSaveWithoutWritableDirectoryStaysPersonal();
    void editThroughEditor();
    void activatingOpenConnectionRaisesItsWindow();
    void removeAsksFirst();
    void protectedGlobalConnection_data();
    void protectedGlobalConnection();
    void closingClosesEditorsAndKeepsGeometry();
    void failedAddShowsErrorAndKeepsList();
    void editorRefusesBadInput();

private:
    std::unique_ptr<ConnectionListWidget> makeWindow(bool globalWritable = false);
    QString userFile(const QUuid& uid) const;
    QString globalFile(const QUuid& uid) const;
    void selectRow(ConnectionListWidget* window, int row);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_user;
    QString m_global;
};

void TestConnectionList::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // The user directory's path begins with the global one's, as
    // "/x/Connections" and "/x/Connections-old" would.
    m_global = m_dir->filePath(QStringLiteral("global"));
    m_user = m_global + QStringLiteral("-user");
    QVERIFY(QDir().mkpath(m_user));
    QVERIFY(QDir().mkpath(m_global));
    QSettings().clear();
}

void TestConnectionList::cleanup()
{
    QList<QPointer<QWidget>> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->parent())
            windows.append(widget);
    }
    // Closing a session window ends its login, which then deletes the login
    // and the window; deleting the window alone would leave the login running.
    for (const QPointer<QWidget>& window : qAsConst(windows)) {
        if (window)
            window->close();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (const QPointer<QWidget>& window : qAsConst(windows))
        delete window.data();
    m_dir.reset();
}

std::unique_ptr<ConnectionListWidget> TestConnectionList::makeWindow(bool globalWritable)
{
    auto window = std::make_unique<ConnectionListWidget>(m_user, m_global, nullptr, globalWritable);
    window->show();
    return window;
}

QString TestConnectionList::userFile(const QUuid& uid) const
{
    return QDir(m_user).filePath(uid.toString() + QStringLiteral(".rv32"));
}

QString TestConnectionList::globalFile(const QUuid& uid) const
{
    return QDir(m_global).filePath(uid.toString() + QStringLiteral(".rv32"));
}

void TestConnectionList::selectRow(ConnectionListWidget* window, int row)
{
    auto* view = listView(window);
    const QRect rect = view->visualRect(view->model()->index(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center() - QPoint(rect.width() / 4, 0));
    QTRY_VERIFY(view->selectionModel()->isRowSelected(row, QModelIndex()));
}

void TestConnectionList::listsBothDirectoriesByName()
{
    const QUuid shared = QUuid::createUuid();
    QVERIFY(writeFile(globalFile(shared), minimalFile(shared, QStringLiteral("Zulu"), QStringLiteral("z"))));
    QVERIFY(writeFile(userFile(shared), minimalFile(shared, QStringLiteral("Personal"), QStringLiteral("p"))));
    const QUuid own = QUuid::createUuid();
    QVERIFY(writeFile(userFile(own), minimalFile(own, QStringLiteral("Alpha"), QStringLiteral("a"))));
    QVERIFY(writeFile(QDir(m_user).filePath(QStringLiteral("broken.rv32")), "<SshConnection>"));
    // One line, markup in the name, and a sign the default font lacks.
    const QUuid oneLine = QUuid::createUuid();
    QVERIFY(writeFile(userFile(oneLine), minimalFile(oneLine.toString(), QStringLiteral("Mitte &amp; &lt;B\u00fcro&gt; \u2a0c"))));

    auto window = makeWindow();
    auto* view = listView(window.get());
    QCOMPARE(view->model()->rowCount(), 3);
    QVERIFY(view->model()->index(0, 0).data().toString().contains(QLatin1String("Alpha")));
    QVERIFY(view->model()->index(1, 0).data().toString().contains(QLatin1String("Mitte &amp; &lt;B")));
    QVERIFY(view->model()->index(2, 0).data().toString().contains(QLatin1String("Zulu")));
    // Each row is as tall as its laid-out text; the one-line row is shorter.
    for (int row = 0; row < 3; ++row)
        QCOMPARE(view->rowHeight(row), view->sizeHintForIndex(view->model()->index(row, 0)).height());
    QCOMPARE(view->rowHeight(0), view->rowHeight(2));
    QVERIFY(view->rowHeight(1) < view->rowHeight(0));

    // The Join button asks for a name (USER to begin with) and a key; OK
    // waits for both to start with a non-blank.
    qputenv("USER", "joiner");
    window->findChild<QPushButton*>(QStringLiteral("JoinSessionButton"))->click();
    auto* join = window->findChild<JoinSessionDialog*>();
    QVERIFY(join && join->isVisible() && join->windowModality() == Qt::WindowModal);
    auto* name = join->findChild<QLineEdit*>(QStringLiteral("IdLineEdit"));
    auto* key = join->findChild<QLineEdit*>(QStringLiteral("SharingKeyLineEdit"));
    auto* ok = join->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    QCOMPARE(name->text(), QStringLiteral("joiner"));
    QVERIFY(!ok->isEnabled());
    key->setText(QStringLiteral(" abc"));
    QVERIFY(!ok->isEnabled());
    key->setText(QStringLiteral("abc"));
    QVERIFY(ok->isEnabled());
    name->setText(QString());
    QVERIFY(!ok->isEnabled());
    join->reject();
}

void TestConnectionList::addThroughEditor_data()
{
    QTest::addColumn<bool>("globalWritable");
    QTest::newRow("personal") << false;
    QTest::newRow("global") << true;
}

void TestConnectionList::addThroughEditor()
{
    QFETCH(bool, globalWritable);
    auto window = makeWindow(globalWritable);
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("AddConnectionButton")), Qt::LeftButton);
    QPointer<ConnectionEditor> editor = waitForEditor();
    QVERIFY(editor);
    QCOMPARE(editor->windowTitle(), QStringLiteral("New Connection"));
    QVERIFY(editor->objectName().endsWith(QLatin1String("-editing")));
    // "Save As Global" is offered only where the global directory is writable,
    // and like Save it is refused while the fields are incomplete.
    QPushButton* global = editor->findChild<QPushButton*>(QStringLiteral("globalButton"));
    QCOMPARE(global != nullptr, globalWritable);
    QPushButton* save = globalWritable ? global : dialogButton(editor, QDialogButtonBox::Save);
    QTest::mouseClick(save, Qt::LeftButton);
    QVERIFY(editor && editor->isVisible());

    QTest::keyClicks(editor->findChild<QLineEdit*>(QStringLiteral("NameLineEdit")), QStringLiteral("Office"));
    QVERIFY(!dialogButton(editor, QDialogButtonBox::Save)->isEnabled());
    QTest::keyClicks(editor->findChild<QLineEdit*>(QStringLiteral("HostLineEdit")), Host);
    QVERIFY(dialogButton(editor, QDialogButtonBox::Save)->isEnabled());
    auto* port = editor->findChild<QLineEdit*>(QStringLiteral("PortLineEdit"));
    port->selectAll();
    QTest::keyClicks(port, QStringLiteral("1"));
    QTest::mouseClick(save, Qt::LeftButton);
    QTRY_VERIFY(!editor);

    const QString directory = globalWritable ? m_global : m_user;
    const QStringList files = QDir(directory).entryList({QStringLiteral("*.rv32")}, QDir::Files);
    QCOMPARE(files.size(), 1);
    QCOMPARE(QDir(globalWritable ? m_user : m_global).entryList({QStringLiteral("*.rv32")}, QDir::Files).size(), 0);
    const QByteArray content = readFile(QDir(directory).filePath(files.first()));
    QVERIFY(content.contains(" <Name>Office</Name>\n <Host>127.0.0.1</Host>\n <Port>1</Port>\n"));
    QVERIFY(!content.contains("<User>"));

    auto* view = listView(window.get());
    QCOMPARE(view->model()->rowCount(), 1);
    QVERIFY(view->selectionModel()->isRowSelected(0, QModelIndex()));
    QCOMPARE(view->model()->index(0, 0).data().toString(),
             QStringLiteral("<b><big>Office</big></b><br/>127.0.0.1:1"));
}

void TestConnectionList::globalSaveWithoutWritableDirectoryStaysPersonal()
{
    auto window = makeWindow(false);
    Connection connection = makeConnection(QStringLiteral("Personal"), Host);
    connection.setPort(1);
    window->addConnection(connection, true);
    QVERIFY(QFile::exists(userFile(connection.uid())));
    QVERIFY(!QFile::exists(globalFile(connection.uid())));
}

void TestConnectionList::editThroughEditor()
{
    const QUuid uid = QUuid::createUuid();
    QVERIFY(writeFile(userFile(uid), minimalFile(uid, QStringLiteral("Office"), QStringLiteral("old.example.com"))));
    auto window = makeWindow();
    selectRow(window.get(), 0);
    auto* edit = window->findChild<QPushButton*>(QStringLiteral("EditConnectionButton"));
    QTRY_VERIFY(edit->isVisible());
    QTest::mouseClick(edit, Qt::LeftButton);
    QPointer<ConnectionEditor> editor = waitForEditor();
    QVERIFY(editor);
    QCOMPARE(editor->windowTitle(), QStringLiteral("Office"));
    // A second edit raises the open editor, restoring it when minimised.
    editor->showMinimized();
    QTRY_VERIFY(editor->windowState() & Qt::WindowMinimized);
    QTest::mouseClick(edit, Qt::LeftButton);
    QCOMPARE(visibleTopLevels<ConnectionEditor>(), QList<ConnectionEditor*>{editor.data()});
    QTRY_VERIFY(!(editor->windowState() & Qt::WindowMinimized));

    auto* host = editor->findChild<QLineEdit*>(QStringLiteral("HostLineEdit"));
    QCOMPARE(host->text(), QStringLiteral("old.example.com"));
    host->selectAll();
    QTest::keyClicks(host, QStringLiteral("new.example.com"));
    QTest::keyClicks(editor->findChild<QLineEdit*>(QStringLiteral("UserLineEdit")), QStringLiteral("joe"));
    QTest::mouseClick(dialogButton(editor, QDialogButtonBox::Save), Qt::LeftButton);
    QTRY_VERIFY(!editor);

    QCOMPARE(readFile(userFile(uid)),
             QStringLiteral("<SshConnection>\n <Uid>%1</Uid>\n <Name>Office</Name>\n"
                            " <Host>new.example.com</Host>\n <User>joe</User>\n</SshConnection>\n")
                 .arg(uid.toString())
                 .toUtf8());
    auto* view = listView(window.get());
    QVERIFY(view->model()->index(0, 0).data().toString().contains(QLatin1String("new.example.com")));
    // The row buttons stay on the edited row, placed across the full width.
    QVERIFY(edit->isVisible());
    QVERIFY(window->findChild<QPushButton*>(QStringLiteral("RemoveConnectionButton"))->isVisible());
}

void TestConnectionList::activatingOpenConnectionRaisesItsWindow()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const QUuid uid = QUuid::createUuid();
    QVERIFY(writeFile(userFile(uid), hangingConnectionFile(uid, server.serverPort())));
    auto window = makeWindow();
    selectRow(window.get(), 0);
    auto* view = listView(window.get());

    QTest::keyClick(view, Qt::Key_Return);
    QTRY_COMPARE(sessionWindows(uid).size(), 1);
    QPointer<QWidget> sessionWindow = sessionWindows(uid).first();
    QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 15000);
    QTcpSocket* peer = server.nextPendingConnection();

    sessionWindow->showMinimized();
    QTRY_VERIFY(sessionWindow->windowState() & Qt::WindowMinimized);
    QTest::keyClick(view, Qt::Key_Return);
    QTRY_VERIFY(!(sessionWindow->windowState() & Qt::WindowMinimized));
    QCOMPARE(sessionWindows(uid).size(), 1);
    QVERIFY(!server.hasPendingConnections());

    // When ssh ends the window goes, and the next activation logs in anew.
    peer->abort();
    QTRY_VERIFY_WITH_TIMEOUT(!sessionWindow, 15000);
    QTest::keyClick(view, Qt::Key_Return);
    QTRY_COMPARE(sessionWindows(uid).size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 15000);
    server.nextPendingConnection()->abort();
    sessionWindow = sessionWindows(uid).first();
    QTRY_VERIFY_WITH_TIMEOUT(!sessionWindow, 15000);
}

void TestConnectionList::removeAsksFirst()
{
    const QUuid uid = QUuid::createUuid();
    QVERIFY(writeFile(userFile(uid), minimalFile(uid, QStringLiteral("Office"), QStringLiteral("h"))));
    auto window = makeWindow();
    selectRow(window.get(), 0);
    auto* edit = window->findChild<QPushButton*>(QStringLiteral("EditConnectionButton"));
    auto* remove = window->findChild<QPushButton*>(QStringLiteral("RemoveConnectionButton"));
    QTRY_VERIFY(remove->isVisible());
    QTest::mouseClick(edit, Qt::LeftButton);
    QPointer<ConnectionEditor> editor = waitForEditor();
    QVERIFY(editor);

    QTest::mouseClick(remove, Qt::LeftButton);
    QTRY_VERIFY(window->findChild<QuestionDialog*>());
    QPointer<QuestionDialog> question = window->findChild<QuestionDialog*>();
    QTRY_VERIFY(question->isVisible());
    QCOMPARE(question->findChild<QLabel*>(QStringLiteral("QuestionLabel"))->text(),
             QStringLiteral("Remove connection \"Office\"?"));
    QTest::mouseClick(buttonWithText(question, QStringLiteral("Keep")), Qt::LeftButton);
    QTRY_VERIFY(!question);
    QVERIFY(QFile::exists(userFile(uid)));

    QTest::mouseClick(remove, Qt::LeftButton);
    QTRY_VERIFY(window->findChild<QuestionDialog*>());
    question = window->findChild<QuestionDialog*>();
    QTest::mouseClick(buttonWithText(question, QStringLiteral("Remove")), Qt::LeftButton);
    QTRY_VERIFY(!question);
    QVERIFY(!QFile::exists(userFile(uid)));
    auto* view = listView(window.get());
    QCOMPARE(view->model()->rowCount(), 0);
    QTRY_VERIFY(!editor);
    QVERIFY(!remove->isVisible());
}

void TestConnectionList::protectedGlobalConnection_data()
{
    QTest::addColumn<bool>("inGlobal");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<bool>("editable");
    QTest::newRow("global, writable") << true << true << true;
    QTest::newRow("global, read-only") << true << false << false;
    QTest::newRow("personal beside read-only global") << false << false << true;
}

void TestConnectionList::protectedGlobalConnection()
{
    QFETCH(bool, inGlobal);
    QFETCH(bool, writable);
    QFETCH(bool, editable);
    const QUuid uid = QUuid::createUuid();
    const QString file = inGlobal ? globalFile(uid) : userFile(uid);
    QVERIFY(writeFile(file, minimalFile(uid, QStringLiteral("Global"), QStringLiteral("g"))));
    auto window = makeWindow(writable);
    selectRow(window.get(), 0);
    auto* edit = window->findChild<QPushButton*>(QStringLiteral("EditConnectionButton"));
    auto* remove = window->findChild<QPushButton*>(QStringLiteral("RemoveConnectionButton"));
    QTRY_COMPARE(edit->isVisible(), editable);
    QCOMPARE(remove->isVisible(), editable);

    QMetaObject::invokeMethod(window.get(), "on_EditConnectionButton_clicked");
    QMetaObject::invokeMethod(window.get(), "on_RemoveConnectionButton_clicked");
    QCOMPARE(visibleTopLevels<ConnectionEditor>().size(), editable ? 1 : 0);
    // Editing never offers a global save, even where one is allowed.
    if (editable)
        QVERIFY(!visibleTopLevels<ConnectionEditor>().first()->findChild<QPushButton*>(QStringLiteral("globalButton")));
    QCOMPARE(window->findChild<QuestionDialog*>() != nullptr, editable);
    QVERIFY(QFile::exists(file));
}

void TestConnectionList::closingClosesEditorsAndKeepsGeometry()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const QUuid uid = QUuid::createUuid();
    QVERIFY(writeFile(userFile(uid), hangingConnectionFile(uid, server.serverPort())));
    auto window = makeWindow();
    window->resize(420, 510);
    selectRow(window.get(), 0);
    QTest::keyClick(listView(window.get()), Qt::Key_Return);
    QTRY_COMPARE(sessionWindows(uid).size(), 1);
    QPointer<QWidget> sessionWindow = sessionWindows(uid).first();
    QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 15000);
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("AddConnectionButton")), Qt::LeftButton);
    QPointer<ConnectionEditor> editor = waitForEditor();
    QVERIFY(editor);

    QVERIFY(window->close());
    QTRY_VERIFY(!editor);
    QVERIFY(sessionWindow && sessionWindow->isVisible());
    QVERIFY(!QSettings().value(QStringLiteral("Geometry")).toByteArray().isEmpty());
    server.nextPendingConnection()->abort();
    QTRY_VERIFY_WITH_TIMEOUT(!sessionWindow, 15000);

    auto second = std::make_unique<ConnectionListWidget>(m_user, m_global, nullptr, false);
    QCOMPARE(second->size(), QSize(420, 510));
}

void TestConnectionList::failedAddShowsErrorAndKeepsList()
{
    // The user directory cannot be created below a regular file.
    QVERIFY(writeFile(m_dir->filePath(QStringLiteral("blocker")), "x"));
    m_user = m_dir->filePath(QStringLiteral("blocker/Connections"));
    auto window = makeWindow();
    const Connection connection = makeConnection(QStringLiteral("Office"), QStringLiteral("h"));
    window->addConnection(connection, false);

    QTRY_COMPARE(failureBoxes(QStringLiteral("Failed to add the connection.<br><br>")).size(), 1);
    QMessageBox* box = failureBoxes(QStringLiteral("Failed to add")).first();
    QCOMPARE(box->windowTitle(), QStringLiteral("Zentu Error"));
    auto* view = listView(window.get());
    QCOMPARE(view->model()->rowCount(), 0);

    // Editing an unknown connection has no file to write and fails the same way.
    window->editConnection(connection);
    QTRY_COMPARE(failureBoxes(QStringLiteral("Failed to edit the connection &quot;Office&quot;.")).size(), 1);
}

void TestConnectionList::editorRefusesBadInput()
{
    Connection connection = makeConnection(QStringLiteral("Office"), QStringLiteral("h"));
    connection.setSci(QStringLiteral("bin/sci"));
    connection.setFips(true);
    ConnectionEditor editor(connection);
    editor.show();
    QPushButton* save = dialogButton(&editor, QDialogButtonBox::Save);
    QVERIFY(save->isEnabled());
    auto* name = editor.findChild<QLineEdit*>(QStringLiteral("NameLineEdit"));
    auto* port = editor.findChild<QLineEdit*>(QStringLiteral("PortLineEdit"));
    auto* sci = editor.findChild<QLineEdit*>(QStringLiteral("SciLineEdit"));

    // Reset brings back the values the editor was opened with.
    name->setText(QStringLiteral("Changed"));
    sci->clear();
    QTest::mouseClick(dialogButton(&editor, QDialogButtonBox::Reset), Qt::LeftButton);
    QCOMPARE(name->text(), QStringLiteral("Office"));
    QCOMPARE(sci->text(), QStringLiteral("bin/sci"));
    QCOMPARE(port->text(), QStringLiteral("22"));
    QVERIFY(editor.isVisible());

    const QStringList badPorts{QStringLiteral("0"), QStringLiteral("65536"), QString()};
    for (const QString& text : badPorts) {
        port->setText(text);
        QVERIFY2(!save->isEnabled(), qPrintable(text));
    }
    port->setText(QStringLiteral("65535"));
    QVERIFY(save->isEnabled());

    // A leading blank cannot be typed, and set otherwise it is refused.
    name->clear();
    QTest::keyClicks(name, QStringLiteral(" lead"));
    QCOMPARE(name->text(), QStringLiteral("lead"));
    name->setText(QStringLiteral(" lead"));
    QVERIFY(!save->isEnabled());
    // Enter tries to accept through the default button; the dialog stays.
    QTest::keyClick(name, Qt::Key_Return);
    QVERIFY(editor.isVisible());
    QCOMPARE(editor.result(), 0);

    name->setText(QStringLiteral("Lab"));
    QTest::keyClick(name, Qt::Key_Return);
    QTRY_VERIFY(!editor.isVisible());
    QCOMPARE(editor.result(), int(QDialog::Accepted));
    QCOMPARE(editor.connection().name(), QStringLiteral("Lab"));
    QCOMPARE(editor.connection().port(), quint16(65535));
    QCOMPARE(editor.connection().uid(), connection.uid());
    QVERIFY(editor.connection().fips());
    QVERIFY(!editor.saveAsGlobal());

    // The port is read the way its field accepted it: with the group
    // separator of a German locale, "2.222" is port 2222.
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ConnectionEditor german(connection);
    QLocale::setDefault(previous);
    german.findChild<QLineEdit*>(QStringLiteral("PortLineEdit"))->setText(QStringLiteral("2.222"));
    QVERIFY(dialogButton(&german, QDialogButtonBox::Save)->isEnabled());
    german.accept();
    QCOMPARE(german.result(), int(QDialog::Accepted));
    QCOMPARE(german.connection().port(), quint16(2222));
}

int main(int argc, char* argv[])
{
    // The settings store and the home directory of the test are private.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Zentu"));
    QCoreApplication::setOrganizationName(QStringLiteral("Talvene"));
    TestConnectionList test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_connectionlist.moc"
