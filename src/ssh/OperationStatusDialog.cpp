#include "OperationStatusDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QStyle>
#include <QVBoxLayout>

#include "AskpassHandler.h"
#include "NetString.h"

OperationStatusDialog::OperationStatusDialog(QWidget* parent)
    : QDialog(parent)
{
    resize(400, 160);

    m_stack = new QStackedWidget(this);
    m_stack->setObjectName(QStringLiteral("StackedWidget"));

    auto* progressPage = new QWidget(m_stack);
    auto* progressLayout = new QVBoxLayout(progressPage);
    progressLayout->addWidget(new QLabel(tr("Connecting..."), progressPage));
    m_stack->addWidget(progressPage);

    auto* answerPage = new QWidget(m_stack);
    auto* answerLayout = new QVBoxLayout(answerPage);
    m_instructions = new QLabel(answerPage);
    m_instructions->setObjectName(QStringLiteral("InstructionsLabel"));
    m_instructions->setWordWrap(true);
    m_instructions->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    // Questions may quote text the server chose (keyboard-interactive prompts).
    m_instructions->setTextFormat(Qt::PlainText);
    m_answer = new QLineEdit(answerPage);
    m_answer->setObjectName(QStringLiteral("AnswerLineEdit"));
    m_answer->setEchoMode(QLineEdit::Password);
    answerLayout->addWidget(m_instructions, 1);
    answerLayout->addWidget(m_answer);
    m_stack->addWidget(answerPage);

    auto* hostKeyPage = new QWidget(m_stack);
    auto* hostKeyLayout = new QVBoxLayout(hostKeyPage);
    auto* warningRow = new QHBoxLayout;
    auto* warningIcon = new QLabel(hostKeyPage);
    warningIcon->setObjectName(QStringLiteral("WarningIconLabel"));
    const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    warningIcon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(iconSize));
    auto* warningText =
        new QLabel(tr("This host is not recognized by the system. Are you sure you want to continue?"), hostKeyPage);
    warningText->setWordWrap(true);
    warningRow->addWidget(warningIcon, 0, Qt::AlignTop);
    warningRow->addWidget(warningText, 1);
    m_hostKey = new QLineEdit(hostKeyPage);
    m_hostKey->setObjectName(QStringLiteral("HostKeyLineEdit"));
    m_hostKey->setReadOnly(true);
    hostKeyLayout->addLayout(warningRow);
    hostKeyLayout->addWidget(m_hostKey);
    m_stack->addWidget(hostKeyPage);

    auto* userPage = new QWidget(m_stack);
    auto* userLayout = new QVBoxLayout(userPage);
    userLayout->addWidget(new QLabel(tr("The username for this connection:"), userPage));
    m_user = new QLineEdit(userPage);
    m_user->setObjectName(QStringLiteral("UserLineEdit"));
    userLayout->addWidget(m_user);
    m_stack->addWidget(userPage);

    m_buttons = new QDialogButtonBox(this);
    m_buttons->setObjectName(QStringLiteral("ButtonBox"));
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_stack, 1);
    layout->addWidget(m_buttons);

    m_stack->setCurrentIndex(ProgressPage);
    resetButtons();
}

void OperationStatusDialog::resetButtons()
{
    m_buttons->clear();
    QPushButton* abort = m_buttons->addButton(tr("Abort"), QDialogButtonBox::RejectRole);
    abort->setObjectName(QStringLiteral("AbortButton"));
    abort->setDefault(true);
}

void OperationStatusDialog::handleNewAskpassConnections()
{
    auto* server = qobject_cast<QLocalServer*>(sender());
    if (!server)
        return;
    m_server = server;
    if (!m_socket)
        acceptNextConnection();
}

void OperationStatusDialog::acceptNextConnection()
{
    if (!m_server)
        return;
    QLocalSocket* socket = m_server->nextPendingConnection();
    if (!socket)
        return;
    m_socket = socket;
    socket->setParent(nullptr);
    connect(this, &QObject::destroyed, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::disconnected, this, &OperationStatusDialog::on_CurrentSocket_disconnected);
    auto* handler = new AskpassHandler(socket, socket);
    connect(handler, &AskpassHandler::needALittleHelpHere, this, &OperationStatusDialog::helpOut);
    // The question may already be waiting in the socket.
    if (socket->bytesAvailable() > 0)
        handler->on_Device_readyRead();
}

void OperationStatusDialog::on_CurrentSocket_disconnected()
{
    m_instructions->clear();
    m_answer->clear();
    m_hostKey->clear();
    m_user->clear();
    resetButtons();
    m_stack->setCurrentIndex(ProgressPage);
    m_socket = nullptr;
    // A connection that arrived while this one was served would otherwise
    // wait for a newConnection signal that never comes.
    acceptNextConnection();
}

void OperationStatusDialog::helpOut(const QString& instructions)
{
    // Any key type: OpenSSH offers ED25519 and ECDSA host keys before RSA,
    // and its long question would not fit the answer page.
    static const QRegularExpression hostKey(QStringLiteral("\\b[A-Z][A-Z0-9-]* key fingerprint is (\\S+)\\."));
    static const QRegularExpression updateKey(QStringLiteral("Update key (.*) for host"));
    static const QRegularExpression storeKey(QStringLiteral("Store key (.*) for host"));
    static const QRegularExpression user(QStringLiteral("The user for \"(.*)\""));

    QRegularExpressionMatch match = hostKey.match(instructions);
    if (match.hasMatch()) {
        m_hostKey->setText(match.captured(1));
        showQuestionPage(HostKeyPage, m_hostKey, &OperationStatusDialog::sendYes);
        return;
    }
    for (const QRegularExpression* expression : {&updateKey, &storeKey}) {
        match = expression->match(instructions);
        if (match.hasMatch()) {
            m_hostKey->setText(match.captured(1));
            showQuestionPage(HostKeyPage, m_hostKey, &OperationStatusDialog::sendSave);
            return;
        }
    }
    if (user.match(instructions).hasMatch()) {
        m_user->setText(qEnvironmentVariable("USER"));
        showQuestionPage(UserPage, m_user, &OperationStatusDialog::sendUser);
        return;
    }
    m_instructions->setText(instructions);
    showQuestionPage(AnswerPage, m_answer, &OperationStatusDialog::sendAnswer);
}

void OperationStatusDialog::showQuestionPage(Page page, QLineEdit* focus, void (OperationStatusDialog::*sendSlot)())
{
    m_stack->setCurrentIndex(page);
    focus->selectAll();
    focus->setFocus();
    m_buttons->clear();
    QPushButton* proceed = m_buttons->addButton(tr("Continue"), QDialogButtonBox::AcceptRole);
    proceed->setObjectName(QStringLiteral("ContinueButton"));
    proceed->setDefault(true);
    connect(proceed, &QPushButton::clicked, this, sendSlot);
    QPushButton* abort = m_buttons->addButton(tr("Abort"), QDialogButtonBox::RejectRole);
    abort->setObjectName(QStringLiteral("AbortButton"));
}

void OperationStatusDialog::send(const QByteArray& payload)
{
    if (m_socket)
        m_socket->write(encodeNetString(payload));
}

void OperationStatusDialog::sendAnswer()
{
    send(m_answer->text().toUtf8());
}

void OperationStatusDialog::sendYes()
{
    send(QByteArrayLiteral("yes"));
}

void OperationStatusDialog::sendSave()
{
    send(QByteArrayLiteral("save"));
}

void OperationStatusDialog::sendUser()
{
    send(m_user->text().toUtf8());
}
