#pragma once

#include <QRegion>

#include <freerdp/graphics.h>

class QCursor;
class QImage;
struct RdpClientContext;

// The library's pointer record followed by ours. The library allocates it
// with calloc and copies it with memcpy, so it holds pointers only. A new
// shape is kept as an image until it is first shown: it may arrive on the
// worker during the connect, where no pixmap can be made.
struct RdpPointer
{
    rdpPointer pointer;
    QImage* image;
    QCursor* cursor;
};

// Glue between the library's software GDI and the widgets: painted areas,
// frame markers, desktop resizes and pointer shapes. The callbacks run
// inside the library's processing, on the GUI thread once connected.
namespace RdpGraphics {

// Installs the update callbacks and the pointer prototype (post-connect).
void install(RdpClientContext* context);
// Shows a region of the remote screen (remote pixels) in the widgets.
void repaint(RdpClientContext* context, const QRegion& remote);
// Puts the pointer shape last set by the server on the desktop widget.
void applyCurrentPointer(RdpClientContext* context);

} // namespace RdpGraphics
