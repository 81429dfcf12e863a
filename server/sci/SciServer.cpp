#include "SciServer.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

const char* const kSciVersion = "2.0.23";

namespace {

const char kGreeting[] = "Welcome to the Zentu test server\n";
const char kMarker[] = "---- BEGIN Zentu NetString ----\n";

bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= size_t(written);
    }
    return true;
}

} // namespace

struct SciServer::Reply::State
{
    QPointer<SciServer> server;
    QJsonValue id;
    bool answered = false;
};

SciServer::Reply::Reply(SciServer* server, const QJsonValue& id)
    : m_state(std::make_shared<State>())
{
    m_state->server = server;
    m_state->id = id;
}

void SciServer::Reply::result(const QJsonValue& value) const
{
    if (m_state->answered)
        return;
    m_state->answered = true;
    if (m_state->server)
        m_state->server->send({{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                               {QStringLiteral("id"), m_state->id},
                               {QStringLiteral("result"), value}});
}

void SciServer::Reply::error(int code, const QString& message, const QJsonObject& data) const
{
    if (m_state->answered)
        return;
    m_state->answered = true;
    QJsonObject error = data;
    error.insert(QStringLiteral("code"), code);
    error.insert(QStringLiteral("message"), message);
    if (m_state->server)
        m_state->server->send({{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                               {QStringLiteral("id"), m_state->id},
                               {QStringLiteral("error"), error}});
}

SciServer::SciServer(QObject* parent)
    : SciServer(STDIN_FILENO, STDOUT_FILENO, parent)
{
}

SciServer::SciServer(int inputFd, int outputFd, QObject* parent)
    : QObject(parent)
    , m_inputFd(inputFd)
    , m_outputFd(outputFd)
{
}

void SciServer::registerMethod(const QString& name, Handler handler)
{
    m_methods.insert(name, std::move(handler));
}

void SciServer::start()
{
    writeAll(m_outputFd, kGreeting, sizeof kGreeting - 1);
    writeAll(m_outputFd, kMarker, sizeof kMarker - 1);
    ::fcntl(m_inputFd, F_SETFL, ::fcntl(m_inputFd, F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(m_inputFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SciServer::on_Input_activated);
}

void SciServer::on_Input_activated()
{
    char chunk[NetStringBuffer::ReadChunk];
    for (;;) {
        const ssize_t count = ::read(m_inputFd, chunk, sizeof chunk);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            std::fprintf(stderr, "zentu2_sci: reading the input failed: %s\n", std::strerror(errno));
            stop(1);
            return;
        }
        if (count == 0) {
            stop(0);
            return;
        }
        m_buffer.append(chunk, int(count));
        for (;;) {
            QByteArray payload;
            const NetStringBuffer::Outcome outcome = m_buffer.takeFrame(&payload);
            if (outcome == NetStringBuffer::NeedMore)
                break;
            if (outcome != NetStringBuffer::Payload) {
                std::fprintf(stderr, "zentu2_sci: %s\n", NetStringBuffer::errorText(outcome));
                stop(1);
                return;
            }
            handlePayload(payload);
            if (m_stopped)
                return;
        }
    }
}

void SciServer::handlePayload(const QByteArray& payload)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        Reply(this, QJsonValue::Null).error(ParseError, QStringLiteral("Parse error"));
        return;
    }
    const QJsonObject request = document.object();
    const QJsonValue id = request.value(QStringLiteral("id"));
    const QJsonValue method = request.value(QStringLiteral("method"));
    const QJsonValue params = request.value(QStringLiteral("params"));
    if (request.value(QStringLiteral("jsonrpc")).toString() != QLatin1String("2.0") || !method.isString()
        || !(params.isObject() || params.isUndefined())) {
        Reply(this, id.isUndefined() ? QJsonValue(QJsonValue::Null) : id)
            .error(InvalidRequest, QStringLiteral("Invalid request"));
        return;
    }
    // A request without an id is a notification: it gets no reply.
    const Reply reply(this, id);
    if (id.isUndefined())
        reply.m_state->answered = true;
    const auto handler = m_methods.constFind(method.toString());
    if (handler == m_methods.constEnd()) {
        reply.error(MethodNotFound, QStringLiteral("Unknown method \"%1\"").arg(method.toString()));
        return;
    }
    handler.value()(params.toObject(), reply);
}

void SciServer::send(const QJsonObject& message)
{
    if (m_stopped)
        return;
    const QByteArray frame = encodeNetString(QJsonDocument(message).toJson(QJsonDocument::Compact));
    if (!writeAll(m_outputFd, frame.constData(), size_t(frame.size()))) {
        std::fprintf(stderr, "zentu2_sci: writing a reply failed: %s\n", std::strerror(errno));
        stop(1);
    }
}

void SciServer::stop(int exitCode)
{
    if (m_stopped)
        return;
    m_stopped = true;
    if (m_notifier)
        m_notifier->setEnabled(false);
    emit finished(exitCode);
}

void registerCoreMethods(SciServer& server)
{
    server.registerMethod(QStringLiteral("Zentu.version"), [](const QJsonObject&, const SciServer::Reply& reply) {
        reply.result(QJsonObject{{QStringLiteral("version"), QLatin1String(kSciVersion)}});
    });
}
