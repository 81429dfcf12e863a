#include "SciServer.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QRegularExpression>
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
// Request ids are echoed in replies; the client's ids have 32 characters.
constexpr int MaxRequestIdLength = 64;
// Bytes of an oversized frame looked at for its request id.
constexpr int OversizedHeadBytes = 256;
constexpr int QuotedInputLength = 48;

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
            QByteArray payload;
            if (m_buffer.takeFrame(&payload) == NetStringBuffer::LengthTooBig)
                refuseOversized();
            stop(0);
            return;
        }
        m_buffer.append(chunk, int(count));
        for (;;) {
            QByteArray payload;
            const NetStringBuffer::Outcome outcome = m_buffer.takeFrame(&payload);
            if (outcome == NetStringBuffer::NeedMore)
                break;
            if (outcome == NetStringBuffer::LengthTooBig) {
                // Wait for the start of the payload, where the request id stands.
                if (m_buffer.size() < OversizedHeadBytes)
                    break;
                refuseOversized();
                return;
            }
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
    const bool idFits = id.isUndefined() || id.isNull() || id.isDouble()
        || (id.isString() && id.toString().size() <= MaxRequestIdLength);
    if (!idFits) {
        Reply(this, QJsonValue::Null).error(InvalidRequest, QStringLiteral("Invalid request id"));
        return;
    }
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
        reply.error(MethodNotFound, QStringLiteral("Unknown method %1").arg(quotedInput(method.toString())));
        return;
    }
    handler.value()(params.toObject(), reply);
}

void SciServer::refuseOversized()
{
    // The client writes the id first, so the start of the frame usually names
    // the refused call and the client can show why its channel ends.
    static const QRegularExpression head(
        QStringLiteral("^\\s*\\+?\\d+:\\s*\\{\\s*\"id\"\\s*:\\s*\"([^\"\\\\]{1,%1})\"").arg(MaxRequestIdLength));
    const QRegularExpressionMatch match =
        head.match(QString::fromUtf8(m_buffer.buffer().left(OversizedHeadBytes)));
    std::fprintf(stderr, "zentu2_sci: %s\n", NetStringBuffer::errorText(NetStringBuffer::LengthTooBig));
    Reply(this, match.hasMatch() ? QJsonValue(match.captured(1)) : QJsonValue(QJsonValue::Null))
        .error(InvalidRequest,
               QStringLiteral("The request is larger than %1 bytes.").arg(NetStringBuffer::MaxPayload));
    stop(0);
}

void SciServer::send(const QJsonObject& message)
{
    if (m_stopped)
        return;
    QByteArray payload = QJsonDocument(message).toJson(QJsonDocument::Compact);
    if (payload.size() > NetStringBuffer::MaxPayload) {
        // The client must refuse such a frame and would lose its channel; the
        // stored data is bounded, so only unforeseen text (a huge data folder
        // path in a message) ends up here.
        std::fprintf(stderr, "zentu2_sci: a reply of %d bytes was replaced by an error\n",
                     int(payload.size()));
        const QJsonObject error{{QStringLiteral("code"), ServerError},
                                {QStringLiteral("message"), QStringLiteral("The reply is too large.")}};
        payload = QJsonDocument(QJsonObject{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                                            {QStringLiteral("id"), message.value(QStringLiteral("id"))},
                                            {QStringLiteral("error"), error}})
                      .toJson(QJsonDocument::Compact);
    }
    const QByteArray frame = encodeNetString(payload);
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

QString quotedInput(const QString& text)
{
    if (text.size() <= QuotedInputLength)
        return QStringLiteral("\"%1\"").arg(text);
    return QStringLiteral("\"%1...\"").arg(text.left(QuotedInputLength));
}

void registerCoreMethods(SciServer& server)
{
    server.registerMethod(QStringLiteral("Zentu.version"), [](const QJsonObject&, const SciServer::Reply& reply) {
        reply.result(QJsonObject{{QStringLiteral("version"), QLatin1String(kSciVersion)}});
    });
}
