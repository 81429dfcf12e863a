#pragma once

#include <QFontMetrics>
#include <QHash>
#include <QStyledItemDelegate>
#include <QVector>

#include <bitset>

// Item delegate that draws the display text of a cell as rich text.
class RichTextDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The height of sizeHint() without laying out the cell's text in most
    // cases: without wrapping, the height follows from the markup and the
    // fonts alone, so it is kept per markup with the words masked out.
    int heightHint(const QStyleOptionViewItem& option, const QModelIndex& index) const;

private:
    struct Height
    {
        int height = 0;
        // The fonts the markup uses: a word with a character missing from
        // one of them may be drawn in a taller fallback font.
        QVector<QFontMetrics> fonts;
        // Which of U+0000..U+00FF all of them have, asked once.
        std::bitset<256> latin1;
    };

    mutable QHash<QString, Height> m_heights;
};
