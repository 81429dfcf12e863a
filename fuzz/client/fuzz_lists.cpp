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

#include "BookmarkModel.h"
#include "FuzzApp.h"
#include "SessionModel.h"

namespace {

QJsonValue replyValue(const QByteArray& text)
{
    const QJsonDocument document = QJsonDocument::fromJson(text);
    if (document.isArray())
        return document.array();
    if (document.isObject())
        return document.object();
    return QJsonValue();
}

// Rows are sorted by id without repeats, and every cell can be read.
template <typename Model, typename Row>
void checkRows(Model& model, Row (Model::*row)(int) const)
{
    for (int i = 0; i < model.rowCount(); ++i) {
        if (i > 0 && !((model.*row)(i - 1).id() < (model.*row)(i).id()))
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
            model.handleListSessionReply(id, replyValue(reply), QJsonValue());
            checkRows(model, &SessionModel::session);
        }
    } else {
        BookmarkModel model(nullptr, choice - 1, nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
        for (const QByteArray& reply : replies) {
            model.handleBookmarkReply(id, replyValue(reply), QJsonValue());
            checkRows(model, &BookmarkModel::bookmark);
        }
    }
    return 0;
}
