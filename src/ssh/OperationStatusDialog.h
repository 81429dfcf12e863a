#pragma once

#include <QDialog>
#include <QPointer>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QLocalServer;
class QLocalSocket;
class QStackedWidget;

// Shown while a login runs: "Connecting...", or the question ssh (or the
// device) asks through askpass, with a field for the answer. One askpass
// connection is served at a time.
class OperationStatusDialog : public QDialog
{
    Q_OBJECT

public:
    enum Page { ProgressPage = 0, AnswerPage = 1, HostKeyPage = 2, UserPage = 3 };

    explicit OperationStatusDialog(QWidget* parent = nullptr);

public slots:
    // Connect to the askpass server's newConnection.
    void handleNewAskpassConnections();
    void on_CurrentSocket_disconnected();
    void helpOut(const QString& instructions);
    void sendAnswer();
    void sendYes();
    void sendSave();
    void sendUser();

private:
    void acceptNextConnection();
    void resetButtons();
    void showQuestionPage(Page page, QLineEdit* focus, void (OperationStatusDialog::*send)());
    void send(const QByteArray& payload);

    QStackedWidget* m_stack = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
    QLabel* m_instructions = nullptr;
    QLineEdit* m_answer = nullptr;
    QLineEdit* m_hostKey = nullptr;
    QLineEdit* m_user = nullptr;
    QPointer<QLocalServer> m_server;
    QPointer<QLocalSocket> m_socket;
};
