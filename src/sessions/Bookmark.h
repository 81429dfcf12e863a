#pragma once

#include <QJsonObject>
#include <QString>

// One entry of the server's suggestions, bookmarks or start history.
class Bookmark
{
public:
    static const Bookmark null;

    Bookmark() = default;
    explicit Bookmark(const QJsonObject& object);

    const QString& id() const { return m_id; }
    const QString& name() const { return m_name; }
    const QString& command() const { return m_command; }
    const QString& geometry() const { return m_geometry; }
    void setId(const QString& id) { m_id = id; }
    void setName(const QString& name) { m_name = name; }
    void setCommand(const QString& command) { m_command = command; }
    void setGeometry(const QString& geometry) { m_geometry = geometry; }

    bool isValid() const { return !m_id.isEmpty(); }
    bool isRootless() const;
    // "Single Application" for a rootless entry, else the geometry.
    QString geometryText() const;

    bool operator==(const Bookmark& other) const;
    bool operator!=(const Bookmark& other) const { return !(*this == other); }

private:
    QString m_id;
    QString m_name;
    QString m_command;
    QString m_geometry;
};
