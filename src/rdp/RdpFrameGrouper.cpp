#include "RdpFrameGrouper.h"

void RdpFrameGrouper::paint(const QRect& rect)
{
    if (rect.isEmpty())
        return;
    m_bounds |= rect;
    if (m_overflow)
        return;
    if (m_rects.size() < MaxRects) {
        m_rects.append(rect);
        return;
    }
    m_overflow = true;
    m_rects.clear();
}

bool RdpFrameGrouper::endPaint(QRegion* repaint)
{
    if (m_inFrame)
        return false;
    *repaint = take();
    return true;
}

bool RdpFrameGrouper::frameMarker(quint32 action, QRegion* repaint)
{
    if (action == FrameBegin) {
        m_inFrame = true;
        return false;
    }
    if (action != FrameEnd)
        return false;
    m_inFrame = false;
    *repaint = take();
    return true;
}

QRegion RdpFrameGrouper::take()
{
    QRegion region;
    if (m_overflow) {
        region = m_bounds;
    } else {
        for (const QRect& rect : qAsConst(m_rects))
            region += rect;
    }
    m_rects.clear();
    m_bounds = QRect();
    m_overflow = false;
    return region;
}
