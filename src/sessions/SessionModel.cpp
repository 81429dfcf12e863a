#include "SessionModel.h"

#include <QJsonArray>
#include <QJsonObject>

SessionModel::SessionModel(JsonRpcHandler* handler, QObject* parent)
    : PolledTableModel(handler, parent)
{
}

int SessionModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_sessions.size();
}

int SessionModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SessionModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case NameColumn:
        return tr("Name");
    case StartedColumn:
        return tr("Started");
    case LastConnectColumn:
        return tr("Last Connect");
    case LastDisconnectColumn:
        return tr("Last Disconnect");
    default:
        return QVariant();
    }
}

QString SessionModel::formatDateTime(const QDateTime& time, const QDateTime& now)
{
    if (time.isNull())
        return QString();
    if (time > now.addDays(-7))
        return time.toString(QStringLiteral("ddd h:mm AP"));
    return time.toString(QStringLiteral("MMM d yyyy h:mm AP"));
}

QVariant SessionModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_sessions.size())
        return QVariant();
    const Session& session = m_sessions.at(index.row());
    switch (index.column()) {
    case NameColumn:
        if (role == Qt::DisplayRole || role == Qt::EditRole || role == SortRole)
            return session.displayName();
        return QVariant();
    case StartedColumn:
    case LastConnectColumn:
    case LastDisconnectColumn: {
        const QDateTime& time = index.column() == StartedColumn ? session.started()
            : index.column() == LastConnectColumn               ? session.lastConnect()
                                                                : session.lastDisconnect();
        if (role == Qt::DisplayRole)
            return formatDateTime(time, QDateTime::currentDateTime());
        if (role == SortRole)
            return time;
        return QVariant();
    }
    default:
        return QVariant();
    }
}

Qt::ItemFlags SessionModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags base = QAbstractTableModel::flags(index);
    if (!index.isValid() || index.row() >= m_sessions.size())
        return base;
    if (index.column() == NameColumn)
        return base | Qt::ItemIsEditable | Qt::ItemIsDragEnabled;
    return base | Qt::ItemIsDragEnabled;
}

bool SessionModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_sessions.size()
        || index.column() != NameColumn || role != Qt::EditRole)
        return false;
    Session& session = m_sessions[index.row()];
    session.setName(value.toString());
    emit dataChanged(index, index);
    m_calls.cancelAll();
    sendParams(session.id(), session.name());
    requestList();
    return true;
}

const Session& SessionModel::session(int row) const
{
    if (row < 0 || row >= m_sessions.size())
        return Session::null;
    return m_sessions.at(row);
}

void SessionModel::requestList()
{
    m_calls.call(QStringLiteral("Zentu.list"), QJsonObject(), this,
                 [this](const QString& id, const QJsonValue& result, const QJsonValue& error) {
                     handleListSessionReply(id, result, error);
                 });
}

void SessionModel::sendParams(const QString& sessionId, const QString& name)
{
    m_calls.call(QStringLiteral("Zentu.params"),
                 QJsonObject{{QStringLiteral("id"), sessionId}, {QStringLiteral("name"), name}}, this,
                 [this](const QString& id, const QJsonValue& result, const QJsonValue& error) {
                     handleParamsReply(id, result, error);
                 });
}

void SessionModel::handleParamsReply(const QString& id, const QJsonValue&, const QJsonValue&)
{
    m_calls.remove(id);
}

void SessionModel::handleListSessionReply(const QString& id, const QJsonValue& result,
                                          const QJsonValue&)
{
    m_calls.remove(id);
    if (!result.isArray())
        return;
    QList<Session> sessions;
    const QJsonArray array = result.toArray();
    sessions.reserve(array.size());
    for (const QJsonValue& element : array) {
        Session session(element.toObject());
        if (session.isValid())
            sessions.append(session);
    }
    updateSessions(sessions);
}

void SessionModel::updateSessions(const QList<Session>& sessions)
{
    mergeById(m_sessions, sessions);
    emit sessionsUpdated();
}
