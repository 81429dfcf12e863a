#pragma once

#include "Bookmark.h"

#include <QAbstractTableModel>
#include <QJsonValue>
#include <QList>
#include <QPointer>
#include <QSet>

class JsonRpcHandler;
class QJsonObject;
class QTimer;

// One of the server's three lists of start commands, polled every five
// seconds and merged into rows sorted by id. Bookmarks are edited in place.
class BookmarkModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum { SortRole = Qt::UserRole + 1 };
    enum Kind : unsigned { Suggestions = 0, Bookmarks = 1, History = 2 };
    enum Column { NameColumn, CommandColumn, GeometryColumn, ButtonColumn, ColumnCount };
    static constexpr int UpdateIntervalMs = 5000;

    BookmarkModel(JsonRpcHandler* handler, unsigned kind, QObject* parent);
    ~BookmarkModel() override;

    // The reply key of a kind: "suggestions", "bookmarks" or "history".
    static QString listKey(unsigned kind);
    // The valid entries of one list of a bookmark reply.
    static QList<Bookmark> entries(const QJsonObject& reply, const QString& key);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    unsigned kind() const { return m_kind; }
    const Bookmark& bookmark(int row) const;
    bool isUpdating() const;
    int pendingCount() const { return m_pending.size(); }

    void updateBookmarks(const QList<Bookmark>& bookmarks);

signals:
    void bookmarksUpdated();

public slots:
    void startUpdating();
    void forceUpdate();
    void on_UpdateTimer_timeout();
    void handleBookmarkReply(const QString& id, const QJsonValue& result, const QJsonValue& error);

private:
    void requestList();
    void sendEdit(const Bookmark& bookmark);
    void send(const QJsonObject& params);
    void cancelPending();

    unsigned m_kind;
    QList<Bookmark> m_bookmarks;
    QPointer<JsonRpcHandler> m_handler;
    QSet<QString> m_pending;
    QTimer* m_updateTimer;
};
