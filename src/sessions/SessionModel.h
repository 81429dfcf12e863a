#pragma once

#include "PolledTableModel.h"
#include "Session.h"

#include <QJsonValue>
#include <QList>

// The server's sessions of one connection, polled every five seconds and
// merged into rows sorted by id.
class SessionModel : public PolledTableModel
{
    Q_OBJECT

public:
    enum Column { NameColumn, ConnectColumn, StartedColumn, LastConnectColumn,
                  LastDisconnectColumn, TerminateColumn, ColumnCount };

    SessionModel(JsonRpcHandler* handler, QObject* parent);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    const Session& session(int row) const;

    void updateSessions(const QList<Session>& sessions);

    // The cell text of a date-time column: a weekday within the last seven
    // days, the full date before that.
    static QString formatDateTime(const QDateTime& time, const QDateTime& now);

signals:
    void sessionsUpdated();

public slots:
    void handleListSessionReply(const QString& id, const QJsonValue& result,
                                const QJsonValue& error);
    void handleParamsReply(const QString& id, const QJsonValue& result, const QJsonValue& error);

protected:
    void requestList() override;

private:
    void sendParams(const QString& sessionId, const QString& name);

    QList<Session> m_sessions;
};
