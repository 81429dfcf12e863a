#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

#include "NetString.h"

class QSocketNotifier;

// The command interface's JSON-RPC 2.0 server on standard input and output.
// It prints a login-like line and the marker line, then answers requests
// framed as netstrings, one reply per request, flushed as it is written.
class SciServer : public QObject
{
    Q_OBJECT

public:
    // Answers one request. Copies refer to the same request; only the first
    // answer is sent. A handler may answer at once or keep the reply and
    // answer later (replies need not follow the order of requests).
    class Reply
    {
    public:
        void result(const QJsonValue& value) const;
        // An error object {"code", "message"} plus the members of data.
        void error(int code, const QString& message, const QJsonObject& data = QJsonObject()) const;

    private:
        friend class SciServer;
        struct State;
        Reply(SciServer* server, const QJsonValue& id);
        std::shared_ptr<State> m_state;
    };

    using Handler = std::function<void(const QJsonObject& params, Reply reply)>;

    static constexpr int MethodNotFound = -32601;
    static constexpr int InvalidRequest = -32600;
    static constexpr int ParseError = -32700;
    static constexpr int InvalidParams = -32602;
    static constexpr int ServerError = -32000;

    explicit SciServer(QObject* parent = nullptr);
    // Reads from inputFd and writes to outputFd (standard input and output by default).
    SciServer(int inputFd, int outputFd, QObject* parent = nullptr);

    void registerMethod(const QString& name, Handler handler);

    // Prints the greeting and the marker and starts reading.
    void start();

signals:
    // Input ended or a request over the frame limit was refused (exitCode 0),
    // or a frame was malformed (exitCode 1, reason already written to
    // standard error).
    void finished(int exitCode);

private slots:
    void on_Input_activated();

private:
    void handlePayload(const QByteArray& payload);
    void refuseOversized();
    void send(const QJsonObject& message);
    void stop(int exitCode);

    int m_inputFd;
    int m_outputFd;
    QPointer<QSocketNotifier> m_notifier;
    NetStringBuffer m_buffer;
    QHash<QString, Handler> m_methods;
    bool m_stopped = false;
};

// Client text quoted in an error message, cut to a few dozen characters so
// that no reply grows with the size of a request.
QString quotedInput(const QString& text);

// Version the stand-in reports for "Zentu.version".
extern const char* const kSciVersion;

// Registers the methods every stand-in answers ("Zentu.version").
void registerCoreMethods(SciServer& server);
