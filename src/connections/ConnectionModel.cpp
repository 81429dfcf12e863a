#include "ConnectionModel.h"

#include <QSize>

#include <algorithm>

namespace {

bool uidLess(const Connection& a, const Connection& b)
{
    return a.uid() < b.uid();
}

} // namespace

// Items have no children: a table that answered for any parent would look
// like an endless tree to views and proxies.
int ConnectionModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_connections.size();
}

int ConnectionModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant ConnectionModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() != 0 || index.row() < 0
        || index.row() >= m_connections.size())
        return QVariant();
    const Connection& connection = m_connections.at(index.row());

    switch (role) {
    case Qt::DisplayRole: {
        // The cell is drawn as rich text; the fields are the user's plain text.
        const QString name = connection.name().isEmpty() ? QStringLiteral("NO_NAME")
                                                          : connection.name().toHtmlEscaped();
        QStringList lines{QStringLiteral("<b><big>%1</big></b>").arg(name)};
        if (!connection.host().isEmpty()) {
            const QString host = connection.host().toHtmlEscaped();
            lines.append(connection.port() != 22
                             ? QStringLiteral("%1:%2").arg(host).arg(connection.port())
                             : host);
        }
        return lines.join(QStringLiteral("<br/>"));
    }
    case Qt::ToolTipRole: {
        QStringList lines{tr("Uid: %1").arg(connection.uid().toString())};
        if (!connection.name().isEmpty())
            lines.append(tr("Name: %1").arg(connection.name()));
        if (!connection.host().isEmpty())
            lines.append(tr("Host: %1").arg(connection.host()));
        if (connection.port() != 22)
            lines.append(tr("Port: %1").arg(connection.port()));
        if (!connection.user().isEmpty())
            lines.append(tr("User: %1").arg(connection.user()));
        if (!connection.sci().isEmpty())
            lines.append(tr("Sci: %1").arg(connection.sci()));
        if (connection.fips())
            lines.append(tr("FIPS mode enabled"));
        return lines.join(QLatin1Char('\n'));
    }
    case SortRole:
        return connection.name();
    default:
        return QVariant();
    }
}

// The list shows no row headers; a size hint of its own spares a view that
// sizes its rows to their contents from measuring a row number per row.
QVariant ConnectionModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical && role == Qt::SizeHintRole)
        return QSize(0, 0);
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags ConnectionModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags result = QAbstractTableModel::flags(index);
    if (index.isValid() && index.row() >= 0 && index.row() < m_connections.size())
        result |= Qt::ItemIsDragEnabled;
    return result;
}

void ConnectionModel::setConnections(QVector<Connection> connections)
{
    std::sort(connections.begin(), connections.end(), uidLess);
    beginResetModel();
    m_connections = std::move(connections);
    endResetModel();
}

QModelIndex ConnectionModel::addConnection(const Connection& connection)
{
    const int row = lowerBound(connection.uid());
    if (row < m_connections.size() && m_connections.at(row).uid() == connection.uid())
        return QModelIndex();
    beginInsertRows(QModelIndex(), row, row);
    m_connections.insert(row, connection);
    endInsertRows();
    return index(row, 0);
}

QModelIndex ConnectionModel::updateConnection(const Connection& connection)
{
    const int row = rowOf(connection.uid());
    if (row < 0)
        return QModelIndex();
    m_connections[row] = connection;
    const QModelIndex changed = index(row, 0);
    emit dataChanged(changed, changed);
    return changed;
}

void ConnectionModel::removeConnection(const Connection& connection)
{
    const int row = rowOf(connection.uid());
    if (row < 0)
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_connections.remove(row);
    endRemoveRows();
}

const Connection& ConnectionModel::connectionAt(int row) const
{
    if (row < 0 || row >= m_connections.size())
        return Connection::null;
    return m_connections.at(row);
}

int ConnectionModel::lowerBound(const QUuid& uid) const
{
    Connection probe;
    probe.setUid(uid);
    const auto it = std::lower_bound(m_connections.cbegin(), m_connections.cend(), probe, uidLess);
    return int(it - m_connections.cbegin());
}

int ConnectionModel::rowOf(const QUuid& uid) const
{
    const int row = lowerBound(uid);
    if (row < m_connections.size() && m_connections.at(row).uid() == uid)
        return row;
    return -1;
}
