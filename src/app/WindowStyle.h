#pragma once

#include <QIcon>
#include <QString>

class QAbstractItemView;
class QPushButton;
class QWidget;

// Style sheet of the session, bookmark and sharing windows: yellow selected rows,
// borderless "myFlat" buttons and blue "myAction" row buttons.
QString windowStyleSheet();

// The icon of a resource file, made once and shared by every window. An icon
// made from an SVG file renders into Qt's pixmap cache under a key of its own
// engine, and the pixmaps stay there after the icon is gone: icons made anew
// for each window would fill that cache with pixmaps nobody finds again.
QIcon resourceIcon(const QString& path);

// A borderless ("myFlat") button of a window's tool row, with a 24 x 24 icon.
QPushButton* createToolButton(QWidget* parent, const QString& objectName, const QString& icon,
                              const QString& toolTip);
// A button laid over the selected row of a table view, hidden until placed;
// styleProperty is "myAction" or "myFlat".
QPushButton* createRowButton(QAbstractItemView* view, const QString& objectName,
                             const QString& icon, const char* styleProperty);
