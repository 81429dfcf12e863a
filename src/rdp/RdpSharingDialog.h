#pragma once

#include "RdpViewer.h"

#include <QDialog>

class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class RdpViewerModel;
struct RdpClientContext;

// The owner's controls of a shared session: sharing on and off, the key to
// hand out, and the participants with in-row buttons to give them control
// or remove them. Participants see the list; the server decides.
class RdpSharingDialog : public QDialog
{
    Q_OBJECT

public:
    RdpSharingDialog(RdpClientContext* context, const QString& sshHost, quint16 sshPort, QWidget* parent);

    void setClientId(quint32 id);
    void setStatus(bool sharing, const QList<RdpViewer>& viewers);

    const QString& sharingKey() const { return m_sharingKey; }
    bool isSharing() const { return m_sharing; }
    bool hasControl() const { return m_haveControl; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void on_SharingButton_clicked();
    void on_EmailAction_triggered();
    void on_ClipboardAction_triggered();
    void on_GiveControlButton_clicked();
    void on_KickViewerButton_clicked();
    void on_ViewerListModel_viewersUpdated();
    void placeButtons();

private:
    const RdpViewer& selectedViewer() const;

    RdpClientContext* m_context;
    QString m_sshHost;
    quint16 m_sshPort;
    RdpViewerModel* m_model;
    QSortFilterProxyModel* m_proxy;
    QTableView* m_view;
    QPushButton* m_sharingButton;
    QPushButton* m_shareKeyButton;
    QPushButton* m_giveControlButton;
    QPushButton* m_kickButton;
    QString m_sharingKey;
    quint32 m_clientId = RdpViewer::NoId;
    bool m_sharing = false;
    bool m_haveControl = false;
};
