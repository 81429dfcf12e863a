#include "SessionModel.h"

#include "JsonRpcHandler.h"
#include "SortedMerge.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTimer>

SessionModel::SessionModel(JsonRpcHandler* handler, QObject* parent)
    : QAbstractTableModel(parent)
    , m_handler(handler)
    , m_updateTimer(new QTimer(this))
{
    m_updateTimer->setObjectName(QStringLiteral("UpdateTimer"));
    connect(m_updateTimer, &QTimer::timeout, this, &SessionModel::on_UpdateTimer_timeout);
}

SessionModel::~SessionModel()
{
    cancelPending();
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
    cancelPending();
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

bool SessionModel::isUpdating() const
{
    return m_updateTimer->isActive();
}

void SessionModel::requestList()
{
    if (!m_handler)
        return;
    QPointer<SessionModel> self(this);
    const QString id = m_handler->call(
        QStringLiteral("Zentu.list"), QJsonObject(),
        [self](const QString& replyId, const QJsonValue& result, const QJsonValue& error) {
            if (self)
                self->handleListSessionReply(replyId, result, error);
        });
    m_pending.insert(id);
}

void SessionModel::sendParams(const QString& sessionId, const QString& name)
{
    if (!m_handler)
        return;
    const QJsonObject params{{QStringLiteral("id"), sessionId}, {QStringLiteral("name"), name}};
    QPointer<SessionModel> self(this);
    const QString id = m_handler->call(
        QStringLiteral("Zentu.params"), params,
        [self](const QString& replyId, const QJsonValue& result, const QJsonValue& error) {
            if (self)
                self->handleParamsReply(replyId, result, error);
        });
    m_pending.insert(id);
}

void SessionModel::cancelPending()
{
    for (const QString& id : qAsConst(m_pending)) {
        if (m_handler)
            m_handler->cancel(id);
    }
    m_pending.clear();
}

void SessionModel::startUpdating()
{
    if (m_updateTimer->isActive())
        return;
    m_updateTimer->start(UpdateIntervalMs);
    requestList();
}

void SessionModel::forceUpdate()
{
    cancelPending();
    m_updateTimer->start(UpdateIntervalMs);
    requestList();
}

void SessionModel::on_UpdateTimer_timeout()
{
    if (m_pending.isEmpty())
        requestList();
}

void SessionModel::handleParamsReply(const QString& id, const QJsonValue&, const QJsonValue&)
{
    m_pending.remove(id);
}

void SessionModel::handleListSessionReply(const QString& id, const QJsonValue& result,
                                          const QJsonValue&)
{
    m_pending.remove(id);
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
    struct Callbacks {
        SessionModel* model;
        void beginInsert(int first, int last) { model->beginInsertRows(QModelIndex(), first, last); }
        void endInsert() { model->endInsertRows(); }
        void beginRemove(int first, int last) { model->beginRemoveRows(QModelIndex(), first, last); }
        void endRemove() { model->endRemoveRows(); }
        void changed(int row)
        {
            emit model->dataChanged(model->index(row, 0), model->index(row, ColumnCount - 1));
        }
    };
    mergeSortedById(m_sessions, sessions, Callbacks{this});
    emit sessionsUpdated();
}
