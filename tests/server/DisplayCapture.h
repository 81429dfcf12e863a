#pragma once

#include <QImage>
#include <QString>

// An X display's screen as a client of it sees it (XGetImage of the root
// window); null unless the display has 32 bits per pixel. A display that
// wants a cookie is opened with the given authority file.
QImage captureDisplay(const QString& display, const QString& authority = QString());
