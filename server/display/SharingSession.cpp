#include "SharingSession.h"

#include "DisplayLog.h"
#include "DisplayServer.h"
#include "PeerConnection.h"
#include "ShareMessages.h"

#include <freerdp/error.h>

#include <algorithm>

namespace {

// Names are the clients' own RDP user names: bounded, and never empty.
constexpr int MaxNameLength = 64;
// What a dropped viewer is told before its connection closes.
constexpr quint32 KickedReason = 1;
constexpr quint32 SharingEndedReason = 2;

// Constant time: the comparison does not stop at the first difference.
bool secretsEqual(const QByteArray& given, const QByteArray& secret)
{
    unsigned diff = unsigned(given.size() ^ secret.size());
    const int length = std::max(1, int(secret.size()));
    for (int i = 0; i < given.size(); ++i)
        diff |= unsigned(char(given[i] ^ (secret.isEmpty() ? '\0' : secret[i % length])));
    return diff == 0 && !secret.isEmpty();
}

} // namespace

SharingSession::SharingSession(DisplayServer& server)
    : m_server(server)
{
}

SharingSession::~SharingSession()
{
    forgetPassword();
}

const SharingSession::Participant* SharingSession::find(const PeerConnection* peer) const
{
    const auto it = std::find_if(m_participants.begin(), m_participants.end(),
                                 [peer](const Participant& p) { return p.peer == peer; });
    return it == m_participants.end() ? nullptr : &*it;
}

bool SharingSession::admit(PeerConnection* peer, const QByteArray& password, const QString& userName)
{
    Participant participant;
    participant.peer = peer;
    participant.name = userName.left(MaxNameLength);
    if (participant.name.trimmed().isEmpty())
        participant.name = QStringLiteral("guest");
    if (m_server.checkPassword(password)) {
        participant.id = 0;
    } else if (m_sharing && secretsEqual(password, m_sharingPassword)) {
        participant.id = m_nextId++;
        qCInfo(lcDisplay) << "client" << peer->id() << "joins the shared session as participant"
                          << participant.id;
    } else {
        return false;
    }
    m_participants.push_back(participant);
    broadcastStatus();
    return true;
}

void SharingSession::leave(PeerConnection* peer)
{
    const Participant* participant = find(peer);
    if (!participant)
        return;
    const quint32 id = participant->id;
    m_participants.erase(m_participants.begin() + (participant - m_participants.data()));
    // Control goes back to the owner when its holder leaves.
    if (id == m_controller)
        handOver(0);
    broadcastStatus();
}

void SharingSession::ready(PeerConnection* peer)
{
    const Participant* participant = find(peer);
    if (!participant)
        return;
    peer->writeChannel("qzshare", ShareMessage::ClientId, encodeShareU32(participant->id));
    sendStatus(peer, statusPayload());
}

bool SharingSession::isOwner(const PeerConnection* peer) const
{
    const Participant* participant = find(peer);
    return participant && participant->id == 0;
}

bool SharingSession::hasControl(const PeerConnection* peer) const
{
    const Participant* participant = find(peer);
    return participant && participant->id == m_controller;
}

void SharingSession::pointerEvent(PeerConnection* from, quint16 flags, quint16 x, quint16 y)
{
    if (!m_sharing || !hasControl(from))
        return;
    const QByteArray event = encodeShareMouse(x, y, flags);
    for (const Participant& p : m_participants) {
        if (p.peer != from && p.peer->m_initialSent && !p.peer->m_closed)
            p.peer->writeChannel("qzshare", ShareMessage::MouseEvent, event);
    }
}

void SharingSession::handleMessage(PeerConnection* from, const ChannelMessage& message)
{
    const Participant* sender = find(from);
    if (!sender)
        return;
    const bool owner = sender->id == 0;
    quint32 id = 0;
    switch (message.type) {
    case ShareMessage::StartSharing:
        if (owner)
            startSharing(message.payload);
        break;
    case ShareMessage::EndSharing:
        if (owner)
            endSharing();
        break;
    case ShareMessage::KickUser:
        if (!decodeShareU32(message.payload, &id))
            qCWarning(lcDisplay) << "client" << from->id() << "short kick request dropped";
        else if (owner)
            kick(id);
        break;
    case ShareMessage::GiveControl:
        if (!decodeShareU32(message.payload, &id))
            qCWarning(lcDisplay) << "client" << from->id() << "short control request dropped";
        else if (owner || sender->id == m_controller)
            giveControl(*sender, id);
        break;
    default:
        qCInfo(lcDisplay) << "client" << from->id() << "qzshare message type" << message.type
                          << "ignored";
        return;
    }
    if (!owner && message.type != ShareMessage::GiveControl)
        qCWarning(lcDisplay) << "client" << from->id() << "may not change the sharing; refused";
}

void SharingSession::startSharing(const QByteArray& payload)
{
    QString password;
    if (!decodeSharePassword(payload, &password) || password.isEmpty()) {
        qCWarning(lcDisplay) << "start of sharing without a usable password dropped";
        return;
    }
    forgetPassword();
    m_sharingPassword = password.toUtf8();
    password.fill(QChar(0));
    m_sharing = true;
    qCInfo(lcDisplay) << "sharing started";
    broadcastStatus();
}

void SharingSession::endSharing()
{
    forgetPassword();
    m_sharing = false;
    if (m_controller != 0)
        handOver(0);
    std::vector<PeerConnection*> viewers;
    for (const Participant& p : m_participants) {
        if (p.id != 0)
            viewers.push_back(p.peer);
    }
    for (PeerConnection* viewer : viewers)
        dismiss(viewer, SharingEndedReason);
    qCInfo(lcDisplay) << "sharing ended;" << viewers.size() << "participants disconnected";
    broadcastStatus();
}

void SharingSession::kick(quint32 id)
{
    if (id == 0)
        return;
    for (const Participant& p : m_participants) {
        if (p.id == id) {
            qCInfo(lcDisplay) << "participant" << id << "removed by the owner";
            dismiss(p.peer, KickedReason);
            broadcastStatus();
            return;
        }
    }
}

void SharingSession::giveControl(const Participant& from, quint32 id)
{
    const bool known = std::any_of(m_participants.begin(), m_participants.end(),
                                   [id](const Participant& p) { return p.id == id; });
    if (!known || id == m_controller)
        return;
    qCInfo(lcDisplay) << "participant" << from.id << "gives control to" << id;
    handOver(id);
    broadcastStatus();
}

void SharingSession::handOver(quint32 id)
{
    m_server.releaseInput();
    m_controller = id;
}

void SharingSession::dismiss(PeerConnection* peer, quint32 reason)
{
    const Participant* participant = find(peer);
    if (!participant)
        return;
    if (participant->id == m_controller)
        handOver(0);
    m_participants.erase(m_participants.begin() + (participant - m_participants.data()));
    if (peer->m_closed)
        return;
    peer->writeChannel("qzshare", ShareMessage::DisconnectInfo, encodeShareU32(reason));
    peer->sendErrorInfoAndClose(ERRINFO_RPC_INITIATED_DISCONNECT);
}

void SharingSession::forgetPassword()
{
    m_sharingPassword.fill('\0');
    m_sharingPassword.clear();
}

QByteArray SharingSession::statusPayload() const
{
    // The owner once, however many of its clients are connected; then the
    // viewers in the order they joined.
    QList<ShareParticipant> list;
    for (const Participant& p : m_participants) {
        if (p.id == 0 && !list.isEmpty() && list.first().id == 0)
            continue;
        ShareParticipant entry { p.id, p.id == m_controller, p.name };
        if (p.id == 0)
            list.prepend(entry);
        else
            list.append(entry);
    }
    return encodeShareStatus(m_sharing, list);
}

void SharingSession::broadcastStatus()
{
    const QByteArray status = statusPayload();
    for (const Participant& p : m_participants)
        sendStatus(p.peer, status);
}

void SharingSession::sendStatus(PeerConnection* peer, const QByteArray& status)
{
    // Messages before the client is ready would be lost; it hears the status then.
    if (peer->m_initialSent && !peer->m_closed)
        peer->writeChannel("qzshare", ShareMessage::ServerStatus, status);
}
