#pragma once

#include "RdpViewer.h"
#include "SortedTableModel.h"

// The participants of a shared session, one column, rows in ascending order
// of client id; the local client's row is tagged "me".
class RdpViewerModel : public SortedTableModel
{
    Q_OBJECT

public:
    enum { SortRole = Qt::UserRole + 1 };

    explicit RdpViewerModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    const RdpViewer& viewerAt(int row) const;
    quint32 clientId() const { return m_clientId; }
    void setClientId(quint32 id);
    void setViewers(const QList<RdpViewer>& viewers);

signals:
    void viewersUpdated();

private:
    void emitRowChanged(quint32 id);

    QList<RdpViewer> m_viewers;
    quint32 m_clientId = RdpViewer::NoId;
};
