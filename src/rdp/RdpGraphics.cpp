#include "RdpGraphics.h"

#include "RdpClientContext.h"
#include "RdpCoordinates.h"
#include "RdpDesktopWidget.h"
#include "RdpFrameGrouper.h"
#include "RdpMainWidget.h"
#include "RdpLogging.h"
#include "RdpRailWindows.h"
#include "RdpSharedFrame.h"

#include <QCursor>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QThread>

#include <algorithm>
#include <cstring>

#include <freerdp/cache/pointer.h>
#include <freerdp/codec/color.h>
#include <freerdp/gdi/gdi.h>

namespace {

RdpClientContext* clientContext(rdpContext* context)
{
    return reinterpret_cast<RdpClientContext*>(context);
}

// The window exists only once the connect step has returned; from then on
// the library calls back only from the GUI thread. Callbacks during the
// connect, on the worker, find no window and touch no widget.
RdpDesktopWidget* desktopWidget(RdpClientContext* context)
{
    return context->mainWidget ? context->mainWidget->desktopWidget() : nullptr;
}

// Made before the connect; during the connect (on the worker) its widgets
// get no pointer shape.
RdpRailWindows* railWindows(RdpClientContext* context)
{
    RdpRailWindows* windows = context->railWindows;
    return windows && windows->thread() == QThread::currentThread() ? windows : nullptr;
}

QImage::Format imageFormat(UINT32 pixelFormat)
{
    switch (GetBitsPerPixel(pixelFormat)) {
    case 16:
        return QImage::Format_RGB16;
    case 24:
        return QImage::Format_RGB888;
    default:
        return QImage::Format_RGB32;
    }
}

BOOL RdpInstanceBeginPaint(rdpContext* context)
{
    HGDI_WND hwnd = context->gdi->primary->hdc->hwnd;
    hwnd->invalid->null = TRUE;
    hwnd->ninvalid = 0;
    return TRUE;
}

BOOL RdpInstanceEndPaint(rdpContext* context)
{
    HGDI_WND hwnd = context->gdi->primary->hdc->hwnd;
    if (hwnd->invalid->null || hwnd->ninvalid <= 0)
        return TRUE;
    RdpClientContext* client = clientContext(context);
    for (INT32 i = 0; i < hwnd->ninvalid; ++i) {
        const GDI_RGN& rect = hwnd->cinvalid[i];
        client->frames->paint(QRect(rect.x, rect.y, rect.w, rect.h));
    }
    QRegion now;
    if (client->frames->endPaint(&now) && !now.isEmpty())
        RdpGraphics::repaint(client, now);
    return TRUE;
}

BOOL RdpInstanceSurfaceFrameMarker(rdpContext* context, const SURFACE_FRAME_MARKER* marker)
{
    RdpClientContext* client = clientContext(context);
    QRegion collected;
    if (!client->frames->frameMarker(marker->frameAction, &collected))
        return TRUE;
    if (freerdp_settings_get_uint32(context->settings, FreeRDP_FrameAcknowledge) > 0)
        IFCALL(context->update->SurfaceFrameAcknowledge, context, marker->frameId);
    if (!collected.isEmpty())
        RdpGraphics::repaint(client, collected);
    return TRUE;
}

// The library moves to a buffer of its own, keeping the picture.
bool resizeCopying(rdpGdi* gdi, UINT32 width, UINT32 height)
{
    const QImage::Format format = imageFormat(gdi->dstFormat);
    const QImage old = QImage(gdi->primary_buffer, gdi->width, gdi->height, static_cast<int>(gdi->stride), format).copy();
    if (!gdi_resize(gdi, width, height))
        return false;
    QImage current(gdi->primary_buffer, gdi->width, gdi->height, static_cast<int>(gdi->stride), format);
    QPainter painter(&current);
    painter.drawImage(0, 0, old);
    return true;
}

// The library moves to the shared frame's new segment, keeping the picture;
// the old segment goes once the library has let it go.
bool resizeShared(rdpGdi* gdi, RdpSharedFrame* shared, UINT32 width, UINT32 height)
{
    const int rows = std::min(shared->previousHeight(), static_cast<int>(height));
    const int bytes = std::min(shared->previousStride(), shared->stride());
    for (int y = 0; y < rows; ++y)
        std::memcpy(shared->data() + y * shared->stride(), shared->previousData() + y * shared->previousStride(),
                    static_cast<size_t>(bytes));
    if (!gdi_resize_ex(gdi, width, height, static_cast<UINT32>(shared->stride()), gdi->dstFormat, shared->data(),
                       nullptr))
        return false;
    shared->releasePrevious();
    return true;
}

BOOL RdpInstanceDesktopResize(rdpContext* context)
{
    rdpGdi* gdi = context->gdi;
    const UINT32 width = freerdp_settings_get_uint32(context->settings, FreeRDP_DesktopWidth);
    const UINT32 height = freerdp_settings_get_uint32(context->settings, FreeRDP_DesktopHeight);
    RdpClientContext* client = clientContext(context);
    RdpSharedFrame* shared = client->sharedFrame;
    const bool sameSize = UINT32(gdi->width) == width && UINT32(gdi->height) == height;
    QString error;
    if (!shared || !shared->data() || sameSize) {
        if (!resizeCopying(gdi, width, height))
            return FALSE;
    } else if (shared->allocate(static_cast<int>(width), static_cast<int>(height), &error)) {
        if (!resizeShared(gdi, shared, width, height))
            return FALSE;
    } else {
        qCWarning(lcRdp) << "the frame buffer leaves shared memory:" << error;
        if (!resizeCopying(gdi, width, height))
            return FALSE;
        shared->releaseAll();
    }
    if (RdpDesktopWidget* desktop = desktopWidget(client)) {
        const QRect remote(0, 0, static_cast<int>(width), static_cast<int>(height));
        desktop->resize(RdpCoordinates::remoteToLocal(remote, client->inverseScale).size());
    }
    return TRUE;
}

BOOL RdpInstancePointerNew(rdpContext* context, rdpPointer* pointer)
{
    auto* record = reinterpret_cast<RdpPointer*>(pointer);
    auto* image = new QImage(static_cast<int>(pointer->width), static_cast<int>(pointer->height),
                             QImage::Format_ARGB32);
    if (image->isNull()
        || !freerdp_image_copy_from_pointer_data(image->bits(), PIXEL_FORMAT_BGRA32,
                                                 static_cast<UINT32>(image->bytesPerLine()), 0, 0,
                                                 pointer->width, pointer->height, pointer->xorMaskData,
                                                 pointer->lengthXorMask, pointer->andMaskData,
                                                 pointer->lengthAndMask, pointer->xorBpp,
                                                 &context->gdi->palette)) {
        delete image;
        return FALSE;
    }
    record->image = image;
    record->cursor = nullptr;
    return TRUE;
}

void RdpInstancePointerFree(rdpContext* context, rdpPointer* pointer)
{
    auto* record = reinterpret_cast<RdpPointer*>(pointer);
    RdpClientContext* client = clientContext(context);
    if (client->pointer == record)
        client->pointer = nullptr;
    delete record->cursor;
    record->cursor = nullptr;
    delete record->image;
    record->image = nullptr;
}

BOOL RdpInstancePointerSet(rdpContext* context, const rdpPointer* pointer)
{
    RdpClientContext* client = clientContext(context);
    client->pointer = reinterpret_cast<RdpPointer*>(const_cast<rdpPointer*>(pointer));
    RdpGraphics::applyCurrentPointer(client);
    return TRUE;
}

// The widgets keep the shape last set.
BOOL RdpInstancePointerSetNull(rdpContext*)
{
    return TRUE;
}

BOOL RdpInstancePointerSetDefault(rdpContext*)
{
    return TRUE;
}

BOOL RdpInstancePointerSetPosition(rdpContext*, UINT32, UINT32)
{
    return TRUE;
}

} // namespace

namespace RdpGraphics {

void install(RdpClientContext* context)
{
    rdpContext* rdp = context->rdp();
    rdpUpdate* update = rdp->update;
    update->BeginPaint = RdpInstanceBeginPaint;
    update->EndPaint = RdpInstanceEndPaint;
    update->DesktopResize = RdpInstanceDesktopResize;
    update->SurfaceFrameMarker = RdpInstanceSurfaceFrameMarker;
    pointer_cache_register_callbacks(update);

    rdpPointer prototype = {};
    prototype.size = sizeof(RdpPointer);
    prototype.New = RdpInstancePointerNew;
    prototype.Free = RdpInstancePointerFree;
    prototype.Set = RdpInstancePointerSet;
    prototype.SetNull = RdpInstancePointerSetNull;
    prototype.SetDefault = RdpInstancePointerSetDefault;
    prototype.SetPosition = RdpInstancePointerSetPosition;
    graphics_register_pointer(rdp->graphics, &prototype);
}

void repaint(RdpClientContext* context, const QRegion& remote)
{
    if (context->railWindows) {
        context->railWindows->repaint(remote);
        return;
    }
    RdpDesktopWidget* desktop = desktopWidget(context);
    if (!desktop)
        return;
    if (desktop->paintsOnScreen()) {
        desktop->paintRemote(remote);
        return;
    }
    if (context->inverseScale == 1.0) {
        desktop->repaint(remote);
        return;
    }
    QRegion local;
    for (const QRect& rect : remote)
        local += RdpCoordinates::remoteToLocal(rect, context->inverseScale);
    if (!local.isEmpty())
        desktop->repaint(local);
}

void applyCurrentPointer(RdpClientContext* context)
{
    RdpPointer* record = context->pointer;
    RdpDesktopWidget* desktop = desktopWidget(context);
    RdpRailWindows* windows = railWindows(context);
    if (!record || (!record->image && !record->cursor) || (!desktop && !windows))
        return;
    if (!record->cursor) {
        record->cursor = new QCursor(QPixmap::fromImage(*record->image),
                                     static_cast<int>(record->pointer.xPos),
                                     static_cast<int>(record->pointer.yPos));
        // The cursor holds its own copy of the shape.
        delete record->image;
        record->image = nullptr;
    }
    if (desktop)
        desktop->setCursor(*record->cursor);
    if (windows)
        windows->setCursor(*record->cursor);
}

} // namespace RdpGraphics
