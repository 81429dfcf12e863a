#pragma once

#include <QString>

// What a sharing key carries: where the sharer's server is, the RDP port of
// the shared session and the sharing password. A key is the standard Base64
// of a compact JSON object.
struct RdpSharingKey
{
    QString hostname;
    // 0 lets the SSH client use its default port.
    quint16 sshPort = 0;
    quint16 rdpPort = 0;
    QString password;
    bool direct = false;
    // "rootless", "fullscreen" or a desktop size; "1024x768" unless the key
    // names one of these forms.
    QString windowMode = QStringLiteral("1024x768");

    // The key text the sharing dialog hands out: host name, both ports and
    // the password.
    QString encode() const;

    // Reads a key somebody pasted. Anything that could not have come from a
    // sharer (no object, no host name or RDP port, a host name that would
    // read as an option, ports outside 1..65535) fails with "Invalid sharing
    // key." and leaves key untouched.
    static bool decode(const QString& text, RdpSharingKey* key, QString* error);
};
