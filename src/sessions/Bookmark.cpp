#include "Bookmark.h"

#include <QCoreApplication>
#include <QJsonValue>

const Bookmark Bookmark::null;

namespace {

void readString(const QJsonObject& object, const QString& key, QString* field)
{
    const QJsonValue value = object.value(key);
    if (value.isString())
        *field = value.toString();
}

} // namespace

Bookmark::Bookmark(const QJsonObject& object)
{
    readString(object, QStringLiteral("id"), &m_id);
    readString(object, QStringLiteral("name"), &m_name);
    readString(object, QStringLiteral("command"), &m_command);
    readString(object, QStringLiteral("geometry"), &m_geometry);
}

bool Bookmark::isRootless() const
{
    return m_geometry == QLatin1String("rootless");
}

QString Bookmark::geometryText() const
{
    return isRootless() ? QCoreApplication::translate("Bookmark", "Single Application") : m_geometry;
}

bool Bookmark::operator==(const Bookmark& other) const
{
    return m_id == other.m_id && m_name == other.m_name && m_command == other.m_command
        && m_geometry == other.m_geometry;
}
