#include "RailWindows.h"

#include "PeerConnection.h"

#include <freerdp/rail.h>
#include <freerdp/update.h>
#include <freerdp/window.h>

#include <algorithm>

namespace {

constexpr UINT32 GeometryFields = WINDOW_ORDER_FIELD_WND_OFFSET | WINDOW_ORDER_FIELD_WND_SIZE
    | WINDOW_ORDER_FIELD_CLIENT_AREA_OFFSET | WINDOW_ORDER_FIELD_CLIENT_AREA_SIZE
    | WINDOW_ORDER_FIELD_WND_CLIENT_DELTA | WINDOW_ORDER_FIELD_WND_RECTS
    | WINDOW_ORDER_FIELD_VIS_OFFSET | WINDOW_ORDER_FIELD_VISIBILITY;
constexpr UINT32 AllFields = GeometryFields | WINDOW_ORDER_FIELD_OWNER | WINDOW_ORDER_FIELD_STYLE
    | WINDOW_ORDER_FIELD_SHOW | WINDOW_ORDER_FIELD_TITLE;

UINT32 showState(const TrackedWindow& window)
{
    switch (window.state) {
    case TrackedWindow::State::Minimized:
        return WINDOW_SHOW_MINIMIZED;
    case TrackedWindow::State::Maximized:
        return WINDOW_SHOW_MAXIMIZED;
    default:
        return WINDOW_SHOW;
    }
}

bool sameGeometry(const TrackedWindow& a, const TrackedWindow& b)
{
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height
        && a.border == b.border;
}

} // namespace

RailWindows::RailWindows(X11WindowTracker& tracker)
    : m_tracker(tracker)
{
}

void RailWindows::sync(const std::vector<std::unique_ptr<PeerConnection>>& peers)
{
    std::set<int> present;
    for (const auto& peer : peers)
        present.insert(peer->id());
    for (auto it = m_known.begin(); it != m_known.end();)
        it = present.count(it->first) ? std::next(it) : m_known.erase(it);
    if (!m_tracker.takeChanged())
        return;

    const std::vector<TrackedWindow> before = std::move(m_sent);
    m_sent = m_tracker.windows();
    const Window activeBefore = m_sentActive;
    m_sentActive = m_tracker.active();
    const auto ids = [](const std::vector<TrackedWindow>& list) {
        std::vector<Window> order;
        for (const TrackedWindow& w : list)
            order.push_back(w.id);
        return order;
    };
    const bool desktopChanged = m_sentActive != activeBefore || ids(before) != ids(m_sent);
    for (const auto& peer : peers) {
        rdpContext* context = peer->railContext();
        const auto known = m_known.find(peer->id());
        if (context && known != m_known.end())
            sendChanges(context, known->second, &before, desktopChanged);
    }
}

void RailWindows::announce(rdpContext* context, int peerId)
{
    sendChanges(context, m_known[peerId], nullptr, true);
}

void RailWindows::sendChanges(rdpContext* context, std::set<Window>& known,
                              const std::vector<TrackedWindow>* before, bool desktop)
{
    const auto find = [](const std::vector<TrackedWindow>& list, Window id) -> const TrackedWindow* {
        const auto it = std::find_if(list.begin(), list.end(),
                                     [id](const TrackedWindow& w) { return w.id == id; });
        return it == list.end() ? nullptr : &*it;
    };
    // A blank "before" makes every field differ: all of them are sent.
    const TrackedWindow blank;
    rdpWindowUpdate* window = context->update->window;
    // Orders collect in the library until the end of a paint.
    context->update->BeginPaint(context);
    for (Window id : known) {
        if (find(m_sent, id) || !window->WindowDelete)
            continue;
        WINDOW_ORDER_INFO info {};
        info.windowId = UINT32(id);
        info.fieldFlags = WINDOW_ORDER_TYPE_WINDOW | WINDOW_ORDER_STATE_DELETED;
        window->WindowDelete(context, &info);
    }
    // Owners before the windows they own: the client links to known windows only.
    for (const bool owned : { false, true }) {
        for (const TrackedWindow& w : m_sent) {
            if ((w.owner != 0) != owned)
                continue;
            const TrackedWindow* sent = before ? find(*before, w.id) : nullptr;
            sendWindow(context, w, !known.count(w.id) ? nullptr : sent ? sent : &blank);
        }
    }
    if (desktop)
        sendDesktop(context);
    context->update->EndPaint(context);
    known.clear();
    for (const TrackedWindow& w : m_sent)
        known.insert(w.id);
}

void RailWindows::sendWindow(rdpContext* context, const TrackedWindow& w, const TrackedWindow* before) const
{
    UINT32 fields = AllFields;
    if (before) {
        fields = 0;
        if (!sameGeometry(w, *before) || before->id == 0)
            fields |= GeometryFields;
        if (w.owner != before->owner || before->id == 0)
            fields |= WINDOW_ORDER_FIELD_OWNER;
        if (w.popup != before->popup || before->id == 0)
            fields |= WINDOW_ORDER_FIELD_STYLE;
        if (w.state != before->state || before->id == 0)
            fields |= WINDOW_ORDER_FIELD_SHOW;
        if (w.title != before->title || before->id == 0)
            fields |= WINDOW_ORDER_FIELD_TITLE;
        if (fields == 0)
            return;
    }
    WINDOW_ORDER_INFO info {};
    info.windowId = UINT32(w.id);
    info.fieldFlags = WINDOW_ORDER_TYPE_WINDOW | fields | (before ? 0 : WINDOW_ORDER_STATE_NEW);

    WINDOW_STATE_ORDER state {};
    state.ownerWindowId = UINT32(w.owner);
    if (w.popup) {
        // Menus and tooltips: no frame, no focus, above the others.
        state.style = WS_POPUP | WS_VISIBLE;
        state.extendedStyle = WS_EX_TOOLWINDOW | WS_EX_TOPMOST;
    } else {
        state.style = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
        state.extendedStyle = w.owner ? WS_EX_DLGMODALFRAME : WS_EX_APPWINDOW;
    }
    state.showState = showState(w);
    std::u16string title = w.title.toStdU16String();
    state.titleInfo.length = UINT16(title.size() * 2);
    state.titleInfo.string = reinterpret_cast<BYTE*>(title.data());
    const int inner = w.border;
    state.windowOffsetX = w.x;
    state.windowOffsetY = w.y;
    state.windowWidth = UINT32(w.width);
    state.windowHeight = UINT32(w.height);
    state.clientOffsetX = w.x + inner;
    state.clientOffsetY = w.y + inner;
    state.clientAreaWidth = UINT32(std::max(0, w.width - 2 * inner));
    state.clientAreaHeight = UINT32(std::max(0, w.height - 2 * inner));
    state.windowClientDeltaX = inner;
    state.windowClientDeltaY = inner;
    RECTANGLE_16 rect { 0, 0, UINT16(w.width), UINT16(w.height) };
    state.numWindowRects = 1;
    state.windowRects = &rect;
    state.visibleOffsetX = w.x;
    state.visibleOffsetY = w.y;
    state.numVisibilityRects = 1;
    state.visibilityRects = &rect;
    rdpWindowUpdate* window = context->update->window;
    if (before && window->WindowUpdate)
        window->WindowUpdate(context, &info, &state);
    else if (!before && window->WindowCreate)
        window->WindowCreate(context, &info, &state);
}

void RailWindows::sendDesktop(rdpContext* context) const
{
    rdpWindowUpdate* window = context->update->window;
    if (!window->MonitoredDesktop)
        return;
    // Topmost first.
    std::vector<UINT32> ids;
    for (auto it = m_sent.rbegin(); it != m_sent.rend(); ++it)
        ids.push_back(UINT32(it->id));
    WINDOW_ORDER_INFO info {};
    info.fieldFlags = WINDOW_ORDER_TYPE_DESKTOP | WINDOW_ORDER_FIELD_DESKTOP_ACTIVE_WND
        | WINDOW_ORDER_FIELD_DESKTOP_ZORDER;
    MONITORED_DESKTOP_ORDER desktop {};
    desktop.activeWindowId = UINT32(m_sentActive);
    desktop.numWindowIds = UINT32(ids.size());
    desktop.windowIds = ids.data();
    window->MonitoredDesktop(context, &info, &desktop);
}

bool RailWindows::handleMessage(quint16 type, const QByteArray& payload, QSize* screen, QString* error)
{
    RailCommand command;
    if (!decodeRailCommand(type, payload, &command, error))
        return false;
    const Window id = Window(command.windowId);
    switch (command.kind) {
    case RailCommand::Geometry:
        m_tracker.setGeometry(id, command.left, command.top, command.right, command.bottom);
        break;
    case RailCommand::Raise:
        m_tracker.raise(id);
        break;
    case RailCommand::ZOrder:
        m_tracker.placeBelow(id, Window(command.otherId));
        break;
    case RailCommand::Activate:
        m_tracker.activate(id);
        break;
    case RailCommand::MonitorLayout: {
        int width = 0, height = 0;
        for (const RailCommand::Monitor& m : command.monitors) {
            width = std::max(width, m.right);
            height = std::max(height, m.bottom);
        }
        m_monitors = std::move(command.monitors);
        *screen = QSize(width, height);
        break;
    }
    }
    return true;
}

void RailWindows::activate(quint32 windowId)
{
    m_tracker.activate(Window(windowId));
}

void RailWindows::systemCommand(quint32 windowId, quint16 command)
{
    const Window id = Window(windowId);
    const auto it = std::find_if(m_sent.begin(), m_sent.end(),
                                 [id](const TrackedWindow& w) { return w.id == id; });
    if (it == m_sent.end())
        return;
    switch (command) {
    case SC_MINIMIZE:
        m_tracker.minimize(id);
        break;
    case SC_MAXIMIZE: {
        const RailCommand::Monitor m = monitorOf(*it);
        m_tracker.maximize(id, m.left, m.top, m.right, m.bottom);
        break;
    }
    case SC_RESTORE:
        m_tracker.restore(id);
        m_tracker.activate(id);
        break;
    case SC_CLOSE:
        m_tracker.close(id);
        break;
    default:
        break;
    }
}

RailCommand::Monitor RailWindows::monitorOf(const TrackedWindow& window) const
{
    // The monitor holding the window's centre, else the first one.
    const int cx = window.x + window.width / 2, cy = window.y + window.height / 2;
    for (const RailCommand::Monitor& m : m_monitors) {
        if (cx >= m.left && cx < m.right && cy >= m.top && cy < m.bottom)
            return m;
    }
    if (!m_monitors.empty())
        return m_monitors.front();
    int width = 0, height = 0;
    m_tracker.screenSize(&width, &height);
    return RailCommand::Monitor { 0, 0, width, height };
}
