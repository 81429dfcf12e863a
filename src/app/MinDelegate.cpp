#include "MinDelegate.h"

MinDelegate::MinDelegate(int side, QObject* parent)
    : QStyledItemDelegate(parent)
    , m_side(side)
{
}

QSize MinDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const
{
    return QSize(m_side, m_side);
}
