#include "RdpScreenPainter.h"

#include <QImage>

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>

namespace {

constexpr quint8 Depth = 24;

} // namespace

RdpScreenPainter::RdpScreenPainter(xcb_connection_t* connection)
    : m_connection(connection)
{
}

RdpScreenPainter::~RdpScreenPainter()
{
    if (m_gc)
        xcb_free_gc(m_connection, m_gc);
}

quint32 RdpScreenPainter::graphicsContext()
{
    if (!m_gc) {
        // Made on the root window: it serves every window of its depth.
        m_gc = xcb_generate_id(m_connection);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        const quint32 noExposures = 0;
        xcb_create_gc(m_connection, m_gc, root, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    }
    return m_gc;
}

bool RdpScreenPainter::accepts(quint32 window)
{
    if (window != m_checkedWindow) {
        m_checkedWindow = window;
        xcb_get_geometry_reply_t* geometry =
            xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr);
        m_windowAccepted = geometry && geometry->depth == Depth;
        std::free(geometry);
    }
    return m_windowAccepted;
}

void RdpScreenPainter::putShared(quint32 window, quint32 segment, const QSize& frameSize, const QRect& rect)
{
    xcb_shm_put_image(m_connection, window, graphicsContext(), quint16(frameSize.width()),
                      quint16(frameSize.height()), quint16(rect.x()), quint16(rect.y()), quint16(rect.width()),
                      quint16(rect.height()), qint16(rect.x()), qint16(rect.y()), Depth,
                      XCB_IMAGE_FORMAT_Z_PIXMAP, 0, segment, 0);
}

void RdpScreenPainter::putImage(quint32 window, const QImage& image, const QPoint& at)
{
    // Rows in pieces that fit a request.
    const int line = image.bytesPerLine();
    const quint64 room = quint64(xcb_get_maximum_request_length(m_connection)) * 4 - sizeof(xcb_put_image_request_t);
    const int rows = int(std::min<quint64>(quint64(image.height()), room / quint64(line)));
    if (rows <= 0)
        return;
    for (int top = 0; top < image.height(); top += rows) {
        const int count = std::min(rows, image.height() - top);
        xcb_put_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, graphicsContext(), quint16(image.width()),
                      quint16(count), qint16(at.x()), qint16(at.y() + top), 0, Depth, quint32(line * count),
                      image.constScanLine(top));
    }
}

void RdpScreenPainter::fill(quint32 window, const QRegion& region)
{
    for (const QRect& rect : region) {
        const xcb_rectangle_t box = {qint16(rect.x()), qint16(rect.y()), quint16(rect.width()),
                                     quint16(rect.height())};
        xcb_poly_fill_rectangle(m_connection, window, graphicsContext(), 1, &box);
    }
}

void RdpScreenPainter::flush()
{
    xcb_flush(m_connection);
}
