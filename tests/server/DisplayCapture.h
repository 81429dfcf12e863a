#pragma once

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>

// An X display's screen as a client of it sees it (XGetImage of the root
// window); null unless the display has 32 bits per pixel. A display that
// wants a cookie is opened with the given authority file.
QImage captureDisplay(const QString& display, const QString& authority = QString());

// The keys (by their keysym names, as "d") and pointer buttons ("Button1")
// that are held down on the display.
QStringList heldDown(const QString& display, const QString& authority = QString());

// The system environment with DISPLAY and XAUTHORITY of a display; the
// test's own environment when display is empty.
QProcessEnvironment xEnvironment(const QString& display, const QString& authority);
// Makes an xclip own the CLIPBOARD of the display that the environment
// names, holding text, until another client takes it or xclip is killed.
bool copyWithXclip(QProcess* owner, const QProcessEnvironment& display, const QString& text);
// The CLIPBOARD text of that display, read with xclip while the event loop
// runs, since the owner may be this very process; "<no answer>" after 5 s.
QString pasteWithXclip(const QProcessEnvironment& display);

// An X tool (xdotool, xwininfo, xprop) run to its end on a display, the
// test's own when display is empty: its standard output.
QString runX(const QString& program, const QStringList& arguments, const QString& display = QString(),
             const QString& authority = QString());
// The first window of the display with exactly this title; 0 while there is none.
quint64 windowTitled(const QString& title, const QString& display = QString(), const QString& authority = QString());
// A window with its border, in root coordinates, as the X server has it.
QRect windowArea(quint64 window, const QString& display = QString(), const QString& authority = QString());

// Starts openbox on the test's display and waits until it manages windows.
bool startWindowManager(QProcess* windowManager);
// Asks the test display's window manager to close a window, as its close button does.
void closeWithWindowManager(quint64 window);
// Asks it to maximise a window or to restore it, as its maximise button does.
void maximizeWithWindowManager(quint64 window, bool on);
