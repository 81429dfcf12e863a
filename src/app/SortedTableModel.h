#pragma once

#include <QAbstractTableModel>
#include <QList>

#include <algorithm>

// A table whose rows are kept sorted by id and updated by merging a fresh
// list into them, telling the views about each insertion, removal and
// change instead of resetting them, so that selection and scroll position
// survive every update.
class SortedTableModel : public QAbstractTableModel
{
public:
    using QAbstractTableModel::QAbstractTableModel;

protected:
    // Item needs id() (ordered by <) and operator!=.
    template <typename Item>
    void mergeById(QList<Item>& rows, QList<Item> incoming);
};

template <typename Item>
void SortedTableModel::mergeById(QList<Item>& rows, QList<Item> incoming)
{
    // Stable, so that of a repeated id the copy sent first is kept: two rows
    // for one entry would confuse every action on it.
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
        const auto oldId = rows.at(row).id();
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
