#pragma once

#include <freerdp/client.h>
#include <freerdp/client/cliprdr.h>
#include <freerdp/client/rail.h>

#include <qzcfg/qzcfg.h>
#include <qzdesk/qzdesk.h>
#include <qzrail/qzrail.h>
#include <qzshare/qzshare.h>

#include "RdpCoordinates.h"

class RdpCertificateCheck;
class RdpFrameGrouper;
struct RdpPointer;
class RdpInstance;
class RdpMainWidget;
class RdpOptionsDialog;
class RdpSharingDialog;
class RdpSharedFrame;
class RdpRailWindows;

// The per-connection library context: the library's own structure first,
// then ours. The library allocates it zeroed and frees it, so it holds
// only plain values and pointers, no Qt values.
struct RdpClientContext
{
    rdpClientContext common;

    CliprdrClientContext* cliprdr;
    RailClientContext* rail;
    // The custom channels, while connected; null when a channel is absent.
    QzdeskClientContext* qzdesk;
    QzrailClientContext* qzrail;
    QzshareClientContext* qzshare;
    QzcfgClientContext* qzcfg;

    RdpInstance* instance;
    // Direct connections only: the user's say on untrusted certificates.
    RdpCertificateCheck* certificates;
    RdpMainWidget* mainWidget;
    // The local windows of a rootless session, once connected.
    RdpRailWindows* railWindows;
    // Created once connected, in both window modes.
    RdpOptionsDialog* optionsDialog;
    // Desktop mode with the sharing channel only.
    RdpSharingDialog* sharingDialog;

    double scale;
    double inverseScale;
    // Painted areas held back until the end of a server frame.
    RdpFrameGrouper* frames;
    // The frame buffer's memory when shared with the X server; null when
    // the library keeps the frame buffer in memory of its own.
    RdpSharedFrame* sharedFrame;
    // The pointer shape the server set last; applied when the desktop
    // window appears.
    RdpPointer* pointer;

    rdpContext* rdp() { return &common.context; }
    RdpScale scaling() const { return {scale, inverseScale}; }
};
