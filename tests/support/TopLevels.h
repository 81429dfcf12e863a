#pragma once

#include <QApplication>
#include <QList>
#include <QWidget>

// The visible top-level windows of type T, as a user would find them.
template <typename T>
QList<T*> visibleTopLevels()
{
    QList<T*> found;
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget* widget : widgets) {
        if (auto* typed = qobject_cast<T*>(widget); typed && typed->isVisible())
            found.append(typed);
    }
    return found;
}
