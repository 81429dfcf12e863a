#include "RdpSharingDialog.h"

#include "RandomToken.h"
#include "RdpClientContext.h"
#include "RdpLogging.h"
#include "RdpSharingKey.h"
#include "RdpViewerModel.h"
#include "WindowStyle.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QUrl>

#include <algorithm>
#include <cstring>

RdpSharingDialog::RdpSharingDialog(RdpClientContext* context, const QString& sshHost, quint16 sshPort,
                                   QWidget* parent)
    : QDialog(parent)
    , m_context(context)
    , m_sshHost(sshHost)
    , m_sshPort(sshPort)
{
    setObjectName(QStringLiteral("RdpSharingDialog"));
    resize(400, 300);
    setStyleSheet(windowStyleSheet());

    auto* emailAction = new QAction(tr("Email"), this);
    emailAction->setObjectName(QStringLiteral("EmailAction"));
    emailAction->setToolTip(tr("Email the key."));
    auto* clipboardAction = new QAction(tr("Copy to Clipboard"), this);
    clipboardAction->setObjectName(QStringLiteral("ClipboardAction"));
    clipboardAction->setToolTip(tr("Copy the key to the clipboard."));

    auto* grid = new QGridLayout(this);
    grid->setObjectName(QStringLiteral("gridLayout"));
    auto* inner = new QGridLayout();
    inner->setObjectName(QStringLiteral("gridLayout_2"));
    grid->addLayout(inner, 0, 0);
    auto* row = new QHBoxLayout();
    row->setObjectName(QStringLiteral("horizontalLayout"));
    inner->addLayout(row, 0, 0);
    m_shareKeyButton = createToolButton(this, QStringLiteral("ShareKeyButton"), QStringLiteral(":/images/resources/share.svg"),
                                      tr("Share the secret key."));
    auto* menu = new QMenu(m_shareKeyButton);
    menu->addAction(emailAction);
    menu->addAction(clipboardAction);
    m_shareKeyButton->setMenu(menu);
    m_sharingButton = createToolButton(this, QStringLiteral("SharingButton"), QStringLiteral(":/images/resources/power.svg"),
                                     tr("Turn sharing on/off."));
    row->addWidget(m_sharingButton);
    row->addWidget(m_shareKeyButton);
    row->addStretch();

    m_model = new RdpViewerModel(this);
    m_model->setObjectName(QStringLiteral("ViewerListModel"));
    m_proxy = new QSortFilterProxyModel(this);
    m_proxy->setDynamicSortFilter(false);
    m_proxy->setSortLocaleAware(true);
    m_proxy->setSortRole(RdpViewerModel::SortRole);
    m_proxy->setSourceModel(m_model);
    m_proxy->sort(0, Qt::AscendingOrder);

    m_view = new QTableView(this);
    m_view->setObjectName(QStringLiteral("ViewerListView"));
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setShowGrid(false);
    m_view->setSortingEnabled(true);
    m_view->verticalHeader()->hide();
    m_view->setModel(m_proxy);
    m_view->sortByColumn(0, Qt::AscendingOrder);
    inner->addWidget(m_view, 1, 0);

    m_giveControlButton = createRowButton(m_view, QStringLiteral("GiveControlButton"),
                                          QStringLiteral(":/images/resources/ios-game-controller-b-outline-white.svg"),
                                          "myAction");
    m_giveControlButton->setToolTip(tr("Give control to this viewer."));
    m_kickButton = createRowButton(m_view, QStringLiteral("KickViewerButton"),
                                   QStringLiteral(":/images/resources/close-round-white.svg"), "myAction");
    m_kickButton->setToolTip(tr("Remove this viewer from the session."));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->setObjectName(QStringLiteral("ButtonBox"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    grid->addWidget(buttons, 1, 0);

    setTabOrder(m_sharingButton, m_giveControlButton);
    setTabOrder(m_giveControlButton, m_kickButton);
    setTabOrder(m_kickButton, m_view);

    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this, &RdpSharingDialog::placeButtons);
    connect(m_view->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this, &RdpSharingDialog::placeButtons);
    QMetaObject::connectSlotsByName(this);
    setClientId(RdpViewer::NoId);
}

void RdpSharingDialog::setClientId(quint32 id)
{
    m_clientId = id;
    m_model->setClientId(id);
    setStatus(false, {});
}

void RdpSharingDialog::setStatus(bool sharing, const QList<RdpViewer>& viewers)
{
    if (!sharing)
        m_sharingKey.clear();
    m_sharing = sharing;
    m_haveControl = false;
    for (const RdpViewer& viewer : viewers) {
        if (viewer.id() == m_clientId)
            m_haveControl = viewer.isController();
    }
    m_sharingButton->setIcon(resourceIcon(sharing ? QStringLiteral(":/images/resources/power-red.svg")
                                                   : QStringLiteral(":/images/resources/power.svg")));
    const bool owner = m_clientId == 0;
    m_sharingButton->setEnabled(owner);
    m_shareKeyButton->setEnabled(owner && sharing);
    m_view->setEnabled(sharing);
    m_model->setViewers(viewers);
}

void RdpSharingDialog::on_SharingButton_clicked()
{
    QzshareClientContext* qzshare = m_context->qzshare;
    if (m_sharing) {
        if (qzshare)
            qzshare->EndSharing(qzshare);
        return;
    }
    // A key is only present while a start waits for the server's answer.
    if (!m_sharingKey.isEmpty())
        return;
    RdpSharingKey key;
    QString error;
    if (!randomToken(&key.password, &error)) {
        qCWarning(lcRdp) << "cannot make a sharing password:" << error;
        return;
    }
    if (qzshare) {
        QByteArray password = key.password.toUtf8();
        qzshare->StartSharing(qzshare, password.constData());
        std::memset(password.data(), 0, static_cast<size_t>(password.size()));
    }
    key.hostname = m_sshHost;
    key.sshPort = m_sshPort;
    key.rdpPort = static_cast<quint16>(freerdp_settings_get_uint32(m_context->rdp()->settings, FreeRDP_ServerPort));
    m_sharingKey = key.encode();
}

void RdpSharingDialog::on_EmailAction_triggered()
{
    const QString body = tr("To join the session enter the following key when prompted\n\n%1").arg(m_sharingKey);
    QUrl url(QStringLiteral("mailto:"));
    url.setQuery(QStringLiteral("subject=%1&body=%2")
                     .arg(QString::fromLatin1(QUrl::toPercentEncoding(
                              tr("Join %1 Session").arg(QApplication::applicationName()))),
                          QString::fromLatin1(QUrl::toPercentEncoding(body))),
                 QUrl::StrictMode);
    QDesktopServices::openUrl(url);
}

void RdpSharingDialog::on_ClipboardAction_triggered()
{
    QApplication::clipboard()->setText(m_sharingKey, QClipboard::Clipboard);
}

const RdpViewer& RdpSharingDialog::selectedViewer() const
{
    const QModelIndexList rows = m_view->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return RdpViewer::null;
    return m_model->viewerAt(m_proxy->mapToSource(rows.first()).row());
}

void RdpSharingDialog::on_GiveControlButton_clicked()
{
    const RdpViewer& viewer = selectedViewer();
    if (viewer.isValid() && m_context->qzshare)
        m_context->qzshare->GiveControl(m_context->qzshare, viewer.id());
}

void RdpSharingDialog::on_KickViewerButton_clicked()
{
    const RdpViewer& viewer = selectedViewer();
    if (viewer.isValid() && m_context->qzshare)
        m_context->qzshare->KickUser(m_context->qzshare, viewer.id());
}

void RdpSharingDialog::on_ViewerListModel_viewersUpdated()
{
    m_proxy->sort(m_proxy->sortColumn(), m_proxy->sortOrder());
    m_view->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    placeButtons();
}

void RdpSharingDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    placeButtons();
}

void RdpSharingDialog::placeButtons()
{
    const RdpViewer& viewer = selectedViewer();
    if (!viewer.isValid()) {
        m_giveControlButton->hide();
        m_kickButton->hide();
        return;
    }
    const QModelIndex index = m_view->selectionModel()->selectedRows().first();
    const QRect r = m_view->visualRect(index);
    const int textWidth = m_view->sizeHintForIndex(index).width();
    const int side = std::min({20, r.bottom() - 7 - r.top(), r.right() - 7 - r.left()});
    const int top = r.top() + (r.height() - side) / 2;
    const QRect kick(QPoint(r.right() - 4 - side, top), QPoint(r.right() - 4, top + side - 1));
    const QRect give(QPoint(r.right() - 2 * side - 8, top), QPoint(r.right() - side - 8, top + side - 1));
    const bool owner = m_clientId == 0;
    m_giveControlButton->setEnabled(!viewer.isController() && (owner || m_haveControl));
    m_kickButton->setEnabled(owner && viewer.id() != 0);
    m_kickButton->setGeometry(kick);
    m_giveControlButton->setGeometry(give);
    m_kickButton->setVisible(r.left() + textWidth + 3 < kick.left());
    m_giveControlButton->setVisible(r.left() + textWidth + 3 < give.left());
}
