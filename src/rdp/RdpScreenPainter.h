#pragma once

#include <QRect>
#include <QRegion>

#include <cstdint>

class QImage;
struct xcb_connection_t;

// Puts pixels straight into a native X window, past the toolkit's backing
// store: areas of a shared frame (MIT-SHM, no copy) and small composed
// images (copied into the request). The window must have 24-bit depth.
class RdpScreenPainter
{
public:
    explicit RdpScreenPainter(xcb_connection_t* connection);
    ~RdpScreenPainter();
    RdpScreenPainter(const RdpScreenPainter&) = delete;
    RdpScreenPainter& operator=(const RdpScreenPainter&) = delete;

    // Whether this window takes our pixels; asked of the server once per window.
    bool accepts(quint32 window);
    // Puts rect of a frame of frameSize pixels, held in the shared segment,
    // at the same place of the window.
    //
    // The server reads the segment after this returns, while the library may
    // already write the next frame into it: at worst an area shows parts of
    // two frames until the next put of that area, which follows at once.
    // Waiting for each put would add the round trip this path avoids.
    void putShared(quint32 window, quint32 segment, const QSize& frameSize, const QRect& rect);
    // Puts a 32-bit image with its top-left corner at the window's point at.
    void putImage(quint32 window, const QImage& image, const QPoint& at);
    // Fills the region with black.
    void fill(quint32 window, const QRegion& region);
    // Sends what is queued, without waiting for the server.
    void flush();

private:
    quint32 graphicsContext();

    xcb_connection_t* m_connection;
    quint32 m_gc = 0;
    quint32 m_checkedWindow = 0;
    bool m_windowAccepted = false;
};
