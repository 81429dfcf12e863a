#include "RdpViewerModel.h"

#include <QStringList>

const RdpViewer RdpViewer::null;

RdpViewerModel::RdpViewerModel(QObject* parent)
    : SortedTableModel(parent)
{
}

int RdpViewerModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_viewers.size();
}

int RdpViewerModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant RdpViewerModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() != 0 || index.row() >= m_viewers.size())
        return QVariant();
    const RdpViewer& viewer = m_viewers.at(index.row());
    if (role == SortRole)
        return viewer.name();
    if (role != Qt::DisplayRole)
        return QVariant();
    QStringList tags;
    if (viewer.id() == m_clientId)
        tags << tr("me");
    if (viewer.isOwner())
        tags << tr("owner");
    if (viewer.isController())
        tags << tr("controller");
    if (tags.isEmpty())
        return viewer.name();
    return tr("%1 (%2)").arg(viewer.name(), tags.join(QLatin1Char(',')));
}

QVariant RdpViewerModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole)
        return tr("Viewer");
    return QVariant();
}

Qt::ItemFlags RdpViewerModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags result = SortedTableModel::flags(index);
    if (index.isValid() && index.row() < m_viewers.size())
        result |= Qt::ItemIsDragEnabled;
    return result;
}

const RdpViewer& RdpViewerModel::viewerAt(int row) const
{
    if (row < 0 || row >= m_viewers.size())
        return RdpViewer::null;
    return m_viewers.at(row);
}

void RdpViewerModel::setClientId(quint32 id)
{
    const quint32 old = m_clientId;
    m_clientId = id;
    emitRowChanged(old);
    if (id != old)
        emitRowChanged(id);
}

void RdpViewerModel::setViewers(const QList<RdpViewer>& viewers)
{
    mergeById(m_viewers, viewers);
    emit viewersUpdated();
}

void RdpViewerModel::emitRowChanged(quint32 id)
{
    for (int row = 0; row < m_viewers.size(); ++row) {
        if (m_viewers.at(row).id() == id)
            emit dataChanged(index(row, 0), index(row, 0));
    }
}
