#pragma once

#include <QStyledItemDelegate>

// Item delegate for the narrow button columns of the tables: every cell
// asks for a square of the given side, leaving room for the row buttons.
class MinDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit MinDelegate(int side, QObject* parent = nullptr);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    int m_side;
};
