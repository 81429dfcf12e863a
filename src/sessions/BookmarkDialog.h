#pragma once

#include "Bookmark.h"
#include "PendingCalls.h"

#include <QDialog>
#include <QJsonObject>
#include <QJsonValue>

class BookmarkModel;
class QPushButton;
class QSortFilterProxyModel;
class QStackedWidget;
class QTableView;

// Manages the bookmarks and the start history kept on the server: bookmarks
// are edited in place, entries deleted, history entries made bookmarks.
class BookmarkDialog : public QDialog
{
    Q_OBJECT

public:
    BookmarkDialog(JsonRpcHandler* handler, QWidget* parent);

    BookmarkModel* bookmarkModel() const { return m_bookmarkModel; }
    BookmarkModel* historyModel() const { return m_historyModel; }

public slots:
    void startUpdating();
    void on_BookmarkButton_clicked(bool checked);
    void on_DeleteBookmarkButton_clicked();
    void on_DeleteHistoryButton_clicked();
    void on_HistoryButton_clicked(bool checked);
    void on_PromoteHistoryButton_clicked();
    void on_BookmarkListModel_bookmarksUpdated();
    void on_BookmarkListView_selectionChanged();
    void on_BookmarkListView_sortIndicatorChanged();
    void on_HistoryListModel_bookmarksUpdated();
    void on_HistoryListView_selectionChanged();
    void on_HistoryListView_sortIndicatorChanged();

public:
    void handleBookmarkReply(const QString& id, const QJsonValue& result, const QJsonValue& error);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Page {
        BookmarkModel* model;
        QSortFilterProxyModel* proxy;
        QTableView* view;
    };

    QTableView* createView(const QString& objectName, BookmarkModel* model,
                           QSortFilterProxyModel* proxy, int buttonColumnWidth);
    Bookmark selectedEntry(const Page& page) const;
    void modelUpdated(const Page& page);
    void placeButtons();
    void send(const QJsonObject& params);

    PendingCalls m_calls;
    BookmarkModel* m_bookmarkModel;
    BookmarkModel* m_historyModel;
    QStackedWidget* m_stackedWidget;
    Page m_bookmarks;
    Page m_history;
    QPushButton* m_deleteBookmarkButton;
    QPushButton* m_deleteHistoryButton;
    QPushButton* m_promoteHistoryButton;
};
