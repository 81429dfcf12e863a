#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

// One participant of a shared session as the server reports it.
class RdpViewer
{
public:
    static constexpr quint32 NoId = 0xFFFFFFFF;
    static const RdpViewer null;

    RdpViewer() = default;
    RdpViewer(quint32 id, const QString& name, bool owner, bool controller)
        : m_id(id), m_name(name), m_owner(owner), m_controller(controller)
    {
    }

    quint32 id() const { return m_id; }
    const QString& name() const { return m_name; }
    bool isOwner() const { return m_owner; }
    bool isController() const { return m_controller; }
    bool isValid() const { return m_id != NoId; }

    bool operator==(const RdpViewer& other) const
    {
        return m_id == other.m_id && m_name == other.m_name && m_owner == other.m_owner
               && m_controller == other.m_controller;
    }
    bool operator!=(const RdpViewer& other) const { return !(*this == other); }

private:
    quint32 m_id = NoId;
    QString m_name;
    bool m_owner = false;
    bool m_controller = false;
};

Q_DECLARE_METATYPE(RdpViewer)
Q_DECLARE_METATYPE(QList<RdpViewer>)
