#pragma once

#include "Connection.h"

#include <QAbstractTableModel>
#include <QVector>

// The saved connections as a one-column table. Rows are kept in ascending
// uid order for lookups; the view sorts by name through a proxy (role 257).
class ConnectionModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    static constexpr int SortRole = Qt::UserRole + 1;

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void setConnections(QVector<Connection> connections);
    QModelIndex addConnection(const Connection& connection);
    QModelIndex updateConnection(const Connection& connection);
    void removeConnection(const Connection& connection);
    const Connection& connectionAt(int row) const;

private:
    // Position of the first record whose uid is not less than uid.
    int lowerBound(const QUuid& uid) const;
    int rowOf(const QUuid& uid) const;

    QVector<Connection> m_connections;
};
