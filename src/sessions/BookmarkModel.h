#pragma once

#include "Bookmark.h"
#include "PolledTableModel.h"

#include <QJsonValue>
#include <QList>

class QJsonObject;

// One of the server's three lists of start commands, polled every five
// seconds and merged into rows sorted by id. Bookmarks are edited in place.
class BookmarkModel : public PolledTableModel
{
    Q_OBJECT

public:
    enum Kind : unsigned { Suggestions = 0, Bookmarks = 1, History = 2 };
    enum Column { NameColumn, CommandColumn, GeometryColumn, ButtonColumn, ColumnCount };

    BookmarkModel(JsonRpcHandler* handler, unsigned kind, QObject* parent);

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

    void updateBookmarks(const QList<Bookmark>& bookmarks);

signals:
    void bookmarksUpdated();

public slots:
    void handleBookmarkReply(const QString& id, const QJsonValue& result, const QJsonValue& error);

protected:
    void requestList() override;

private:
    void sendEdit(const Bookmark& bookmark);
    void send(const QJsonObject& params);

    unsigned m_kind;
    QList<Bookmark> m_bookmarks;
};
