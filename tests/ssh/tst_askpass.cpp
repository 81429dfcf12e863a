// The askpass relay: the real askpass program, the local server, the
// question reader and the status dialog that answers.
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QPushButton>
#include <QStackedWidget>
#include <QtTest>

#include "AskpassHandler.h"
#include "NetString.h"
#include "OperationStatusDialog.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString askpassProgram()
{
    return QString::fromLocal8Bit(qgetenv("ZENTU_BIN_DIR")) + QStringLiteral("/askpass");
}

// An askpass run that is killed if the test leaves early.
struct AskpassRun
{
    QProcess process;

    AskpassRun(const QString& serverName, const QString& question)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("TALVENE_ASKPASS_SERVER"));
        if (!serverName.isNull())
            environment.insert(QStringLiteral("TALVENE_ASKPASS_SERVER"), serverName);
        process.setProcessEnvironment(environment);
        process.start(askpassProgram(), {question});
    }
    ~AskpassRun()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    // Waits with the event loop running, so our side of the socket is served.
    bool finish()
    {
        return QTest::qWaitFor([this] { return process.state() == QProcess::NotRunning; }, 20000);
    }
};

QPushButton* button(OperationStatusDialog& dialog, const QString& text)
{
    const auto buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("ButtonBox"))->buttons();
    for (QAbstractButton* candidate : buttons) {
        if (candidate->text() == text)
            return qobject_cast<QPushButton*>(candidate);
    }
    return nullptr;
}

QStringList buttonTexts(OperationStatusDialog& dialog)
{
    QStringList texts;
    const auto buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("ButtonBox"))->buttons();
    for (QAbstractButton* candidate : buttons)
        texts << candidate->text();
    return texts;
}

int currentPage(OperationStatusDialog& dialog)
{
    return dialog.findChild<QStackedWidget*>(QStringLiteral("StackedWidget"))->currentIndex();
}

// Types text key by key, including characters that have no key code.
void typeText(QWidget* widget, const QString& text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

QLineEdit* edit(OperationStatusDialog& dialog, const char* name)
{
    return dialog.findChild<QLineEdit*>(QLatin1String(name));
}

} // namespace

class TestAskpass : public QObject
{
    Q_OBJECT

private slots:
    void serverNamesAreDistinctAndPrivate();
    void programWithoutServerVariable();
    void programRelaysQuestionAndAnswer();
    void programCancelled();
    void questionInPiecesShownOnce();
    void bytesAfterQuestionStayUnread();
    void oversizedQuestionFails();
    void classification_data();
    void classification();
    void answerThroughDialog();
    void userQuestionPrefilledFromUser();
    void waitingConnectionServedAfterCurrent();
};

void TestAskpass::serverNamesAreDistinctAndPrivate()
{
    QLocalServer first;
    QLocalServer second;
    QString error;
    QVERIFY2(listenAskpassServer(&first, &error), qPrintable(error));
    QVERIFY2(listenAskpassServer(&second, &error), qPrintable(error));
    QVERIFY(first.serverName().startsWith(QLatin1String("askpass-")));
    QCOMPARE(first.serverName().size(), 8 + 32);
    QVERIFY(first.fullServerName() != second.fullServerName());

    struct stat info;
    QCOMPARE(::stat(QFile::encodeName(first.fullServerName()).constData(), &info), 0);
    QVERIFY(S_ISSOCK(info.st_mode));
    QCOMPARE(info.st_mode & 077, mode_t(0));
    QCOMPARE(info.st_uid, ::geteuid());
}

void TestAskpass::programWithoutServerVariable()
{
    AskpassRun run(QString(), QStringLiteral("Password: "));
    QVERIFY(run.finish());
    QVERIFY(run.process.exitCode() != 0);
    QVERIFY(run.process.readAllStandardOutput().isEmpty());
    QVERIFY(run.process.readAllStandardError().contains("TALVENE_ASKPASS_SERVER"));
}

void TestAskpass::programRelaysQuestionAndAnswer()
{
    QLocalServer server;
    QString error;
    QVERIFY2(listenAskpassServer(&server, &error), qPrintable(error));
    const QString question = QStringLiteral("Enter passphrase for key '/k/id':\nline two ");
    AskpassRun run(server.fullServerName(), question);
    QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 20000);
    QLocalSocket* socket = server.nextPendingConnection();
    const QByteArray expected = encodeNetString(question.toUtf8());
    QTRY_VERIFY_WITH_TIMEOUT(socket->bytesAvailable() >= expected.size(), 20000);
    QCOMPARE(socket->readAll(), expected);
    const QByteArray answer = QStringLiteral("s\u00e9cret\n").toUtf8();
    socket->write(encodeNetString(answer));
    QVERIFY(run.finish());
    QCOMPARE(run.process.exitCode(), 0);
    QCOMPARE(run.process.readAllStandardOutput(), answer);
}

void TestAskpass::programCancelled()
{
    QLocalServer server;
    QString error;
    QVERIFY2(listenAskpassServer(&server, &error), qPrintable(error));
    AskpassRun run(server.fullServerName(), QStringLiteral("Password: "));
    QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 20000);
    QLocalSocket* socket = server.nextPendingConnection();
    QTRY_VERIFY_WITH_TIMEOUT(socket->bytesAvailable() > 0, 20000);
    // A partial answer and then the connection closes: still a cancel.
    socket->write("5:abc");
    socket->flush();
    socket->disconnectFromServer();
    QVERIFY(run.finish());
    QVERIFY(run.process.exitCode() != 0);
    QVERIFY(run.process.readAllStandardOutput().isEmpty());
}

void TestAskpass::questionInPiecesShownOnce()
{
    QLocalServer server;
    QString error;
    QVERIFY2(listenAskpassServer(&server, &error), qPrintable(error));
    QLocalSocket client;
    client.connectToServer(server.fullServerName());
    QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 20000);
    QLocalSocket* socket = server.nextPendingConnection();
    AskpassHandler handler(socket);
    QSignalSpy questions(&handler, &AskpassHandler::needALittleHelpHere);

    const QByteArray frame = encodeNetString("Password:\0ignored");
    for (int i = 0; i < frame.size() - 1; i += 4) {
        client.write(frame.mid(i, qMin(4, frame.size() - 1 - i)));
        client.flush();
        QTRY_VERIFY_WITH_TIMEOUT(socket->bytesAvailable() == 0, 20000);
    }
    QCOMPARE(questions.count(), 0);
    QCOMPARE(handler.state(), AskpassHandler::Waiting);
    client.write(frame.right(1));
    QVERIFY(questions.wait(20000));
    QCOMPARE(questions.count(), 1);
    QCOMPARE(questions.at(0).at(0).toString(), QStringLiteral("Password:"));
    QCOMPARE(handler.state(), AskpassHandler::Received);
}

void TestAskpass::bytesAfterQuestionStayUnread()
{
    QLocalServer server;
    QString error;
    QVERIFY2(listenAskpassServer(&server, &error), qPrintable(error));
    QLocalSocket client;
    client.connectToServer(server.fullServerName());
    QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 20000);
    QLocalSocket* socket = server.nextPendingConnection();
    AskpassHandler handler(socket);
    QSignalSpy questions(&handler, &AskpassHandler::needALittleHelpHere);
    client.write("3:one,3:two,");
    client.flush();
    QVERIFY(questions.wait(20000));
    client.write("5:three,");
    client.flush();
    QTRY_VERIFY_WITH_TIMEOUT(socket->bytesAvailable() >= 8, 20000);
    QCOMPARE(questions.count(), 1);
    QCOMPARE(questions.at(0).at(0).toString(), QStringLiteral("one"));
    QVERIFY(handler.isValid());
}

void TestAskpass::oversizedQuestionFails()
{
    QLocalServer server;
    QString error;
    QVERIFY2(listenAskpassServer(&server, &error), qPrintable(error));
    QLocalSocket client;
    client.connectToServer(server.fullServerName());
    QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 20000);
    QLocalSocket* socket = server.nextPendingConnection();
    AskpassHandler handler(socket);
    QSignalSpy questions(&handler, &AskpassHandler::needALittleHelpHere);
    client.write(encodeNetString(QByteArray(65537, 'q')));
    QTRY_VERIFY_WITH_TIMEOUT(!handler.isValid(), 20000);
    QCOMPARE(handler.errorString(), QStringLiteral("Got a NetString length that is too big"));
    QVERIFY(!socket->isOpen());
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QLocalSocket::UnconnectedState, 20000);
    QCOMPARE(questions.count(), 0);
}

void TestAskpass::classification_data()
{
    QTest::addColumn<QString>("question");
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("sent");

    const QString hostKey = QStringLiteral(
        "The authenticity of host '[127.0.0.1]:2222 ([127.0.0.1]:2222)' can't be established.\n"
        "%1 key fingerprint is SHA256:8wE6SoCcB8br66pdMnb70Ec6L/gn2emd+e0GdK2xPqg.\n"
        "This key is not known by any other names.\n"
        "Are you sure you want to continue connecting (yes/no/[fingerprint])? ");
    QTest::newRow("rsa host key") << hostKey.arg(QStringLiteral("RSA")) << 2 << QStringLiteral("HostKeyLineEdit")
                                  << QStringLiteral("SHA256:8wE6SoCcB8br66pdMnb70Ec6L/gn2emd+e0GdK2xPqg")
                                  << QByteArray("3:yes,");
    QTest::newRow("ecdsa host key") << hostKey.arg(QStringLiteral("ECDSA")) << 1
                                    << QStringLiteral("InstructionsLabel") << hostKey.arg(QStringLiteral("ECDSA"))
                                    << QByteArray("0:,");
    QTest::newRow("update key") << QStringLiteral("Update key ab:cd for host example?") << 2
                                << QStringLiteral("HostKeyLineEdit") << QStringLiteral("ab:cd")
                                << QByteArray("4:save,");
    QTest::newRow("store key") << QStringLiteral("Store key ef:01 for host example?") << 2
                               << QStringLiteral("HostKeyLineEdit") << QStringLiteral("ef:01")
                               << QByteArray("4:save,");
    QTest::newRow("password") << QStringLiteral("root@127.0.0.1's password: ") << 1
                              << QStringLiteral("InstructionsLabel") << QStringLiteral("root@127.0.0.1's password: ")
                              << QByteArray("0:,");
}

void TestAskpass::classification()
{
    QFETCH(QString, question);
    QFETCH(int, page);
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(QByteArray, sent);

    QLocalServer server;
    QString error;
    QVERIFY2(listenAskpassServer(&server, &error), qPrintable(error));
    OperationStatusDialog dialog;
    connect(&server, &QLocalServer::newConnection, &dialog, &OperationStatusDialog::handleNewAskpassConnections);
    dialog.show();
    QCOMPARE(currentPage(dialog), 0);
    QCOMPARE(buttonTexts(dialog), QStringList{QStringLiteral("Abort")});

    QLocalSocket client;
    client.connectToServer(server.fullServerName());
    client.write(encodeNetString(question.toUtf8()));
    QTRY_COMPARE_WITH_TIMEOUT(currentPage(dialog), page, 20000);
    if (field == QLatin1String("InstructionsLabel"))
        QCOMPARE(dialog.findChild<QLabel*>(field)->text(), value);
    else
        QCOMPARE(dialog.findChild<QLineEdit*>(field)->text(), value);
    QCOMPARE(buttonTexts(dialog).size(), 2);
    QVERIFY(button(dialog, QStringLiteral("Continue"))->isDefault());
    QVERIFY(button(dialog, QStringLiteral("Abort")));

    QTest::mouseClick(button(dialog, QStringLiteral("Continue")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(client.bytesAvailable(), qint64(sent.size()), 20000);
    QCOMPARE(client.readAll(), sent);
    QCOMPARE(currentPage(dialog), page);

    client.disconnectFromServer();
    QTRY_COMPARE_WITH_TIMEOUT(currentPage(dialog), 0, 20000);
    QCOMPARE(buttonTexts(dialog), QStringList{QStringLiteral("Abort")});
    QVERIFY(dialog.findChild<QLabel*>(QStringLiteral("InstructionsLabel"))->text().isEmpty());
    QVERIFY(edit(dialog, "HostKeyLineEdit")->text().isEmpty());
    QVERIFY(edit(dialog, "AnswerLineEdit")->text().isEmpty());
    QVERIFY(edit(dialog, "UserLineEdit")->text().isEmpty());
}

void TestAskpass::answerThroughDialog()
{
    QLocalServer server;
    QString error;
    QVERIFY2(listenAskpassServer(&server, &error), qPrintable(error));
    OperationStatusDialog dialog;
    connect(&server, &QLocalServer::newConnection, &dialog, &OperationStatusDialog::handleNewAskpassConnections);
    dialog.show();

    AskpassRun run(server.fullServerName(), QStringLiteral("Enter passphrase for key '/k': "));
    QTRY_COMPARE_WITH_TIMEOUT(currentPage(dialog), 1, 20000);
    QLineEdit* answer = edit(dialog, "AnswerLineEdit");
    QCOMPARE(answer->echoMode(), QLineEdit::Password);
    const QString password = QStringLiteral("p\u00e4ss w\u00f6rd");
    typeText(answer, password);
    QCOMPARE(answer->text(), password);
    QTest::mouseClick(button(dialog, QStringLiteral("Continue")), Qt::LeftButton);
    QVERIFY(run.finish());
    QCOMPARE(run.process.exitCode(), 0);
    QCOMPARE(run.process.readAllStandardOutput(), password.toUtf8());
    QTRY_COMPARE_WITH_TIMEOUT(currentPage(dialog), 0, 20000);
    QVERIFY(answer->text().isEmpty());
}

void TestAskpass::userQuestionPrefilledFromUser()
{
    const QByteArray savedUser = qgetenv("USER");
    qputenv("USER", "alice");
    QLocalServer server;
    QString error;
    QVERIFY2(listenAskpassServer(&server, &error), qPrintable(error));
    OperationStatusDialog dialog;
    connect(&server, &QLocalServer::newConnection, &dialog, &OperationStatusDialog::handleNewAskpassConnections);
    dialog.show();

    AskpassRun run(server.fullServerName(), QStringLiteral("The user for \"example.org\": "));
    QTRY_COMPARE_WITH_TIMEOUT(currentPage(dialog), 3, 20000);
    qputenv("USER", savedUser);
    QLineEdit* user = edit(dialog, "UserLineEdit");
    QCOMPARE(user->text(), QStringLiteral("alice"));
    QCOMPARE(user->selectedText(), QStringLiteral("alice"));
    QTest::keyClicks(user, QStringLiteral("bob"));
    QTest::mouseClick(button(dialog, QStringLiteral("Continue")), Qt::LeftButton);
    QVERIFY(run.finish());
    QCOMPARE(run.process.exitCode(), 0);
    QCOMPARE(run.process.readAllStandardOutput(), QByteArray("bob"));
}

void TestAskpass::waitingConnectionServedAfterCurrent()
{
    QLocalServer server;
    QString error;
    QVERIFY2(listenAskpassServer(&server, &error), qPrintable(error));
    OperationStatusDialog dialog;
    connect(&server, &QLocalServer::newConnection, &dialog, &OperationStatusDialog::handleNewAskpassConnections);
    dialog.show();

    AskpassRun first(server.fullServerName(), QStringLiteral("first? "));
    QTRY_COMPARE_WITH_TIMEOUT(currentPage(dialog), 1, 20000);
    QLabel* instructions = dialog.findChild<QLabel*>(QStringLiteral("InstructionsLabel"));
    QCOMPARE(instructions->text(), QStringLiteral("first? "));
    // A second question arrives while the first is still on screen.
    AskpassRun second(server.fullServerName(), QStringLiteral("second? "));
    QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 20000);
    QCOMPARE(instructions->text(), QStringLiteral("first? "));

    QTest::keyClicks(edit(dialog, "AnswerLineEdit"), QStringLiteral("1"));
    QTest::mouseClick(button(dialog, QStringLiteral("Continue")), Qt::LeftButton);
    QVERIFY(first.finish());
    QCOMPARE(first.process.readAllStandardOutput(), QByteArray("1"));
    QTRY_COMPARE_WITH_TIMEOUT(instructions->text(), QStringLiteral("second? "), 20000);
    QCOMPARE(currentPage(dialog), 1);
    QTest::keyClicks(edit(dialog, "AnswerLineEdit"), QStringLiteral("2"));
    QTest::mouseClick(button(dialog, QStringLiteral("Continue")), Qt::LeftButton);
    QVERIFY(second.finish());
    QCOMPARE(second.process.readAllStandardOutput(), QByteArray("2"));
}

QTEST_MAIN(TestAskpass)
#include "tst_askpass.moc"
