#include "RichTextDelegate.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QPainter>
#include <QSet>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>

namespace {

// Distinct markups remembered; a list of many shapes of text starts over.
constexpr int MaxHeights = 64;

QSizeF documentSize(const QString& html)
{
    QTextDocument document;
    document.setHtml(html);
    document.setTextWidth(-1);
    return document.size();
}

// The markup of html with each run of non-blank text replaced by one "x",
// keeping tags and blanks as they are; the words in words. False for text
// whose masking could change the layout's shape: quoted attributes, stray
// brackets, entities other than the escapes of plain text.
bool maskWords(const QString& html, QString* mask, QStringList* words)
{
    mask->reserve(html.size());
    int i = 0;
    while (i < html.size()) {
        const QChar c = html.at(i);
        if (c == QLatin1Char('<')) {
            const int end = html.indexOf(QLatin1Char('>'), i);
            if (end < 0)
                return false;
            const QStringRef tag = html.midRef(i, end + 1 - i);
            if (tag.contains(QLatin1Char('"')) || tag.contains(QLatin1Char('\''))
                || tag.indexOf(QLatin1Char('<'), 1) >= 0)
                return false;
            mask->append(tag);
            i = end + 1;
        } else if (c.isSpace()) {
            mask->append(c);
            ++i;
        } else {
            const int start = i;
            while (i < html.size() && !html.at(i).isSpace() && html.at(i) != QLatin1Char('<')) {
                if (html.at(i) == QLatin1Char('>'))
                    return false;
                if (html.at(i) == QLatin1Char('&')) {
                    static const QLatin1String escapes[] = {
                        QLatin1String("&amp;"), QLatin1String("&lt;"), QLatin1String("&gt;"),
                        QLatin1String("&quot;")};
                    const QStringRef rest = html.midRef(i);
                    if (std::none_of(std::begin(escapes), std::end(escapes),
                                     [&rest](QLatin1String e) { return rest.startsWith(e); }))
                        return false;
                }
                ++i;
            }
            mask->append(QLatin1Char('x'));
            words->append(html.mid(start, i - start));
        }
    }
    return true;
}

} // namespace

void RichTextDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);

    QTextDocument document;
    document.setHtml(opt.text);
    opt.text.clear();

    QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);

    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, opt.widget);
    painter->save();
    painter->translate(textRect.topLeft());
    painter->setClipRect(textRect.translated(-textRect.topLeft()));
    document.documentLayout()->draw(painter, QAbstractTextDocumentLayout::PaintContext());
    painter->restore();
}

QSize RichTextDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);

    const QSizeF size = documentSize(opt.text);
    return QSize(int(size.width()), int(size.height()));
}

int RichTextDelegate::heightHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    // Only the text matters here; the other roles initStyleOption() asks for do not.
    const QVariant value = index.data(Qt::DisplayRole);
    const QString text = value.isValid() && !value.isNull() ? displayText(value, option.locale)
                                                            : QString();
    QString mask;
    QStringList words;
    if (!maskWords(text, &mask, &words))
        return int(documentSize(text).height());
    // The document lays out in the application's font.
    const QString key = QFont().key() + QLatin1Char('\n') + mask;
    auto found = m_heights.constFind(key);
    if (found == m_heights.constEnd()) {
        QTextDocument document;
        document.setHtml(mask);
        document.setTextWidth(-1);
        Height entry;
        entry.height = int(document.size().height());
        QSet<QString> seen;
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QFont font = it.fragment().charFormat().font();
                if (!seen.contains(font.key())) {
                    seen.insert(font.key());
                    entry.fonts.append(QFontMetrics(font));
                }
            }
        }
        for (uint c = 0; c < entry.latin1.size(); ++c) {
            entry.latin1[c] = std::all_of(entry.fonts.cbegin(), entry.fonts.cend(),
                                          [c](const QFontMetrics& m) { return m.inFontUcs4(c); });
        }
        if (m_heights.size() >= MaxHeights)
            m_heights.clear();
        found = m_heights.insert(key, entry);
    }
    const Height& entry = *found;
    for (const QString& word : qAsConst(words)) {
        for (const QChar c : word) {
            const bool drawn = c.unicode() < entry.latin1.size()
                ? entry.latin1[c.unicode()]
                : !c.isSurrogate()
                      && std::all_of(entry.fonts.cbegin(), entry.fonts.cend(),
                                     [c](const QFontMetrics& m) { return m.inFont(c); });
            if (!drawn)
                return int(documentSize(text).height());
        }
    }
    return entry.height;
}
