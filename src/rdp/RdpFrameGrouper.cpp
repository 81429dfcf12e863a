#include "RdpFrameGrouper.h"

QRegion RdpFrameGrouper::endPaint(const QRegion& painted)
{
    if (m_inFrame) {
        m_invalid += painted;
        return QRegion();
    }
    return painted;
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
    *repaint = m_invalid;
    m_invalid = QRegion();
    return true;
}
