// Feeds window orders, as the library's callbacks make them from a rootless
// session's server, to the client's windows on the offscreen platform.
//
// Input: records of 33 bytes and a title: kind, window id, fields (32 bits),
// owner id, style, extended style (32 bits each), show state, x, y, width,
// height (32 bits each), title length in UTF-16 units, then the title. Ids
// are one byte so that orders meet the windows earlier ones made.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <QApplication>

#include "FuzzApp.h"
#include "RdpClientContext.h"
#include "RdpRailWidget.h"
#include "RdpRailWindows.h"

namespace {

// Enough orders for owner chains and replaced windows; each costs a widget.
constexpr int MaxOrders = 48;
constexpr size_t RecordSize = 33;

quint32 word(const uint8_t* p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

// What the library hands over: a context whose update table and input the
// windows reach, zeroed as the library allocates it, without a connection.
struct Library
{
    rdpUpdate update = {};
    rdpWindowUpdate window = {};
    rdpInput input = {};
    RdpClientContext context = {};

    Library()
    {
        update.window = &window;
        context.common.context.update = &update;
        context.common.context.input = &input;
        context.scale = 1.0;
        context.inverseScale = 1.0;
    }
};

// Every window is the one its id names and no owner chain comes back to
// where it started.
void check(const RdpRailWindows& windows)
{
    const QList<RdpRailWidget*> all = windows.windows();
    if (all.size() > RdpRailWindows::MaxWindows)
        std::abort();
    for (RdpRailWidget* widget : all) {
        if (windows.window(widget->windowId()) != widget)
            std::abort();
        int steps = 0;
        for (RdpRailWidget* link = widget->owner(); link; link = link->owner()) {
            if (link == widget || ++steps > all.size())
                std::abort();
        }
        if (widget->width() > RdpRailWindows::MaxSide || widget->height() > RdpRailWindows::MaxSide)
            std::abort();
    }
}

} // namespace

// The font configuration that the platform loads once stays for the life of
// the process, like the application object.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzApplication<QApplication>();
    static Library library;
    {
        RdpRailWindows windows(&library.context);
        library.context.railWindows = &windows;
        size_t position = 0;
        for (int count = 0; count < MaxOrders && size - position >= RecordSize; ++count) {
            const uint8_t* p = data + position;
            RdpRailOrder order;
            order.kind = static_cast<RdpRailOrder::Kind>(p[0] % 3);
            order.id = p[1];
            order.fields = word(p + 2);
            order.owner = p[6];
            order.style = word(p + 7);
            order.extendedStyle = word(p + 11);
            order.showState = p[15];
            order.x = int(word(p + 16));
            order.y = int(word(p + 20));
            order.width = word(p + 24);
            order.height = word(p + 28);
            position += RecordSize;
            const size_t units = std::min<size_t>(p[32], (size - position) / 2);
            QString title(int(units), Qt::Uninitialized);
            std::memcpy(title.data(), data + position, 2 * units);
            order.title = title;
            position += 2 * units;
            windows.apply(order);
        }
        check(windows);
        library.context.railWindows = nullptr;
    }
    // The platform's events for the windows that are gone, which would
    // otherwise pile up from one input to the next.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    return 0;
}
