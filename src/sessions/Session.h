#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

// One session as the server lists it.
class Session
{
public:
    static const Session null;

    Session() = default;
    explicit Session(const QJsonObject& object);

    const QString& id() const { return m_id; }
    const QString& windowMode() const { return m_windowMode; }
    const QString& geometry() const { return m_geometry; }
    const QString& name() const { return m_name; }
    const QString& command() const { return m_command; }
    qint32 clients() const { return m_clients; }
    const QDateTime& started() const { return m_started; }
    const QDateTime& lastConnect() const { return m_lastConnect; }
    const QDateTime& lastDisconnect() const { return m_lastDisconnect; }

    void setName(const QString& name) { m_name = name; }

    // The name, or the command line for a session without one.
    QString displayName() const;
    bool isValid() const { return !m_id.isEmpty(); }

    bool operator==(const Session& other) const;
    bool operator!=(const Session& other) const { return !(*this == other); }

    // The server's date-time format, local time; a mismatch gives a null date-time.
    static QDateTime parseDateTime(const QString& text);

private:
    QString m_id;
    QString m_windowMode;
    QString m_geometry;
    QString m_name;
    QString m_command;
    qint32 m_clients = 0;
    QDateTime m_started;
    QDateTime m_lastConnect;
    QDateTime m_lastDisconnect;
};
