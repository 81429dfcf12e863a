#include "Session.h"

#include <QHash>
#include <QJsonValue>

const Session Session::null;

namespace {

const int RecentDateTimes = 16384;

// Reads a fixed-width field of decimal digits; -1 when one is not a digit.
int digits(const QString& text, int from, int count)
{
    int value = 0;
    for (int i = from; i < from + count; ++i) {
        const QChar c = text.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

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
    // "yyyy-MM-ddThh:mm:ss" read by hand: a poll of a long session list
    // carries thousands of these, and the generic format parser is slow.
    if (text.size() != 19 || text.at(4) != QLatin1Char('-') || text.at(7) != QLatin1Char('-')
        || text.at(10) != QLatin1Char('T') || text.at(13) != QLatin1Char(':')
        || text.at(16) != QLatin1Char(':'))
        return QDateTime();
    // A local date-time costs a time-zone look-up to build, and every poll
    // repeats the same few thousand texts: keep the recent ones.
    thread_local QHash<QString, QDateTime> recent;
    const auto found = recent.constFind(text);
    if (found != recent.constEnd())
        return found.value();
    const int year = digits(text, 0, 4);
    // QDate takes a negative year as a date before Christ.
    if (year < 0)
        return QDateTime();
    const QDate date(year, digits(text, 5, 2), digits(text, 8, 2));
    const QTime time(digits(text, 11, 2), digits(text, 14, 2), digits(text, 17, 2));
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    if (recent.size() >= RecentDateTimes)
        recent.clear();
    return recent.insert(text, QDateTime(date, time, Qt::LocalTime)).value();
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
