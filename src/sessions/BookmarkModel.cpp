#include "BookmarkModel.h"

#include <QJsonArray>
#include <QJsonObject>

BookmarkModel::BookmarkModel(JsonRpcHandler* handler, unsigned kind, QObject* parent)
    : PolledTableModel(handler, parent)
    , m_kind(kind)
{
}

QString BookmarkModel::listKey(unsigned kind)
{
    switch (kind) {
    case Suggestions:
        return QStringLiteral("suggestions");
    case Bookmarks:
        return QStringLiteral("bookmarks");
    default:
        return QStringLiteral("history");
    }
}

QList<Bookmark> BookmarkModel::entries(const QJsonObject& reply, const QString& key)
{
    QList<Bookmark> list;
    const QJsonValue value = reply.value(key);
    if (!value.isArray())
        return list;
    for (const QJsonValue& element : value.toArray()) {
        Bookmark bookmark(element.toObject());
        if (bookmark.isValid())
            list.append(bookmark);
    }
    return list;
}

int BookmarkModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_bookmarks.size();
}

int BookmarkModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant BookmarkModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case NameColumn:
        return tr("Name");
    case CommandColumn:
        return tr("Command");
    case GeometryColumn:
        return tr("Window Size");
    default:
        return QVariant();
    }
}

QVariant BookmarkModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_bookmarks.size())
        return QVariant();
    if (role != Qt::DisplayRole && role != Qt::EditRole && role != SortRole)
        return QVariant();
    const Bookmark& bookmark = m_bookmarks.at(index.row());
    switch (index.column()) {
    case NameColumn:
        return bookmark.name();
    case CommandColumn:
        return bookmark.command();
    case GeometryColumn:
        if (role == Qt::EditRole)
            return bookmark.isRootless() ? QString() : bookmark.geometry();
        return bookmark.geometryText();
    default:
        return QVariant();
    }
}

Qt::ItemFlags BookmarkModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags base = QAbstractTableModel::flags(index);
    if (!index.isValid() || index.row() >= m_bookmarks.size())
        return base;
    if (index.column() == ButtonColumn)
        return base | Qt::ItemIsDragEnabled;
    return base | Qt::ItemIsEditable | Qt::ItemIsDragEnabled;
}

bool BookmarkModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_bookmarks.size()
        || role != Qt::EditRole || index.column() > GeometryColumn)
        return false;
    Bookmark& bookmark = m_bookmarks[index.row()];
    const QString text = value.toString();
    switch (index.column()) {
    case NameColumn:
        bookmark.setName(text);
        break;
    case CommandColumn:
        bookmark.setCommand(text);
        break;
    default:
        bookmark.setGeometry(text.isEmpty() ? QStringLiteral("rootless") : text);
        break;
    }
    emit dataChanged(index, index);
    m_calls.cancelAll();
    sendEdit(bookmark);
    return true;
}

const Bookmark& BookmarkModel::bookmark(int row) const
{
    if (row < 0 || row >= m_bookmarks.size())
        return Bookmark::null;
    return m_bookmarks.at(row);
}

void BookmarkModel::send(const QJsonObject& params)
{
    m_calls.call(QStringLiteral("Zentu.bookmark"), params, this,
                 [this](const QString& id, const QJsonValue& result, const QJsonValue& error) {
                     handleBookmarkReply(id, result, error);
                 });
}

void BookmarkModel::requestList()
{
    send(QJsonObject{{QStringLiteral("op"), QStringLiteral("list")}});
}

void BookmarkModel::sendEdit(const Bookmark& bookmark)
{
    send(QJsonObject{{QStringLiteral("op"), QStringLiteral("edit")},
                     {QStringLiteral("id"), bookmark.id()},
                     {QStringLiteral("name"), bookmark.name()},
                     {QStringLiteral("command"), bookmark.command()},
                     {QStringLiteral("geometry"), bookmark.geometry()}});
}

void BookmarkModel::handleBookmarkReply(const QString& id, const QJsonValue& result,
                                        const QJsonValue&)
{
    m_calls.remove(id);
    if (!result.isObject())
        return;
    const QJsonObject reply = result.toObject();
    const QString key = listKey(m_kind);
    if (!reply.value(key).isArray())
        return;
    updateBookmarks(entries(reply, key));
}

void BookmarkModel::updateBookmarks(const QList<Bookmark>& bookmarks)
{
    mergeById(m_bookmarks, bookmarks);
    emit bookmarksUpdated();
}
