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

#include <memory>

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

// An askpass server of a connection with its status dialog.
struct Relay
{
    QLocalServer server;
    OperationStatusDialog dialog;
    QString error;

    bool listen()
    {
        QObject::connect(&server, &QLocalServer::newConnection, &dialog,
                         &OperationStatusDialog::handleNewAskpassConnections);
        dialog.show();
        return listenAskpassServer(&server, &error);
    }
    void answer(const QString& text)
    {
        QTest::keyClicks(edit(dialog, "AnswerLineEdit"), text);
        QTest::mouseClick(button(dialog, QStringLiteral("Continue")), Qt::LeftButton);
    }
};

// A question reader on the server side of a fresh askpass connection.
struct Reader
{
    QLocalServer server;
    QLocalSocket client;
    QLocalSocket* socket = nullptr;
    std::unique_ptr<AskpassHandler> handler;
    std::unique_ptr<QSignalSpy> questions;

    bool open()
    {
        QString error;
        if (!listenAskpassServer(&server, &error))
            return false;
        client.connectToServer(server.fullServerName());
        if (!QTest::qWaitFor([this] { return server.hasPendingConnections(); }, 20000))
            return false;
        socket = server.nextPendingConnection();
        handler = std::make_unique<AskpassHandler>(socket);
        questions = std::make_unique<QSignalSpy>(handler.get(), &AskpassHandler::needALittleHelpHere);
        return true;
    }
};

} // namespace

class TestAskpass : public QObject
{
    Q_OBJECT

private slots:
    void serverNamesAreDistinctAndPrivate();
    void programFailsWithoutAnswer();
    void questionInPiecesShownOnce();
    void oversizedQuestionFails();
    void classification_data();
    void classification();
    void answerThroughDialog();
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

void TestAskpass::programFailsWithoutAnswer()
{
    AskpassRun unset(QString(), QStringLiteral("Password: "));
    QVERIFY(unset.finish());
    QVERIFY(unset.process.exitCode() != 0);
    QVERIFY(unset.process.readAllStandardOutput().isEmpty());
    QVERIFY(unset.process.readAllStandardError().contains("TALVENE_ASKPASS_SERVER"));

    // A partial answer and then the connection closes: a cancel.
    QLocalServer server;
    QString error;
    QVERIFY2(listenAskpassServer(&server, &error), qPrintable(error));
    AskpassRun run(server.fullServerName(), QStringLiteral("Password: "));
    QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 20000);
    QLocalSocket* socket = server.nextPendingConnection();
    QTRY_VERIFY_WITH_TIMEOUT(socket->bytesAvailable() > 0, 20000);
    socket->write("5:abc");
    socket->flush();
    socket->disconnectFromServer();
    QVERIFY(run.finish());
    QVERIFY(run.process.exitCode() != 0);
    QVERIFY(run.process.readAllStandardOutput().isEmpty());
}

void TestAskpass::questionInPiecesShownOnce()
{
    Reader reader;
    QVERIFY(reader.open());
    const QByteArray frame = encodeNetString("Password:\0ignored");
    for (int i = 0; i < frame.size() - 1; i += 4) {
        reader.client.write(frame.mid(i, qMin(4, frame.size() - 1 - i)));
        reader.client.flush();
        QTRY_VERIFY_WITH_TIMEOUT(reader.socket->bytesAvailable() == 0, 20000);
    }
    QCOMPARE(reader.questions->count(), 0);
    QCOMPARE(reader.handler->state(), AskpassHandler::Waiting);
    reader.client.write(frame.right(1));
    QVERIFY(reader.questions->wait(20000));
    QCOMPARE(reader.questions->at(0).at(0).toString(), QStringLiteral("Password:"));
    QCOMPARE(reader.handler->state(), AskpassHandler::Received);

    // Whatever follows the question on the connection stays unread.
    reader.client.write("3:two,5:three,");
    reader.client.flush();
    QTRY_VERIFY_WITH_TIMEOUT(reader.socket->bytesAvailable() >= 14, 20000);
    QCOMPARE(reader.questions->count(), 1);
    QVERIFY(reader.handler->isValid());
}

void TestAskpass::oversizedQuestionFails()
{
    Reader reader;
    QVERIFY(reader.open());
    reader.client.write(encodeNetString(QByteArray(65537, 'q')));
    QTRY_VERIFY_WITH_TIMEOUT(!reader.handler->isValid(), 20000);
    QCOMPARE(reader.handler->errorString(), QStringLiteral("Got a NetString length that is too big"));
    QVERIFY(!reader.socket->isOpen());
    QTRY_COMPARE_WITH_TIMEOUT(reader.client.state(), QLocalSocket::UnconnectedState, 20000);
    QCOMPARE(reader.questions->count(), 0);
}

void TestAskpass::classification_data()
{
    QTest::addColumn<QString>("question");
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("sent");

    // A host key of any type goes to the fingerprint page; the login cases
    // show that with the real ssh.
    const QString hostKey = QStringLiteral(
        "The authenticity of host '[127.0.0.1]:2222 ([127.0.0.1]:2222)' can't be established.\n"
        "ECDSA key fingerprint is SHA256:8wE6SoCcB8br66pdMnb70Ec6L/gn2emd+e0GdK2xPqg.\n"
        "This key is not known by any other names.\n"
        "Are you sure you want to continue connecting (yes/no/[fingerprint])? ");
    QTest::newRow("ecdsa host key") << hostKey << 2 << QStringLiteral("HostKeyLineEdit")
                                    << QStringLiteral("SHA256:8wE6SoCcB8br66pdMnb70Ec6L/gn2emd+e0GdK2xPqg")
                                    << QByteArray("3:yes,");
    QTest::newRow("update key") << QStringLiteral("Update key ab:cd for host example?") << 2
                                << QStringLiteral("HostKeyLineEdit") << QStringLiteral("ab:cd")
                                << QByteArray("4:save,");
    QTest::newRow("store key") << QStringLiteral("Store key ef:01 for host example?") << 2
                               << QStringLiteral("HostKeyLineEdit") << QStringLiteral("ef:01")
                               << QByteArray("4:save,");
    // USER is "alice" while these run.
    QTest::newRow("user") << QStringLiteral("The user for \"example.org\": ") << 3 << QStringLiteral("UserLineEdit")
                          << QStringLiteral("alice") << QByteArray("5:alice,");
}

void TestAskpass::classification()
{
    QFETCH(QString, question);
    QFETCH(int, page);
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(QByteArray, sent);

    const QByteArray savedUser = qgetenv("USER");
    qputenv("USER", "alice");
    const auto restoreUser = qScopeGuard([&savedUser] { qputenv("USER", savedUser); });
    Relay relay;
    QVERIFY2(relay.listen(), qPrintable(relay.error));
    OperationStatusDialog& dialog = relay.dialog;
    QCOMPARE(currentPage(dialog), 0);
    QCOMPARE(buttonTexts(dialog), QStringList{QStringLiteral("Abort")});

    QLocalSocket client;
    client.connectToServer(relay.server.fullServerName());
    client.write(encodeNetString(question.toUtf8()));
    QTRY_COMPARE_WITH_TIMEOUT(currentPage(dialog), page, 20000);
    if (field == QLatin1String("InstructionsLabel")) {
        QCOMPARE(dialog.findChild<QLabel*>(field)->text(), value);
    } else {
        QCOMPARE(dialog.findChild<QLineEdit*>(field)->text(), value);
        QCOMPARE(dialog.findChild<QLineEdit*>(field)->selectedText(), value);
    }
    QCOMPARE(buttonTexts(dialog), (QStringList{QStringLiteral("Continue"), QStringLiteral("Abort")}));
    QVERIFY(button(dialog, QStringLiteral("Continue"))->isDefault());

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
    Relay relay;
    QVERIFY2(relay.listen(), qPrintable(relay.error));
    // The question reaches the dialog as the bytes askpass was given.
    const QString question = QStringLiteral("Enter passphrase for key '/k/id':\nline two ");
    AskpassRun run(relay.server.fullServerName(), question);
    QTRY_COMPARE_WITH_TIMEOUT(currentPage(relay.dialog), 1, 20000);
    QCOMPARE(relay.dialog.findChild<QLabel*>(QStringLiteral("InstructionsLabel"))->text(), question);
    QLineEdit* answer = edit(relay.dialog, "AnswerLineEdit");
    QCOMPARE(answer->echoMode(), QLineEdit::Password);
    const QString password = QStringLiteral("p\u00e4ss w\u00f6rd");
    typeText(answer, password);
    QCOMPARE(answer->text(), password);
    QTest::mouseClick(button(relay.dialog, QStringLiteral("Continue")), Qt::LeftButton);
    QVERIFY(run.finish());
    QCOMPARE(run.process.exitCode(), 0);
    // Printed as sent, without a line break of askpass's own.
    QCOMPARE(run.process.readAllStandardOutput(), password.toUtf8());
    QTRY_COMPARE_WITH_TIMEOUT(currentPage(relay.dialog), 0, 20000);
    QVERIFY(answer->text().isEmpty());
}

void TestAskpass::waitingConnectionServedAfterCurrent()
{
    Relay relay;
    QVERIFY2(relay.listen(), qPrintable(relay.error));
    AskpassRun first(relay.server.fullServerName(), QStringLiteral("first? "));
    QTRY_COMPARE_WITH_TIMEOUT(currentPage(relay.dialog), 1, 20000);
    QLabel* instructions = relay.dialog.findChild<QLabel*>(QStringLiteral("InstructionsLabel"));
    QCOMPARE(instructions->text(), QStringLiteral("first? "));
    // A second question arrives while the first is still on screen.
    AskpassRun second(relay.server.fullServerName(), QStringLiteral("second? "));
    QTRY_VERIFY_WITH_TIMEOUT(relay.server.hasPendingConnections(), 20000);
    QCOMPARE(instructions->text(), QStringLiteral("first? "));

    relay.answer(QStringLiteral("1"));
    QVERIFY(first.finish());
    QCOMPARE(first.process.readAllStandardOutput(), QByteArray("1"));
    QTRY_COMPARE_WITH_TIMEOUT(instructions->text(), QStringLiteral("second? "), 20000);
    QCOMPARE(currentPage(relay.dialog), 1);
    relay.answer(QStringLiteral("2"));
    QVERIFY(second.finish());
    QCOMPARE(second.process.readAllStandardOutput(), QByteArray("2"));
}

QTEST_MAIN(TestAskpass)
#include "tst_askpass.moc"
