#include "X11WindowTracker.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdlib>

namespace {

// Titles longer than this are cut: they travel in every window order.
constexpr int MaxTitleLength = 256;
// Sizes a client may ask for, in pixels.
constexpr int MaxWindowSide = 16384;

QString latinOrUtf8(const XTextProperty& property, Display* dpy, Atom utf8)
{
    if (property.encoding == utf8)
        return QString::fromUtf8(reinterpret_cast<const char*>(property.value), int(property.nitems));
    if (property.encoding == XA_STRING)
        return QString::fromLatin1(reinterpret_cast<const char*>(property.value), int(property.nitems));
    char** list = nullptr;
    int count = 0;
    QString text;
    if (Xutf8TextPropertyToTextList(dpy, &property, &list, &count) >= Success && list) {
        if (count > 0)
            text = QString::fromUtf8(list[0]);
        XFreeStringList(list);
    }
    return text;
}

} // namespace

bool TrackedWindow::operator==(const TrackedWindow& other) const
{
    return id == other.id && x == other.x && y == other.y && width == other.width
        && height == other.height && border == other.border && title == other.title
        && owner == other.owner && popup == other.popup && state == other.state;
}

X11WindowTracker::X11WindowTracker(Display* dpy, Window root)
    : m_dpy(dpy)
    , m_root(root)
{
    m_netWmName = XInternAtom(dpy, "_NET_WM_NAME", False);
    m_utf8String = XInternAtom(dpy, "UTF8_STRING", False);
    m_wmProtocols = XInternAtom(dpy, "WM_PROTOCOLS", False);
    m_wmDelete = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    m_wmState = XInternAtom(dpy, "WM_STATE", False);
    m_wmChangeState = XInternAtom(dpy, "WM_CHANGE_STATE", False);
    XSelectInput(dpy, root, SubstructureNotifyMask);
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (XQueryTree(dpy, root, &rootReturn, &parent, &children, &count)) {
        for (unsigned i = 0; i < count; ++i)
            adopt(children[i]);
        if (children)
            XFree(children);
    }
    readStacking();
    chooseActive();
}

void X11WindowTracker::adopt(Window id)
{
    XWindowAttributes attributes;
    if (m_windows.count(id) || !XGetWindowAttributes(m_dpy, id, &attributes)
        || attributes.c_class == InputOnly)
        return;
    // Titles and owners change after the window exists.
    XSelectInput(m_dpy, id, PropertyChangeMask);
    Entry& entry = m_windows[id];
    entry.window.id = id;
    entry.window.x = attributes.x;
    entry.window.y = attributes.y;
    entry.window.border = attributes.border_width;
    entry.window.width = attributes.width + 2 * attributes.border_width;
    entry.window.height = attributes.height + 2 * attributes.border_width;
    entry.window.popup = attributes.override_redirect;
    entry.mapped = attributes.map_state == IsViewable;
    readTitle(entry);
    readOwner(entry);
    if (entry.mapped)
        markChanged();
}

void X11WindowTracker::forget(Window id)
{
    if (m_windows.erase(id) == 0)
        return;
    m_stacking.erase(std::remove(m_stacking.begin(), m_stacking.end(), id), m_stacking.end());
    if (m_active == id)
        chooseActive();
    markChanged();
}

void X11WindowTracker::readTitle(Entry& entry)
{
    QString title;
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    // At most 4 KiB of a name that any program may set.
    if (XGetWindowProperty(m_dpy, entry.window.id, m_netWmName, 0, 1024, False, m_utf8String, &type,
                           &format, &items, &after, &data) == Success
        && data && type == m_utf8String && format == 8)
        title = QString::fromUtf8(reinterpret_cast<const char*>(data), int(items));
    if (data)
        XFree(data);
    XTextProperty property {};
    if (title.isEmpty() && XGetWMName(m_dpy, entry.window.id, &property) && property.value) {
        if (property.format == 8 && property.nitems <= 4096)
            title = latinOrUtf8(property, m_dpy, m_utf8String);
        XFree(property.value);
    }
    title.truncate(MaxTitleLength);
    if (title != entry.window.title) {
        entry.window.title = title;
        markChanged();
    }
}

void X11WindowTracker::readOwner(Entry& entry)
{
    Window owner = 0;
    if (!XGetTransientForHint(m_dpy, entry.window.id, &owner) || owner == entry.window.id)
        owner = 0;
    if (owner != entry.window.owner) {
        entry.window.owner = owner;
        markChanged();
    }
}

void X11WindowTracker::readStacking()
{
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(m_dpy, m_root, &rootReturn, &parent, &children, &count))
        return;
    std::vector<Window> stacking;
    for (unsigned i = 0; i < count; ++i) {
        if (m_windows.count(children[i]))
            stacking.push_back(children[i]);
    }
    if (children)
        XFree(children);
    if (stacking != m_stacking) {
        m_stacking = std::move(stacking);
        markChanged();
    }
}

bool X11WindowTracker::handleEvent(const XEvent& ev)
{
    switch (ev.type) {
    case CreateNotify:
        if (ev.xcreatewindow.parent != m_root)
            return false;
        adopt(ev.xcreatewindow.window);
        readStacking();
        return true;
    case DestroyNotify:
        if (ev.xdestroywindow.event != m_root)
            return false;
        forget(ev.xdestroywindow.window);
        return true;
    case ReparentNotify:
        if (ev.xreparent.event != m_root)
            return false;
        if (ev.xreparent.parent == m_root)
            adopt(ev.xreparent.window);
        else
            forget(ev.xreparent.window);
        readStacking();
        return true;
    case MapNotify: {
        if (ev.xmap.event != m_root)
            return false;
        const auto it = m_windows.find(ev.xmap.window);
        if (it == m_windows.end())
            return true;
        Entry& entry = it->second;
        entry.mapped = true;
        entry.unmappedByUs = false;
        entry.window.popup = ev.xmap.override_redirect;
        if (entry.window.state == TrackedWindow::State::Minimized)
            entry.window.state = TrackedWindow::State::Normal;
        readTitle(entry);
        readOwner(entry);
        readStacking();
        markChanged();
        if (!entry.window.popup) {
            setWmState(entry.window.id, NormalState);
            // As window managers do: a new window takes the keyboard.
            activate(entry.window.id);
        }
        return true;
    }
    case UnmapNotify: {
        if (ev.xunmap.event != m_root)
            return false;
        const auto it = m_windows.find(ev.xunmap.window);
        if (it == m_windows.end())
            return true;
        Entry& entry = it->second;
        entry.mapped = false;
        // A program withdraws a window that is already unmapped with a
        // synthetic event.
        if (entry.unmappedByUs && !ev.xunmap.send_event) {
            entry.window.state = TrackedWindow::State::Minimized;
        } else {
            // Withdrawn by its program: gone for the clients.
            entry.unmappedByUs = false;
            entry.window.state = TrackedWindow::State::Normal;
        }
        if (m_active == entry.window.id)
            chooseActive();
        markChanged();
        return true;
    }
    case ConfigureNotify: {
        if (ev.xconfigure.event != m_root)
            return false;
        const auto it = m_windows.find(ev.xconfigure.window);
        if (it == m_windows.end())
            return true;
        TrackedWindow& window = it->second.window;
        const XConfigureEvent& c = ev.xconfigure;
        TrackedWindow before = window;
        window.x = c.x;
        window.y = c.y;
        window.border = c.border_width;
        window.width = c.width + 2 * c.border_width;
        window.height = c.height + 2 * c.border_width;
        window.popup = c.override_redirect;
        if (window != before)
            markChanged();
        readStacking();
        return true;
    }
    case CirculateNotify:
        if (ev.xcirculate.event != m_root)
            return false;
        readStacking();
        return true;
    case PropertyNotify: {
        const auto it = m_windows.find(ev.xproperty.window);
        if (it == m_windows.end())
            return false;
        if (ev.xproperty.atom == XA_WM_NAME || ev.xproperty.atom == m_netWmName)
            readTitle(it->second);
        else if (ev.xproperty.atom == XA_WM_TRANSIENT_FOR)
            readOwner(it->second);
        return true;
    }
    case ClientMessage:
        // A program asking to be iconified (XIconifyWindow).
        if (ev.xclient.message_type != m_wmChangeState || ev.xclient.format != 32
            || ev.xclient.data.l[0] != IconicState)
            return false;
        minimize(ev.xclient.window);
        return true;
    default:
        return false;
    }
}

bool X11WindowTracker::takeChanged()
{
    const bool changed = m_changed;
    m_changed = false;
    return changed;
}

std::vector<TrackedWindow> X11WindowTracker::windows() const
{
    std::vector<TrackedWindow> shown;
    const auto isShown = [this](Window id) {
        const auto it = m_windows.find(id);
        return it != m_windows.end()
            && (it->second.mapped || it->second.window.state == TrackedWindow::State::Minimized);
    };
    for (Window id : m_stacking) {
        if (!isShown(id))
            continue;
        TrackedWindow window = m_windows.at(id).window;
        if (window.owner && !isShown(window.owner))
            window.owner = 0;
        shown.push_back(window);
    }
    return shown;
}

void X11WindowTracker::screenSize(int* width, int* height) const
{
    XWindowAttributes attributes;
    if (XGetWindowAttributes(m_dpy, m_root, &attributes)) {
        *width = attributes.width;
        *height = attributes.height;
    }
}

void X11WindowTracker::chooseActive()
{
    Window next = 0;
    for (auto it = m_stacking.rbegin(); it != m_stacking.rend() && !next; ++it) {
        const Entry& entry = m_windows.at(*it);
        if (entry.mapped && !entry.window.popup)
            next = *it;
    }
    if (next)
        XSetInputFocus(m_dpy, next, RevertToPointerRoot, CurrentTime);
    if (next != m_active) {
        m_active = next;
        markChanged();
    }
}

void X11WindowTracker::activate(Window id)
{
    const auto it = m_windows.find(id);
    if (it == m_windows.end() || it->second.window.popup)
        return;
    if (!it->second.mapped) {
        restore(id);
        return;
    }
    XRaiseWindow(m_dpy, id);
    XSetInputFocus(m_dpy, id, RevertToPointerRoot, CurrentTime);
    if (m_active != id) {
        m_active = id;
        markChanged();
    }
}

void X11WindowTracker::raise(Window id)
{
    if (m_windows.count(id))
        XRaiseWindow(m_dpy, id);
}

void X11WindowTracker::placeBelow(Window id, Window other)
{
    if (!m_windows.count(id) || !m_windows.count(other) || id == other)
        return;
    XWindowChanges changes {};
    changes.sibling = other;
    changes.stack_mode = Below;
    XConfigureWindow(m_dpy, id, CWSibling | CWStackMode, &changes);
}

void X11WindowTracker::setGeometry(Window id, int left, int top, int right, int bottom)
{
    const auto it = m_windows.find(id);
    if (it == m_windows.end())
        return;
    const int border = it->second.window.border;
    const int width = right - left - 2 * border;
    const int height = bottom - top - 2 * border;
    if (width < 1 || height < 1 || width > MaxWindowSide || height > MaxWindowSide
        || std::abs(left) > MaxWindowSide || std::abs(top) > MaxWindowSide)
        return;
    XMoveResizeWindow(m_dpy, id, left, top, unsigned(width), unsigned(height));
}

void X11WindowTracker::minimize(Window id)
{
    const auto it = m_windows.find(id);
    if (it == m_windows.end() || !it->second.mapped || it->second.window.popup)
        return;
    it->second.unmappedByUs = true;
    setWmState(id, IconicState);
    XUnmapWindow(m_dpy, id);
}

void X11WindowTracker::maximize(Window id, int left, int top, int right, int bottom)
{
    const auto it = m_windows.find(id);
    if (it == m_windows.end() || it->second.window.popup)
        return;
    Entry& entry = it->second;
    if (!entry.mapped)
        restore(id);
    if (entry.window.state != TrackedWindow::State::Maximized) {
        entry.savedX = entry.window.x;
        entry.savedY = entry.window.y;
        entry.savedWidth = entry.window.width;
        entry.savedHeight = entry.window.height;
        entry.window.state = TrackedWindow::State::Maximized;
        markChanged();
    }
    setGeometry(id, left, top, right, bottom);
}

void X11WindowTracker::restore(Window id)
{
    const auto it = m_windows.find(id);
    if (it == m_windows.end())
        return;
    Entry& entry = it->second;
    if (!entry.mapped && entry.window.state == TrackedWindow::State::Minimized) {
        XMapRaised(m_dpy, id);
        return;
    }
    if (entry.window.state == TrackedWindow::State::Maximized) {
        entry.window.state = TrackedWindow::State::Normal;
        markChanged();
        setGeometry(id, entry.savedX, entry.savedY, entry.savedX + entry.savedWidth,
                    entry.savedY + entry.savedHeight);
    }
}

void X11WindowTracker::close(Window id)
{
    if (!m_windows.count(id))
        return;
    Atom* protocols = nullptr;
    int count = 0;
    bool polite = false;
    if (XGetWMProtocols(m_dpy, id, &protocols, &count)) {
        polite = std::find(protocols, protocols + count, m_wmDelete) != protocols + count;
        XFree(protocols);
    }
    if (!polite) {
        // A program that cannot be asked is disconnected, as window managers do.
        XKillClient(m_dpy, id);
        return;
    }
    XEvent message {};
    message.xclient.type = ClientMessage;
    message.xclient.window = id;
    message.xclient.message_type = m_wmProtocols;
    message.xclient.format = 32;
    message.xclient.data.l[0] = long(m_wmDelete);
    message.xclient.data.l[1] = CurrentTime;
    XSendEvent(m_dpy, id, False, NoEventMask, &message);
}

void X11WindowTracker::setWmState(Window id, long state)
{
    const long data[2] = { state, 0 };
    XChangeProperty(m_dpy, id, m_wmState, m_wmState, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(data), 2);
}
