// Feeds the server's replies to the session list and the bookmark lists into
// their models, one reply after another as successive polls bring them, with
// a model tester watching every change the merge tells the views about.
//
// Input: one byte choosing the model (sessions, suggestions, bookmarks,
// history), then the JSON texts of the replies separated by zero bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QAbstractItemModelTester>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

#include "BookmarkModel.h"
#include "FuzzApp.h"
#include "JsonRepeatedKey.h"
#include "SessionModel.h"

namespace {

// The reply as the command channel hands it over: it refuses a reply that
// repeats a member.
QJsonValue replyValue(const QByteArray& text)
{
    if (jsonHasRepeatedKey(text))
        return QJsonValue();
    const QJsonDocument document = QJsonDocument::fromJson(text);
    if (document.isArray())
        return document.array();
    if (document.isObject())
        return document.object();
    return QJsonValue();
}

// After a reply that was taken, the rows are its valid entries sorted by id,
// of a repeated id the first, and every cell can be read.
template <typename Model, typename Row>
void checkRows(Model& model, const Row& (Model::*row)(int) const, const QList<Row>& incoming)
{
    QMap<QString, Row> expected;
    for (const Row& entry : incoming) {
        if (entry.isValid() && !expected.contains(entry.id()))
            expected.insert(entry.id(), entry);
    }
    if (model.rowCount() != expected.size())
        std::abort();
    int i = 0;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it, ++i) {
        if ((model.*row)(i) != it.value())
            std::abort();
        for (int column = 0; column < model.columnCount(); ++column) {
            const QModelIndex index = model.index(i, column);
            for (int role : {int(Qt::DisplayRole), int(Qt::EditRole), int(PolledTableModel::SortRole)})
                model.data(index, role);
            model.flags(index);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    fuzzApplication();
    const unsigned choice = data[0] % 4;
    const QList<QByteArray> replies =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data + 1), int(size - 1)).split('\0');

    const QString id = QStringLiteral("1");
    if (choice == 0) {
        SessionModel model(nullptr, nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
        for (const QByteArray& reply : replies) {
            const QJsonValue value = replyValue(reply);
            model.handleListSessionReply(id, value, QJsonValue());
            if (!value.isArray())
                continue;
            QList<Session> incoming;
            for (const QJsonValue& element : value.toArray())
                incoming.append(Session(element.toObject()));
            checkRows(model, &SessionModel::session, incoming);
        }
    } else {
        BookmarkModel model(nullptr, choice - 1, nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
        const QString key = BookmarkModel::listKey(model.kind());
        for (const QByteArray& reply : replies) {
            const QJsonValue value = replyValue(reply);
            model.handleBookmarkReply(id, value, QJsonValue());
            if (value.toObject().value(key).isArray())
                checkRows(model, &BookmarkModel::bookmark, BookmarkModel::entries(value.toObject(), key));
        }
    }
    return 0;
}
