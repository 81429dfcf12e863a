#pragma once

#include "PendingCalls.h"

#include <QAbstractTableModel>
#include <QList>

#include <algorithm>

class QTimer;

// A table of one of the server's lists for one connection: asked for every
// five seconds, and merged into rows kept sorted by id. A tick is skipped
// while a request of the model is still outstanding, so a slow server never
// has more than one of them at a time.
class PolledTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum { SortRole = Qt::UserRole + 1 };
    static constexpr int UpdateIntervalMs = 5000;

    PolledTableModel(JsonRpcHandler* handler, QObject* parent);

    bool isUpdating() const;
    int pendingCount() const { return m_calls.size(); }

public slots:
    void startUpdating();
    // Asks at once, dropping the outstanding requests; the next tick is a
    // full interval away.
    void forceUpdate();
    void on_UpdateTimer_timeout();

protected:
    virtual void requestList() = 0;

    // Merges a fresh list into the rows, telling the views about each
    // insertion, removal and change instead of resetting them, so that
    // selection and scroll position survive every poll. Item needs id() and
    // operator!=.
    template <typename Item>
    void mergeById(QList<Item>& rows, QList<Item> incoming);

    PendingCalls m_calls;

private:
    QTimer* m_updateTimer;
};

template <typename Item>
void PolledTableModel::mergeById(QList<Item>& rows, QList<Item> incoming)
{
    // Stable, so that of a repeated id the copy the server sent first is kept:
    // two rows for one entry would confuse every action on it.
    std::stable_sort(incoming.begin(), incoming.end(),
                     [](const Item& a, const Item& b) { return a.id() < b.id(); });
    incoming.erase(std::unique(incoming.begin(), incoming.end(),
                               [](const Item& a, const Item& b) { return a.id() == b.id(); }),
                   incoming.end());
    int next = 0;
    int row = 0;
    while (true) {
        const int left = incoming.size() - next;
        if (left == 0) {
            if (row < rows.size()) {
                beginRemoveRows(QModelIndex(), row, rows.size() - 1);
                rows.erase(rows.begin() + row, rows.end());
                endRemoveRows();
            }
            return;
        }
        if (row == rows.size()) {
            beginInsertRows(QModelIndex(), row, row + left - 1);
            rows.reserve(rows.size() + left);
            for (int i = next; i < incoming.size(); ++i)
                rows.append(incoming.at(i));
            endInsertRows();
            next = incoming.size();
            row = rows.size();
            continue;
        }
        const Item& candidate = incoming.at(next);
        const QString& oldId = rows.at(row).id();
        if (oldId < candidate.id()) {
            beginRemoveRows(QModelIndex(), row, row);
            rows.removeAt(row);
            endRemoveRows();
        } else if (candidate.id() < oldId) {
            beginInsertRows(QModelIndex(), row, row);
            rows.insert(row, candidate);
            endInsertRows();
            ++next;
            ++row;
        } else {
            if (rows.at(row) != candidate) {
                rows[row] = candidate;
                emit dataChanged(index(row, 0), index(row, columnCount() - 1));
            }
            ++next;
            ++row;
        }
    }
}
