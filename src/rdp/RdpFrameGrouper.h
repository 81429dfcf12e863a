#pragma once

#include <QRegion>

// Collects the areas the library painted into and decides when to show
// them: at once outside a server frame, all together at the frame's end.
class RdpFrameGrouper
{
public:
    enum Action : quint32 { FrameBegin = 0, FrameEnd = 1 };

    // An end-paint with the painted area (remote pixels). Returns what to
    // repaint now: the area itself outside a frame, nothing inside one.
    QRegion endPaint(const QRegion& painted);
    // A frame marker. Returns true for an end marker, with the area
    // collected during the frame in *repaint; other actions return false.
    bool frameMarker(quint32 action, QRegion* repaint);

    bool inFrame() const { return m_inFrame; }

private:
    bool m_inFrame = false;
    QRegion m_invalid;
};
