#pragma once

// Qt's headers must come before Xlib's macros (Bool, Status, None).
#include <QDebug>
#include <QString>

#include <X11/Xlib.h>

#include <QString>

#include <chrono>
#include <functional>
#include <vector>

// The session display's CLIPBOARD selection: notices when another X client
// takes it, fetches its text on demand, and owns it for text from RDP clients.
class X11Clipboard
{
public:
    using TextCallback = std::function<void(const QString& text)>;

    X11Clipboard(Display* dpy, Window root);
    ~X11Clipboard();
    X11Clipboard(const X11Clipboard&) = delete;
    X11Clipboard& operator=(const X11Clipboard&) = delete;

    void setOwnerChangedHandler(std::function<void()> handler) { m_ownerChanged = std::move(handler); }
    // Empty text when no X client owns the selection or it holds no text.
    void requestText(TextCallback callback);
    void setText(const QString& text);
    // Some X client (or this server) holds text for pasting.
    bool hasOwner() const;
    bool handleEvent(const XEvent& ev);
    // Answers requests with empty text once the owner has kept them waiting
    // too long, so that later requests ask again.
    void expireRequests();

private:
    void answerRequest(const XSelectionRequestEvent& request);
    void finishRequests(const QString& text);

    Display* m_dpy;
    Window m_window = 0;
    int m_fixesEvent = 0;
    Atom m_clipboard, m_utf8, m_targets, m_text, m_property;
    QString m_ownText;
    bool m_owner = false;
    std::vector<TextCallback> m_pending;
    // When the conversion that m_pending waits for was asked for: an owner
    // that hangs or ends before it answers never sends its notice.
    std::chrono::steady_clock::time_point m_askedAt;
    std::function<void()> m_ownerChanged;
};
