#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include "NetString.h"

class QIODevice;
class QLocalServer;

// Reads the one question an askpass program sends on its connection.
class AskpassHandler : public QObject
{
    Q_OBJECT

public:
    enum State { Waiting = 0, Received = 1, Failed = 2 };

    explicit AskpassHandler(QIODevice* device, QObject* parent = nullptr);

    bool isValid() const;
    QString errorString() const;
    State state() const;

signals:
    // Emitted once per connection, when the whole question has arrived.
    void needALittleHelpHere(const QString& instructions);

public slots:
    void on_Device_readyRead();

private:
    QPointer<QIODevice> m_device;
    NetStringBuffer m_buffer;
    State m_state = Waiting;
    QString m_errorString;
};

// Makes server listen under "askpass-<random token>", reachable by the
// current user only. Returns false with a reason when it cannot.
bool listenAskpassServer(QLocalServer* server, QString* error);
