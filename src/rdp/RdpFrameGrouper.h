#pragma once

#include <QRect>
#include <QRegion>
#include <QVector>

// Collects the areas the library painted into and decides when to show
// them: at once outside a server frame, all together at the frame's end.
// Collecting takes constant time per rectangle: a QRegion grows by one
// rectangle in time proportional to its size, so beyond MaxRects
// rectangles the collected area is their bounding rectangle.
class RdpFrameGrouper
{
public:
    enum Action : quint32 { FrameBegin = 0, FrameEnd = 1 };
    static constexpr int MaxRects = 128;

    // A rectangle the library painted into (remote pixels).
    void paint(const QRect& rect);
    // The end of a paint. Outside a frame returns true with the area
    // painted since the last repaint in *repaint; inside one returns false
    // and keeps collecting.
    bool endPaint(QRegion* repaint);
    // A frame marker. Returns true for an end marker, with the area
    // collected during the frame in *repaint; other actions return false.
    bool frameMarker(quint32 action, QRegion* repaint);

    bool inFrame() const { return m_inFrame; }

private:
    QRegion take();

    bool m_inFrame = false;
    QVector<QRect> m_rects;
    QRect m_bounds;
    bool m_overflow = false;
};
