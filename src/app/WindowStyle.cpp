#include "WindowStyle.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QHash>
#include <QIcon>
#include <QPointer>
#include <QPushButton>

namespace {

// The icons made so far, by path. Deleted with the application object,
// while the icon engine plug-ins are still loaded.
class IconCache : public QObject
{
public:
    using QObject::QObject;
    QHash<QString, QIcon> icons;
};

} // namespace

QString windowStyleSheet()
{
    return QStringLiteral(
        "QTableView { outline: 0; }\n"
        "QTableView::item:selected { background: #FFFFC0; color: black; }\n"
        "QPushButton[myFlat=\"true\"] { border: none; padding: 3px; }\n"
        "QPushButton[myFlat=\"true\"]:hover { border: 1px outset grey; border-radius: 3px; }\n"
        "QPushButton[myFlat=\"true\"]:pressed, QPushButton[myFlat=\"true\"]:checked {"
        " border: 1px outset grey; border-radius: 3px; background: darkgrey; }\n"
        "QPushButton[myFlat=\"true\"]::menu-indicator { image: none; width: 0px; }\n"
        "QPushButton[myAction=\"true\"] { background: #119ED1; border: 1px solid #119ED1;"
        " border-radius: 3px; padding: 3px; }\n"
        "QPushButton[myAction=\"true\"]:pressed { background: #0486B8; }\n"
        "QPushButton[myAction=\"true\"]:disabled { background: #60BCDE; }\n");
}

QIcon resourceIcon(const QString& path)
{
    static QPointer<IconCache> cache;
    if (!cache)
        cache = new IconCache(QCoreApplication::instance());
    auto icon = cache->icons.constFind(path);
    if (icon == cache->icons.constEnd())
        icon = cache->icons.insert(path, QIcon(path));
    return *icon;
}

QPushButton* createToolButton(QWidget* parent, const QString& objectName, const QString& icon,
                              const QString& toolTip)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(objectName);
    button->setIcon(resourceIcon(icon));
    button->setIconSize(QSize(24, 24));
    button->setToolTip(toolTip);
    button->setFlat(true);
    button->setProperty("myFlat", true);
    return button;
}

QPushButton* createRowButton(QAbstractItemView* view, const QString& objectName,
                             const QString& icon, const char* styleProperty)
{
    auto* button = new QPushButton(view->viewport());
    button->setObjectName(objectName);
    button->setIcon(resourceIcon(icon));
    button->setFlat(true);
    button->setProperty(styleProperty, true);
    button->hide();
    return button;
}
