#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

struct xcb_connection_t;

// The library's frame buffer in a MIT-SHM segment that the X server has
// attached too, so that the desktop widget puts changed areas on screen
// straight from it. Each segment is private to this user (mode 0600) and
// marked for removal once both sides have attached, so it never outlives
// the process. Used from one thread at a time: made before the connect,
// filled on the worker during it, on the GUI thread afterwards.
class RdpSharedFrame
{
public:
    // Whether the display takes our frames from shared memory: it has the
    // extension and shows 24-bit colour in 32-bit pixels of our byte order.
    static bool supported(xcb_connection_t* connection);

    explicit RdpSharedFrame(xcb_connection_t* connection);
    ~RdpSharedFrame();
    RdpSharedFrame(const RdpSharedFrame&) = delete;
    RdpSharedFrame& operator=(const RdpSharedFrame&) = delete;

    // A zeroed segment of width x height pixels (4 bytes each) becomes the
    // current one; the one before stays until releasePrevious. Fails, and
    // changes nothing, when either side cannot attach one (a remote display).
    bool allocate(int width, int height, QString* error);
    // Called once the library no longer uses the segment before the current one.
    void releasePrevious();
    // Releases every segment; the library has moved to a buffer of its own.
    void releaseAll();

    xcb_connection_t* connection() const { return m_connection; }
    // The current segment, or null / 0 when there is none.
    unsigned char* data() const { return m_current.data; }
    quint32 segment() const { return m_current.segment; }
    int stride() const { return m_current.stride; }
    unsigned char* previousData() const { return m_previous.data; }
    int previousStride() const { return m_previous.stride; }
    int previousHeight() const { return m_previous.height; }

private:
    struct Segment
    {
        unsigned char* data = nullptr;
        quint32 segment = 0;
        int stride = 0;
        int height = 0;
    };
    void release(Segment* segment);

    xcb_connection_t* m_connection;
    Segment m_current;
    Segment m_previous;
};
