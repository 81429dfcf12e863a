#include "X11Clipboard.h"

#include <X11/Xatom.h>
#include <X11/extensions/Xfixes.h>

X11Clipboard::X11Clipboard(Display* dpy, Window root)
    : m_dpy(dpy)
{
    m_window = XCreateSimpleWindow(m_dpy, root, 0, 0, 1, 1, 0, 0, 0);
    m_clipboard = XInternAtom(m_dpy, "CLIPBOARD", False);
    m_utf8 = XInternAtom(m_dpy, "UTF8_STRING", False);
    m_targets = XInternAtom(m_dpy, "TARGETS", False);
    m_text = XInternAtom(m_dpy, "TEXT", False);
    m_property = XInternAtom(m_dpy, "ZENTU_CLIPBOARD", False);
    int errorBase = 0;
    XFixesQueryExtension(m_dpy, &m_fixesEvent, &errorBase);
    XFixesSelectSelectionInput(m_dpy, m_window, m_clipboard, XFixesSetSelectionOwnerNotifyMask);
}

X11Clipboard::~X11Clipboard()
{
    XDestroyWindow(m_dpy, m_window);
}

void X11Clipboard::requestText(TextCallback callback)
{
    if (m_owner) {
        callback(m_ownText);
        return;
    }
    if (XGetSelectionOwner(m_dpy, m_clipboard) == None) {
        callback(QString());
        return;
    }
    m_pending.push_back(std::move(callback));
    if (m_pending.size() == 1) {
        m_askedAt = std::chrono::steady_clock::now();
        XConvertSelection(m_dpy, m_clipboard, m_utf8, m_property, m_window, CurrentTime);
        XFlush(m_dpy);
    }
}

bool X11Clipboard::hasOwner() const
{
    return XGetSelectionOwner(m_dpy, m_clipboard) != None;
}

void X11Clipboard::setText(const QString& text)
{
    m_ownText = text;
    XSetSelectionOwner(m_dpy, m_clipboard, m_window, CurrentTime);
    m_owner = XGetSelectionOwner(m_dpy, m_clipboard) == m_window;
    XFlush(m_dpy);
}

void X11Clipboard::expireRequests()
{
    constexpr std::chrono::seconds AnswerTimeout(5);
    if (!m_pending.empty() && std::chrono::steady_clock::now() - m_askedAt >= AnswerTimeout)
        finishRequests(QString());
}

void X11Clipboard::finishRequests(const QString& text)
{
    std::vector<TextCallback> callbacks;
    callbacks.swap(m_pending);
    for (const TextCallback& callback : callbacks)
        callback(text);
}

bool X11Clipboard::handleEvent(const XEvent& ev)
{
    if (ev.type == m_fixesEvent + XFixesSelectionNotify) {
        const auto& notify = reinterpret_cast<const XFixesSelectionNotifyEvent&>(ev);
        if (notify.owner != m_window) {
            m_owner = false;
            if (m_ownerChanged && notify.owner != None)
                m_ownerChanged();
        }
        return true;
    }
    switch (ev.type) {
    case SelectionNotify: {
        QString text;
        if (ev.xselection.property != None) {
            Atom type = None;
            int format = 0;
            unsigned long count = 0, after = 0;
            unsigned char* data = nullptr;
            // Up to 4 MB; larger (INCR) transfers are not fetched.
            if (XGetWindowProperty(m_dpy, m_window, m_property, 0, 1 << 20, True, AnyPropertyType,
                                   &type, &format, &count, &after, &data) == Success && data) {
                if (format == 8 && type == m_utf8)
                    text = QString::fromUtf8(reinterpret_cast<const char*>(data), int(count));
                else if (format == 8 && type == XA_STRING)
                    text = QString::fromLatin1(reinterpret_cast<const char*>(data), int(count));
                XFree(data);
            }
        }
        finishRequests(text);
        return true;
    }
    case SelectionRequest:
        answerRequest(ev.xselectionrequest);
        return true;
    case SelectionClear:
        if (ev.xselectionclear.selection == m_clipboard)
            m_owner = false;
        return true;
    default:
        return false;
    }
}

void X11Clipboard::answerRequest(const XSelectionRequestEvent& request)
{
    XSelectionEvent reply {};
    reply.type = SelectionNotify;
    reply.display = request.display;
    reply.requestor = request.requestor;
    reply.selection = request.selection;
    reply.target = request.target;
    reply.time = request.time;
    // Obsolete clients send no property: the target names it.
    reply.property = request.property != None ? request.property : request.target;
    if (!m_owner || request.selection != m_clipboard) {
        reply.property = None;
    } else if (request.target == m_targets) {
        Atom targets[] = { m_targets, m_utf8, XA_STRING, m_text };
        XChangeProperty(m_dpy, request.requestor, reply.property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(targets), 4);
    } else if (request.target == m_utf8 || request.target == m_text) {
        const QByteArray data = m_ownText.toUtf8();
        XChangeProperty(m_dpy, request.requestor, reply.property, m_utf8, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(data.constData()), data.size());
    } else if (request.target == XA_STRING) {
        const QByteArray data = m_ownText.toLatin1();
        XChangeProperty(m_dpy, request.requestor, reply.property, XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(data.constData()), data.size());
    } else {
        reply.property = None;
    }
    XSendEvent(m_dpy, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
    XFlush(m_dpy);
}
