#include "BookmarkDialog.h"

#include "BookmarkModel.h"
#include "MinDelegate.h"
#include "WindowStyle.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStackedWidget>
#include <QTableView>

namespace {

void placeButton(QPushButton* button, const QRect& cell, int offset)
{
    const int cy = (cell.top() + cell.bottom()) / 2;
    button->setGeometry(QRect(QPoint(cell.left() + offset, cy - 10),
                              QPoint(cell.left() + offset + 20, cy + 10)));
    button->show();
}

} // namespace

BookmarkDialog::BookmarkDialog(JsonRpcHandler* handler, QWidget* parent)
    : QDialog(parent)
    , m_calls(handler)
    , m_bookmarkModel(new BookmarkModel(handler, BookmarkModel::Bookmarks, this))
    , m_historyModel(new BookmarkModel(handler, BookmarkModel::History, this))
    , m_stackedWidget(new QStackedWidget(this))
{
    setObjectName(QStringLiteral("BookmarkDialog"));
    resize(400, 300);
    setStyleSheet(windowStyleSheet());
    m_bookmarkModel->setObjectName(QStringLiteral("BookmarkListModel"));
    m_historyModel->setObjectName(QStringLiteral("HistoryListModel"));

    m_bookmarks = {m_bookmarkModel, new QSortFilterProxyModel(this), nullptr};
    m_history = {m_historyModel, new QSortFilterProxyModel(this), nullptr};
    m_bookmarks.view = createView(QStringLiteral("BookmarkListView"), m_bookmarkModel,
                                  m_bookmarks.proxy, 29);
    m_history.view = createView(QStringLiteral("HistoryListView"), m_historyModel,
                                m_history.proxy, 53);
    // History entries record what was started; only bookmarks are edited.
    m_history.view->setEditTriggers(QAbstractItemView::NoEditTriggers);

    m_stackedWidget->setObjectName(QStringLiteral("stackedWidget"));
    const struct {
        const char* name;
        QTableView* view;
    } pages[] = {{"BookmarkPage", m_bookmarks.view}, {"HistoryPage", m_history.view}};
    for (const auto& page : pages) {
        auto* widget = new QWidget(m_stackedWidget);
        widget->setObjectName(QLatin1String(page.name));
        auto* pageLayout = new QGridLayout(widget);
        pageLayout->setContentsMargins(0, 0, 0, 0);
        page.view->setParent(widget);
        pageLayout->addWidget(page.view, 0, 0);
        m_stackedWidget->addWidget(widget);
    }

    QPushButton* bookmarkButton = createToolButton(
        this, QStringLiteral("BookmarkButton"),
        QStringLiteral(":/images/resources/ios-bookmarks-outline.svg"), tr("Bookmarks"));
    QPushButton* historyButton = createToolButton(
        this, QStringLiteral("HistoryButton"), QStringLiteral(":/images/resources/ios-clock-outline.svg"),
        tr("History"));
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    for (QPushButton* button : {bookmarkButton, historyButton}) {
        button->setCheckable(true);
        group->addButton(button);
    }
    auto* buttonBox = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttonBox->setObjectName(QStringLiteral("ButtonBox"));

    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(3, 3, 3, 3);
    bottom->addWidget(bookmarkButton);
    bottom->addWidget(historyButton);
    bottom->addWidget(buttonBox);
    auto* layout = new QGridLayout(this);
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_stackedWidget, 0, 0);
    layout->addLayout(bottom, 1, 0);

    m_deleteBookmarkButton = createRowButton(m_bookmarks.view, QStringLiteral("DeleteBookmarkButton"),
                                             QStringLiteral(":/images/resources/close-round-white.svg"),
                                             "myAction");
    m_deleteHistoryButton = createRowButton(m_history.view, QStringLiteral("DeleteHistoryButton"),
                                            QStringLiteral(":/images/resources/close-round-white.svg"),
                                            "myAction");
    m_promoteHistoryButton = createRowButton(
        m_history.view, QStringLiteral("PromoteHistoryButton"),
        QStringLiteral(":/images/resources/android-star-outline-white.svg"), "myAction");

    m_stackedWidget->setCurrentIndex(1);
    historyButton->setChecked(true);

    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(bookmarkButton, &QPushButton::clicked, this, &BookmarkDialog::on_BookmarkButton_clicked);
    connect(historyButton, &QPushButton::clicked, this, &BookmarkDialog::on_HistoryButton_clicked);
    connect(m_deleteBookmarkButton, &QPushButton::clicked, this,
            &BookmarkDialog::on_DeleteBookmarkButton_clicked);
    connect(m_deleteHistoryButton, &QPushButton::clicked, this,
            &BookmarkDialog::on_DeleteHistoryButton_clicked);
    connect(m_promoteHistoryButton, &QPushButton::clicked, this,
            &BookmarkDialog::on_PromoteHistoryButton_clicked);
    connect(m_bookmarkModel, &BookmarkModel::bookmarksUpdated, this,
            &BookmarkDialog::on_BookmarkListModel_bookmarksUpdated);
    connect(m_historyModel, &BookmarkModel::bookmarksUpdated, this,
            &BookmarkDialog::on_HistoryListModel_bookmarksUpdated);
    connect(m_bookmarks.view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &BookmarkDialog::on_BookmarkListView_selectionChanged);
    connect(m_history.view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &BookmarkDialog::on_HistoryListView_selectionChanged);
    connect(m_bookmarks.view->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
            &BookmarkDialog::on_BookmarkListView_sortIndicatorChanged);
    connect(m_history.view->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
            &BookmarkDialog::on_HistoryListView_sortIndicatorChanged);
    for (QTableView* view : {m_bookmarks.view, m_history.view})
        connect(view->horizontalHeader(), &QHeaderView::sectionResized, this,
                &BookmarkDialog::placeButtons);
}

QTableView* BookmarkDialog::createView(const QString& objectName, BookmarkModel* model,
                                       QSortFilterProxyModel* proxy, int buttonColumnWidth)
{
    auto* view = new QTableView(this);
    view->setObjectName(objectName);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSortingEnabled(true);
    view->verticalHeader()->hide();
    view->setAttribute(Qt::WA_MacShowFocusRect, false);
    proxy->setDynamicSortFilter(false);
    proxy->setSortLocaleAware(true);
    proxy->setSortRole(BookmarkModel::SortRole);
    proxy->setSourceModel(model);
    view->setModel(proxy);
    view->setItemDelegateForColumn(BookmarkModel::ButtonColumn,
                                   new MinDelegate(buttonColumnWidth, this));
    view->horizontalHeader()->viewport()->installEventFilter(this);
    view->sortByColumn(BookmarkModel::CommandColumn, Qt::AscendingOrder);
    return view;
}

void BookmarkDialog::startUpdating()
{
    m_bookmarkModel->startUpdating();
    m_historyModel->startUpdating();
}

void BookmarkDialog::on_BookmarkButton_clicked(bool checked)
{
    if (checked)
        m_stackedWidget->setCurrentIndex(0);
}

void BookmarkDialog::on_HistoryButton_clicked(bool checked)
{
    if (checked)
        m_stackedWidget->setCurrentIndex(1);
}

Bookmark BookmarkDialog::selectedEntry(const Page& page) const
{
    const QModelIndexList selected = page.view->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return Bookmark::null;
    return page.model->bookmark(page.proxy->mapToSource(selected.first()).row());
}

void BookmarkDialog::send(const QJsonObject& params)
{
    m_calls.call(QStringLiteral("Zentu.bookmark"), params, this,
                 [this](const QString& id, const QJsonValue& result, const QJsonValue& error) {
                     handleBookmarkReply(id, result, error);
                 });
}

void BookmarkDialog::on_DeleteBookmarkButton_clicked()
{
    const Bookmark entry = selectedEntry(m_bookmarks);
    if (entry.isValid())
        send(QJsonObject{{QStringLiteral("op"), QStringLiteral("delete")},
                         {QStringLiteral("id"), entry.id()}});
}

void BookmarkDialog::on_DeleteHistoryButton_clicked()
{
    const Bookmark entry = selectedEntry(m_history);
    if (entry.isValid())
        send(QJsonObject{{QStringLiteral("op"), QStringLiteral("delete")},
                         {QStringLiteral("id"), entry.id()}});
}

void BookmarkDialog::on_PromoteHistoryButton_clicked()
{
    const Bookmark entry = selectedEntry(m_history);
    if (entry.isValid())
        send(QJsonObject{{QStringLiteral("op"), QStringLiteral("edit")},
                         {QStringLiteral("name"), entry.name()},
                         {QStringLiteral("command"), entry.command()},
                         {QStringLiteral("geometry"), entry.geometry()}});
}

void BookmarkDialog::handleBookmarkReply(const QString& id, const QJsonValue& result,
                                         const QJsonValue&)
{
    m_calls.remove(id);
    if (!result.isObject())
        return;
    const QJsonObject reply = result.toObject();
    for (BookmarkModel* model : {m_bookmarkModel, m_historyModel}) {
        model->updateBookmarks(BookmarkModel::entries(reply, BookmarkModel::listKey(model->kind())));
        model->forceUpdate();
    }
}

void BookmarkDialog::modelUpdated(const Page& page)
{
    page.proxy->sort(page.proxy->sortColumn(), page.proxy->sortOrder());
    QHeaderView* header = page.view->horizontalHeader();
    header->setSectionResizeMode(BookmarkModel::NameColumn, QHeaderView::Stretch);
    for (int column = BookmarkModel::CommandColumn; column < BookmarkModel::ColumnCount; ++column)
        header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    placeButtons();
}

void BookmarkDialog::on_BookmarkListModel_bookmarksUpdated()
{
    modelUpdated(m_bookmarks);
}

void BookmarkDialog::on_HistoryListModel_bookmarksUpdated()
{
    modelUpdated(m_history);
}

void BookmarkDialog::on_BookmarkListView_selectionChanged()
{
    placeButtons();
}

void BookmarkDialog::on_BookmarkListView_sortIndicatorChanged()
{
    placeButtons();
}

void BookmarkDialog::on_HistoryListView_selectionChanged()
{
    placeButtons();
}

void BookmarkDialog::on_HistoryListView_sortIndicatorChanged()
{
    placeButtons();
}

void BookmarkDialog::placeButtons()
{
    const QModelIndexList bookmarkSelection = m_bookmarks.view->selectionModel()->selectedIndexes();
    if (!selectedEntry(m_bookmarks).isValid()) {
        m_deleteBookmarkButton->hide();
    } else {
        const QModelIndex first = bookmarkSelection.first();
        const QRect r3 =
            m_bookmarks.view->visualRect(first.sibling(first.row(), BookmarkModel::ButtonColumn));
        placeButton(m_deleteBookmarkButton, r3, 4);
    }
    const QModelIndexList historySelection = m_history.view->selectionModel()->selectedIndexes();
    if (!selectedEntry(m_history).isValid()) {
        m_promoteHistoryButton->hide();
        m_deleteHistoryButton->hide();
    } else {
        const QModelIndex first = historySelection.first();
        const QRect r3 =
            m_history.view->visualRect(first.sibling(first.row(), BookmarkModel::ButtonColumn));
        placeButton(m_promoteHistoryButton, r3, 4);
        placeButton(m_deleteHistoryButton, r3, 28);
    }
}

bool BookmarkDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease) {
        for (QTableView* view : {m_bookmarks.view, m_history.view}) {
            if (watched != view->horizontalHeader()->viewport())
                continue;
            const auto* mouse = static_cast<QMouseEvent*>(event);
            // Column 3 only holds the row buttons.
            if (view->horizontalHeader()->logicalIndexAt(qRound(mouse->localPos().x()))
                == BookmarkModel::ButtonColumn)
                return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
