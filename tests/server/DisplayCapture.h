#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

// An X display's screen as a client of it sees it (XGetImage of the root
// window); null unless the display has 32 bits per pixel. A display that
// wants a cookie is opened with the given authority file.
QImage captureDisplay(const QString& display, const QString& authority = QString());

// The keys (by their keysym names, as "d") and pointer buttons ("Button1")
// that are held down on the display.
QStringList heldDown(const QString& display, const QString& authority = QString());
