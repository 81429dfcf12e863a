#pragma once

#include "Session.h"

#include <QAbstractTableModel>
#include <QJsonValue>
#include <QList>
#include <QPointer>
#include <QSet>

class JsonRpcHandler;
class QTimer;

// The server's sessions of one connection, polled every five seconds and
// merged into rows sorted by id.
class SessionModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum { SortRole = Qt::UserRole + 1 };
    enum Column { NameColumn, ConnectColumn, StartedColumn, LastConnectColumn,
                  LastDisconnectColumn, TerminateColumn, ColumnCount };
    static constexpr int UpdateIntervalMs = 5000;

    SessionModel(JsonRpcHandler* handler, QObject* parent);
    ~SessionModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    const Session& session(int row) const;
    bool isUpdating() const;
    int pendingCount() const { return m_pending.size(); }

    void updateSessions(const QList<Session>& sessions);

    // The cell text of a date-time column: a weekday within the last seven
    // days, the full date before that.
    static QString formatDateTime(const QDateTime& time, const QDateTime& now);

signals:
    void sessionsUpdated();

public slots:
    void startUpdating();
    void forceUpdate();
    void on_UpdateTimer_timeout();
    void handleListSessionReply(const QString& id, const QJsonValue& result,
                                const QJsonValue& error);
    void handleParamsReply(const QString& id, const QJsonValue& result, const QJsonValue& error);

private:
    void requestList();
    void sendParams(const QString& sessionId, const QString& name);
    void cancelPending();

    QPointer<JsonRpcHandler> m_handler;
    QList<Session> m_sessions;
    QSet<QString> m_pending;
    QTimer* m_updateTimer;
};
