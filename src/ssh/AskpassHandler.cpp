#include "AskpassHandler.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QLocalServer>

#include "RandomToken.h"
#include "SshLogging.h"

AskpassHandler::AskpassHandler(QIODevice* device, QObject* parent)
    : QObject(parent)
    , m_device(device)
{
    if (device)
        connect(device, &QIODevice::readyRead, this, &AskpassHandler::on_Device_readyRead);
}

bool AskpassHandler::isValid() const
{
    return m_state != Failed;
}

QString AskpassHandler::errorString() const
{
    return m_errorString;
}

AskpassHandler::State AskpassHandler::state() const
{
    return m_state;
}

void AskpassHandler::on_Device_readyRead()
{
    while (m_state != Failed && m_device && m_device->bytesAvailable() > 0) {
        // One question per connection: anything after it stays unread.
        if (m_state == Received)
            return;
        m_buffer.append(m_device->read(NetStringBuffer::ReadChunk));
        QByteArray payload;
        const NetStringBuffer::Outcome outcome = m_buffer.takeFrame(&payload);
        if (outcome == NetStringBuffer::Payload) {
            m_state = Received;
            const int nul = payload.indexOf('\0');
            if (nul >= 0)
                payload.truncate(nul);
            emit needALittleHelpHere(QString::fromUtf8(payload));
            return;
        }
        if (outcome != NetStringBuffer::NeedMore) {
            m_state = Failed;
            m_errorString = NetStringBuffer::errorString(outcome);
            qCWarning(lcSsh) << "Askpass question refused:" << m_errorString;
            m_device->close();
            return;
        }
    }
}

bool listenAskpassServer(QLocalServer* server, QString* error)
{
    QString token;
    if (!randomToken(&token, error))
        return false;
    // The socket carries passwords: only the user may connect to it.
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(QStringLiteral("askpass-%1").arg(token))) {
        *error = server->errorString();
        return false;
    }
    return true;
}
