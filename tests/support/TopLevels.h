#pragma once

#include <QApplication>
#include <QList>
#include <QWidget>

#include <algorithm>

// The top-level windows of type T, hidden ones too: a closed window stays
// until it is deleted.
template <typename T>
QList<T*> topLevels()
{
    QList<T*> found;
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget* widget : widgets) {
        if (auto* typed = qobject_cast<T*>(widget))
            found.append(typed);
    }
    return found;
}

// The visible ones, as a user would find them.
template <typename T>
QList<T*> visibleTopLevels()
{
    QList<T*> found = topLevels<T>();
    found.erase(std::remove_if(found.begin(), found.end(), [](T* window) { return !window->isVisible(); }),
                found.end());
    return found;
}
