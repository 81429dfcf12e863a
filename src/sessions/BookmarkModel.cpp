#include "BookmarkModel.h"

#include "JsonRpcHandler.h"
#include "SortedMerge.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTimer>

BookmarkModel::BookmarkModel(JsonRpcHandler* handler, unsigned kind, QObject* parent)
    : QAbstractTableModel(parent)
    , m_kind(kind)
    , m_handler(handler)
    , m_updateTimer(new QTimer(this))
{
    m_updateTimer->setObjectName(QStringLiteral("UpdateTimer"));
    connect(m_updateTimer, &QTimer::timeout, this, &BookmarkModel::on_UpdateTimer_timeout);
}

BookmarkModel::~BookmarkModel()
{
    cancelPending();
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
    cancelPending();
    sendEdit(bookmark);
    return true;
}

const Bookmark& BookmarkModel::bookmark(int row) const
{
    if (row < 0 || row >= m_bookmarks.size())
        return Bookmark::null;
    return m_bookmarks.at(row);
}

bool BookmarkModel::isUpdating() const
{
    return m_updateTimer->isActive();
}

void BookmarkModel::send(const QJsonObject& params)
{
    if (!m_handler)
        return;
    QPointer<BookmarkModel> self(this);
    const QString id = m_handler->call(
        QStringLiteral("Zentu.bookmark"), params,
        [self](const QString& replyId, const QJsonValue& result, const QJsonValue& error) {
            if (self)
                self->handleBookmarkReply(replyId, result, error);
        });
    m_pending.insert(id);
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

void BookmarkModel::cancelPending()
{
    for (const QString& id : qAsConst(m_pending)) {
        if (m_handler)
            m_handler->cancel(id);
    }
    m_pending.clear();
}

void BookmarkModel::startUpdating()
{
    if (m_updateTimer->isActive())
        return;
    m_updateTimer->start(UpdateIntervalMs);
    requestList();
}

void BookmarkModel::forceUpdate()
{
    cancelPending();
    m_updateTimer->start(UpdateIntervalMs);
    requestList();
}

void BookmarkModel::on_UpdateTimer_timeout()
{
    if (m_pending.isEmpty())
        requestList();
}

void BookmarkModel::handleBookmarkReply(const QString& id, const QJsonValue& result,
                                        const QJsonValue&)
{
    m_pending.remove(id);
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
    struct Callbacks {
        BookmarkModel* model;
        void beginInsert(int first, int last) { model->beginInsertRows(QModelIndex(), first, last); }
        void endInsert() { model->endInsertRows(); }
        void beginRemove(int first, int last) { model->beginRemoveRows(QModelIndex(), first, last); }
        void endRemove() { model->endRemoveRows(); }
        void changed(int row)
        {
            emit model->dataChanged(model->index(row, 0), model->index(row, ColumnCount - 1));
        }
    };
    mergeSortedById(m_bookmarks, bookmarks, Callbacks{this});
    emit bookmarksUpdated();
}
