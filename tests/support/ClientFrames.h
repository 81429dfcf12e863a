#pragma once

#include <freerdp/freerdp.h>

#include <QElapsedTimer>
#include <QString>
#include <QTest>

// Counts the frames an RDP client receives, at their end markers, by
// wrapping the library's handler of one connection (GUI thread).
namespace ClientFrames {

inline int count = 0;
inline pSurfaceFrameMarker libraryHandler = nullptr;

inline BOOL countMarker(rdpContext* context, const SURFACE_FRAME_MARKER* marker)
{
    if (marker->frameAction == SURFACECMD_FRAMEACTION_END)
        ++count;
    return libraryHandler(context, marker);
}

inline void watch(rdpContext* context)
{
    libraryHandler = context->update->SurfaceFrameMarker;
    context->update->SurfaceFrameMarker = countMarker;
}

// Whether some frames but at most perSecond a second (plus one) arrive in
// about three seconds, once frames already on their way are in; what
// arrived in *observed.
inline bool atMostPerSecond(int perSecond, QString* observed)
{
    QTest::qWait(500);
    count = 0;
    QElapsedTimer timer;
    timer.start();
    QTest::qWait(3000);
    const int frames = count;
    const qint64 elapsed = timer.elapsed();
    *observed = QStringLiteral("%1 frames in %2 ms").arg(frames).arg(elapsed);
    return frames > 0 && frames <= perSecond * double(elapsed) / 1000.0 + 1;
}

} // namespace ClientFrames
