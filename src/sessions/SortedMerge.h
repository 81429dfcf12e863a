#pragma once

#include <QList>

#include <algorithm>

// Merges a fresh list from the server into rows kept sorted by id, telling the
// view about each insertion, removal and change instead of resetting it, so
// that selection and scroll position survive every poll. Item needs id() and
// operator!=; Model supplies the protected begin/end calls of its base class
// through the callbacks object:
//   beginInsert(first, last), endInsert(), beginRemove(first, last),
//   endRemove(), changed(row).
template <typename Item, typename Callbacks>
void mergeSortedById(QList<Item>& rows, QList<Item> incoming, Callbacks&& callbacks)
{
    std::sort(incoming.begin(), incoming.end(),
              [](const Item& a, const Item& b) { return a.id() < b.id(); });
    // A repeated id would make two rows for one entry; keep its first copy.
    incoming.erase(std::unique(incoming.begin(), incoming.end(),
                               [](const Item& a, const Item& b) { return a.id() == b.id(); }),
                   incoming.end());
    int next = 0;
    int row = 0;
    while (true) {
        const int left = incoming.size() - next;
        if (left == 0) {
            if (row < rows.size()) {
                callbacks.beginRemove(row, rows.size() - 1);
                rows.erase(rows.begin() + row, rows.end());
                callbacks.endRemove();
            }
            return;
        }
        if (row == rows.size()) {
            callbacks.beginInsert(row, row + left - 1);
            rows.reserve(rows.size() + left);
            for (int i = next; i < incoming.size(); ++i)
                rows.append(incoming.at(i));
            callbacks.endInsert();
            next = incoming.size();
            row = rows.size();
            continue;
        }
        const Item& candidate = incoming.at(next);
        const QString& oldId = rows.at(row).id();
        if (oldId < candidate.id()) {
            callbacks.beginRemove(row, row);
            rows.removeAt(row);
            callbacks.endRemove();
        } else if (candidate.id() < oldId) {
            callbacks.beginInsert(row, row);
            rows.insert(row, candidate);
            callbacks.endInsert();
            ++next;
            ++row;
        } else {
            if (rows.at(row) != candidate) {
                rows[row] = candidate;
                callbacks.changed(row);
            }
            ++next;
            ++row;
        }
    }
}
