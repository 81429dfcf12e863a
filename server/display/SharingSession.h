#pragma once

#include "ChannelMessage.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

class DisplayServer;
class PeerConnection;

// Who takes part in the session and who drives it. Clients that log on with
// the session's password are its owner (client id 0); while sharing, clients
// that log on with the sharing password join as viewers with ids of their
// own. Only the participant in control has its input applied; everyone hears
// its id and the status (sharing, participants, control) over "qzshare".
class SharingSession
{
public:
    explicit SharingSession(DisplayServer& server);
    SharingSession(const SharingSession&) = delete;
    SharingSession& operator=(const SharingSession&) = delete;
    ~SharingSession();

    // Adds the peer as owner or viewer by its password; false when the
    // password is neither the session's nor the current sharing password.
    bool admit(PeerConnection* peer, const QByteArray& password, const QString& userName);
    void leave(PeerConnection* peer);
    // The peer's channels are ready: it hears its id and the status.
    void ready(PeerConnection* peer);

    bool isOwner(const PeerConnection* peer) const;
    bool hasControl(const PeerConnection* peer) const;
    // The pointer of the participant in control, shown to the others.
    void pointerEvent(PeerConnection* from, quint16 flags, quint16 x, quint16 y);
    void handleMessage(PeerConnection* from, const ChannelMessage& message);

private:
    struct Participant
    {
        PeerConnection* peer = nullptr;
        quint32 id = 0;
        QString name;
    };

    const Participant* find(const PeerConnection* peer) const;
    void startSharing(const QByteArray& payload);
    void endSharing();
    void kick(quint32 id);
    void giveControl(const Participant& from, quint32 id);
    // Control moves to id, or its holder goes: the keys and buttons it held
    // down are let go first.
    void handOver(quint32 id);
    // Drops the viewer's connection; the status goes out afterwards.
    void dismiss(PeerConnection* peer, quint32 reason);
    void forgetPassword();
    QByteArray statusPayload() const;
    void broadcastStatus();
    void sendStatus(PeerConnection* peer, const QByteArray& status);

    DisplayServer& m_server;
    std::vector<Participant> m_participants;
    QByteArray m_sharingPassword; // UTF-8
    bool m_sharing = false;
    quint32 m_controller = 0;
    quint32 m_nextId = 1;
};
