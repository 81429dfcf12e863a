#include "RdpSharingKey.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>

namespace {

// Far above any real key; a pasted novel is not decoded.
constexpr int MaxKeyLength = 4096;

// A port member: absent or of another type gives 0, a number must be a
// whole number from 0 to 65535.
bool readPort(const QJsonObject& object, const QString& name, quint16* port)
{
    const QJsonValue value = object.value(name);
    *port = 0;
    if (!value.isDouble())
        return true;
    const double number = value.toDouble();
    if (std::floor(number) != number || number < 0 || number > 65535)
        return false;
    *port = static_cast<quint16>(number);
    return true;
}

bool isAcceptableHost(const QString& host)
{
    // A host name or an address literal: never an option for ssh, never
    // blanks, quotes or control characters (\z: "$" would let a final
    // newline through).
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_.:\\[\\]%][A-Za-z0-9_.:\\[\\]%-]{0,252}\\z"));
    return pattern.match(host).hasMatch();
}

QString acceptedWindowMode(const QString& mode)
{
    static const QRegularExpression pattern(QStringLiteral("^(rootless|fullscreen|[1-9][0-9]{0,3}x[1-9][0-9]{0,3})\\z"));
    return pattern.match(mode).hasMatch() ? mode : QStringLiteral("1024x768");
}

}

QString RdpSharingKey::encode() const
{
    QJsonObject object;
    object.insert(QStringLiteral("Hostname"), hostname);
    object.insert(QStringLiteral("SshPort"), sshPort);
    object.insert(QStringLiteral("RdpPort"), rdpPort);
    object.insert(QStringLiteral("Password"), password);
    return QString::fromLatin1(QJsonDocument(object).toJson(QJsonDocument::Compact).toBase64());
}

bool RdpSharingKey::decode(const QString& text, RdpSharingKey* key, QString* error)
{
    *error = QCoreApplication::translate("RdpSharingKey", "Invalid sharing key.");
    if (text.size() > MaxKeyLength)
        return false;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromBase64(text.trimmed().toLatin1()));
    if (!document.isObject())
        return false;
    const QJsonObject object = document.object();
    RdpSharingKey result;
    result.hostname = object.value(QStringLiteral("Hostname")).toString();
    result.password = object.value(QStringLiteral("Password")).toString();
    result.direct = object.value(QStringLiteral("Direct")).toBool(false);
    result.windowMode = acceptedWindowMode(object.value(QStringLiteral("WindowMode")).toString());
    if (!isAcceptableHost(result.hostname) || !readPort(object, QStringLiteral("SshPort"), &result.sshPort)
        || !readPort(object, QStringLiteral("RdpPort"), &result.rdpPort) || result.rdpPort == 0)
        return false;
    *key = result;
    error->clear();
    return true;
}
