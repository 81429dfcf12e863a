#include "Session.h"

#include <QJsonValue>

const Session Session::null;

namespace {

void readString(const QJsonObject& object, const QString& key, QString* field)
{
    const QJsonValue value = object.value(key);
    if (value.isString())
        *field = value.toString();
}

QDateTime readDateTime(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? Session::parseDateTime(value.toString()) : QDateTime();
}

} // namespace

Session::Session(const QJsonObject& object)
{
    readString(object, QStringLiteral("id"), &m_id);
    readString(object, QStringLiteral("windowMode"), &m_windowMode);
    readString(object, QStringLiteral("geometry"), &m_geometry);
    const QJsonValue params = object.value(QStringLiteral("params"));
    if (params.isObject())
        readString(params.toObject(), QStringLiteral("name"), &m_name);
    readString(object, QStringLiteral("command"), &m_command);
    const QJsonValue clients = object.value(QStringLiteral("clients"));
    if (clients.isDouble())
        m_clients = clients.toInt();
    m_started = readDateTime(object, QStringLiteral("started"));
    m_lastConnect = readDateTime(object, QStringLiteral("lastConnect"));
    m_lastDisconnect = readDateTime(object, QStringLiteral("lastDisconnect"));
}

QDateTime Session::parseDateTime(const QString& text)
{
    QDateTime time = QDateTime::fromString(text, QStringLiteral("yyyy-MM-ddThh:mm:ss"));
    if (time.isValid())
        time.setTimeSpec(Qt::LocalTime);
    return time;
}

QString Session::displayName() const
{
    return m_name.isEmpty() ? m_command : m_name;
}

bool Session::operator==(const Session& other) const
{
    return m_id == other.m_id && m_windowMode == other.m_windowMode
        && m_geometry == other.m_geometry && m_name == other.m_name
        && m_command == other.m_command && m_clients == other.m_clients
        && m_started == other.m_started && m_lastConnect == other.m_lastConnect
        && m_lastDisconnect == other.m_lastDisconnect;
}
