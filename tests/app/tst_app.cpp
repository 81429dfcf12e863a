// The application shell: installation kinds and directories, the quit rule,
// the main window hand-over and the informational dialogs.
#include "AboutDialog.h"
#include "CloseHelper.h"
#include "GlIntegrationSwitch.h"
#include "Installation.h"
#include "LogDialog.h"
#include "MainWindowHelper.h"
#include "Translations.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLoggingCategory>
#include <QProcess>
#include <QScopeGuard>
#include <QTextBrowser>
#include <QTimer>
#include <QXmlStreamReader>
#include <QtTest>

#include <functional>

namespace {

// Runs the action inside the application's event loop and tells whether it
// quit the application. Quitting ends the loop before the follow-up call
// queued behind the action can run, so nothing has to be waited for.
bool quits(const std::function<void()>& action)
{
    QTimer::singleShot(0, qApp, [action]() {
        action();
        QTimer::singleShot(0, qApp, []() { QCoreApplication::exit(1); });
    });
    return QCoreApplication::exec() == 0;
}

bool quitsOnCheck()
{
    return quits([]() { CloseHelper::instance()->checkForQuit(); });
}

bool quitsOnDestroy(QObject* object)
{
    return quits([object]() { delete object; });
}

// Counts the helper's note of each activation while it is installed.
int Activations = 0;
QtMessageHandler PreviousHandler = nullptr;

void countActivations(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message == QLatin1String("main window activated"))
        ++Activations;
    PreviousHandler(type, context, message);
}

} // namespace

class TestApp : public QObject
{
    Q_OBJECT

private slots:
    void installKinds_data();
    void installKinds();
    void dataDirectoryIsRelativeToProgram();

    void visibleWindowKeepsApplication();
    void trackedObjectKeepsApplication();
    void applicationCloseDeletesTrackedObjects();

    void helperRaisesHiddenAndMinimisedWindow();
    void glIntegrationStaysOffAndOutOfChildren();

    void logDialogAppendsAtEnd();
    void aboutDialogLinksLicencesBesideProgram();
    void shippedCataloguesAreComplete();
    // Last: the translators it installs stay for the rest of the run.
    void germanCatalogueIsBuiltIn();
};

void TestApp::installKinds_data()
{
    QTest::addColumn<QStringList>("markers");
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("hasGlobal");
    QTest::addColumn<bool>("userBesideProgram");
    QTest::newRow("system") << QStringList() << 1 << true << false;
    QTest::newRow("local") << QStringList{QStringLiteral("localinstall")} << 2 << false << false;
    QTest::newRow("flash") << QStringList{QStringLiteral("flashinstall")} << 4 << false << true;
    QTest::newRow("both") << QStringList{QStringLiteral("localinstall"), QStringLiteral("flashinstall")}
                          << 2 << false << false;
    QTest::newRow("marker directory") << QStringList{QStringLiteral("flashinstall/")} << 4 << false << true;
}

void TestApp::installKinds()
{
    QFETCH(QStringList, markers);
    QFETCH(int, kind);
    QFETCH(bool, hasGlobal);
    QFETCH(bool, userBesideProgram);
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("lib/Zentu/bin"));
    QVERIFY(QDir().mkpath(program));
    for (const QString& marker : markers) {
        if (marker.endsWith(QLatin1Char('/'))) {
            QVERIFY(QDir(program).mkdir(marker.chopped(1)));
        } else {
            QFile file(QDir(program).filePath(marker));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
    }

    QCOMPARE(int(installKind(program)), kind);
    const QString global = globalConnectionsDirectory(program);
    QCOMPARE(!global.isEmpty(), hasGlobal);
    if (hasGlobal)
        QCOMPARE(QDir::cleanPath(global), dir.filePath(QStringLiteral("share/Zentu/Connections")));
    const QString user = userConnectionsDirectory(program);
    QCOMPARE(QDir::cleanPath(user),
             userBesideProgram ? QDir(program).filePath(QStringLiteral("Connections"))
                               : QDir::home().filePath(QStringLiteral(".Zentu/Connections")));
}

void TestApp::dataDirectoryIsRelativeToProgram()
{
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("lib/Zentu/bin"));
    QVERIFY(QDir().mkpath(program));
    QCOMPARE(dataDirectory(program), program + QStringLiteral("/../../../share/Zentu"));
    QVERIFY(!isDataDirectoryWritable(program));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("share/Zentu"))));
    QVERIFY(isDataDirectoryWritable(program));
    QCOMPARE(licenceDirectory(program), dir.filePath(QStringLiteral("lib/Zentu/doc")));
}

void TestApp::visibleWindowKeepsApplication()
{
    QVERIFY(!QGuiApplication::quitOnLastWindowClosed());
    QWidget window;
    QVERIFY(quitsOnCheck());
    window.show();
    QVERIFY(!quitsOnCheck());
    // A window that does not quit on close does not count.
    window.setAttribute(Qt::WA_QuitOnClose, false);
    QVERIFY(quitsOnCheck());
    window.setAttribute(Qt::WA_QuitOnClose, true);
    QVERIFY(!quitsOnCheck());
    // A window with a parent does not count either.
    window.hide();
    QWidget owner;
    auto* child = new QWidget(&owner, Qt::Window);
    child->show();
    QVERIFY(quitsOnCheck());
}

void TestApp::trackedObjectKeepsApplication()
{
    auto* display = new QObject;
    CloseHelper::instance()->addObject(display);
    QVERIFY(!quitsOnCheck());
    QVERIFY(quitsOnDestroy(display));

    // With a window still visible the end of a display does not quit.
    QWidget window;
    window.show();
    auto* second = new QObject;
    CloseHelper::instance()->addObject(second);
    QVERIFY(!quitsOnDestroy(second));
    window.hide();

    // An object added twice is dropped entirely when it is destroyed once.
    auto* twice = new QObject;
    auto* other = new QObject;
    CloseHelper::instance()->addObject(twice);
    CloseHelper::instance()->addObject(twice);
    CloseHelper::instance()->addObject(other);
    QVERIFY(!quitsOnDestroy(twice));
    QVERIFY(quitsOnDestroy(other));
}

void TestApp::applicationCloseDeletesTrackedObjects()
{
    QPointer<QObject> first = new QObject;
    QPointer<QObject> second = new QObject;
    CloseHelper::instance()->addObject(first);
    CloseHelper::instance()->addObject(second);
    QCloseEvent close;
    QCoreApplication::sendEvent(qApp, &close);
    QVERIFY(!first);
    QVERIFY(!second);
    QVERIFY(quitsOnCheck());
}

void TestApp::helperRaisesHiddenAndMinimisedWindow()
{
    QLoggingCategory::setFilterRules(QStringLiteral("zentu.app.debug=true"));
    Activations = 0;
    PreviousHandler = qInstallMessageHandler(countActivations);
    const auto restore = qScopeGuard([]() {
        qInstallMessageHandler(PreviousHandler);
        QLoggingCategory::setFilterRules(QString());
    });

    QWidget window;
    MainWindowHelper helper(&window);
    helper.activate();
    QVERIFY(window.isVisible());
    QCOMPARE(Activations, 1);

    window.showMinimized();
    QTRY_VERIFY(window.windowState() & Qt::WindowMinimized);
    helper.activate();
    QTRY_VERIFY(!(window.windowState() & Qt::WindowMinimized));
    QVERIFY(window.isVisible());
    QCOMPARE(Activations, 2);

    // A window gone before the message arrives is not touched.
    auto* gone = new QWidget;
    MainWindowHelper late(gone);
    delete gone;
    late.activate();
    QCOMPARE(Activations, 2);
}

void TestApp::glIntegrationStaysOffAndOutOfChildren()
{
    // The application was made as the program makes it (see main below).
    QWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QFile maps(QStringLiteral("/proc/self/maps"));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    QVERIFY(!maps.readAll().contains("xcbglintegrations"));

    QProcess child;
    child.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"),
                                            QStringLiteral("printf %s \"${QT_XCB_GL_INTEGRATION-unset}\"")});
    QVERIFY(child.waitForFinished(10000));
    QCOMPARE(child.readAllStandardOutput(), QByteArray("unset"));
}

void TestApp::logDialogAppendsAtEnd()
{
    LogDialog dialog;
    dialog.append(QStringLiteral("a"));
    auto* browser = dialog.findChild<QTextBrowser*>(QStringLiteral("TextBrowser"));
    QTextCursor cursor = browser->textCursor();
    cursor.setPosition(0);
    browser->setTextCursor(cursor);
    dialog.append(QStringLiteral("b"));
    QCOMPARE(browser->toPlainText(), QStringLiteral("ab"));
    QCOMPARE(browser->textCursor().position(), 2);
}

void TestApp::aboutDialogLinksLicencesBesideProgram()
{
    AboutDialog dialog;
    const QString text = dialog.findChild<QLabel*>(QStringLiteral("labelContributions"))->text();
    const QString doc = QUrl::fromLocalFile(
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../doc"))).toString();
    const QStringList names{QStringLiteral("Qt"), QStringLiteral("FreeRDP"), QStringLiteral("OpenSSH"),
                            QStringLiteral("OpenSSL"), QStringLiteral("Ion%20Icons")};
    for (const QString& name : names)
        QVERIFY2(text.contains(QStringLiteral("href=\"%1/%2%20License.html\"").arg(doc, name)), qPrintable(name));
    QVERIFY(!text.contains(QLatin1String("PuTTY")));
    QVERIFY(text.contains(QLatin1String("Open Source Software")));

    const QString html = AboutDialog::contributionsHtml(QStringLiteral("/opt/my apps/doc"));
    QVERIFY(html.contains(QLatin1String("href=\"file:///opt/my%20apps/doc/Qt%20License.html\"")));
    QVERIFY(dialog.findChild<QLabel*>(QStringLiteral("labelProductInformation"))->text().contains(QLatin1String("2.0.23")));
    QVERIFY(!dialog.findChild<QLabel*>(QStringLiteral("labelLogo"))->pixmap(Qt::ReturnByValue).isNull());
}

// Each catalogue in translations/ is brought up to date with the sources by
// lupdate (into a copy) and must then have a finished translation for every
// message: a new text shows up as unfinished, a removed one as vanished.
void TestApp::shippedCataloguesAreComplete()
{
    const QDir source(qEnvironmentVariable("ZENTU_SOURCE_DIR"));
    const QStringList names = QDir(source.filePath(QStringLiteral("translations")))
                                  .entryList({QStringLiteral("*.ts")}, QDir::Files);
    QVERIFY(!names.isEmpty());
    QTemporaryDir scratch;
    for (const QString& name : names) {
        const QString copy = scratch.filePath(name);
        QVERIFY(QFile::copy(source.filePath(QStringLiteral("translations/") + name), copy));
        QProcess lupdate;
        lupdate.setWorkingDirectory(source.path());
        lupdate.setProcessChannelMode(QProcess::MergedChannels);
        lupdate.start(QStringLiteral(ZENTU_LUPDATE),
                      {QStringLiteral("-locations"), QStringLiteral("none"), QStringLiteral("src"),
                       QStringLiteral("-ts"), copy});
        QVERIFY(lupdate.waitForFinished(120000));
        QVERIFY2(lupdate.exitCode() == 0, lupdate.readAll().constData());

        QFile file(copy);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        QString context;
        QString text;
        QStringList incomplete;
        int messages = 0;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == QLatin1String("name")) {
                context = xml.readElementText();
            } else if (xml.name() == QLatin1String("source")) {
                text = xml.readElementText();
            } else if (xml.name() == QLatin1String("translation")) {
                ++messages;
                const QString type = xml.attributes().value(QLatin1String("type")).toString();
                const QString translation = xml.readElementText(QXmlStreamReader::IncludeChildElements);
                if (!type.isEmpty() || translation.isEmpty())
                    incomplete.append(QStringLiteral("%1: \"%2\" (%3)")
                                          .arg(context, text, type.isEmpty() ? QStringLiteral("empty") : type));
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QVERIFY(messages > 0);
        for (const QString& message : qAsConst(incomplete))
            qWarning().noquote() << name << "lacks" << message;
        QVERIFY2(incomplete.isEmpty(),
                 qPrintable(QStringLiteral("%1: %2 messages to translate (listed above) after "
                                           "\"cmake --build build --target zentu_lupdate\"")
                                .arg(name).arg(incomplete.size())));
    }
}

void TestApp::germanCatalogueIsBuiltIn()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    installTranslations();
    QCOMPARE(QCoreApplication::translate("main", "Connections"), QStringLiteral("Verbindungen"));
    QCOMPARE(QCoreApplication::translate("FailureBox", "%1 Error"), QStringLiteral("%1-Fehler"));
}

int main(int argc, char* argv[])
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qunsetenv("QT_XCB_GL_INTEGRATION");
    GlIntegrationSwitch glIntegration;
    QApplication app(argc, argv);
    glIntegration.release();
    QCoreApplication::setApplicationName(QStringLiteral("Zentu"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.0.23"));
    CloseHelper::instance();
    TestApp test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_app.moc"
