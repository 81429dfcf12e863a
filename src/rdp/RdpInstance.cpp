#include "RdpInstance.h"

#include "RdpCertificateCheck.h"
#include "RdpChannels.h"
#include "RdpClientContext.h"
#include "RdpConnectSocket.h"
#include "RdpCoordinates.h"
#include "RdpDesktopWidget.h"
#include "RdpExitCode.h"
#include "RdpFrameGrouper.h"
#include "RdpGraphics.h"
#include "RdpLogging.h"
#include "RdpMainWidget.h"
#include "RdpMonitorLayout.h"
#include "RdpOptionsDialog.h"
#include "RdpSharingDialog.h"
#include "RdpSharedFrame.h"
#include "RdpRailWindows.h"
#include "RdpToolbar.h"
#include "RdpWindowMode.h"
#include "RdpWorker.h"

#include <QApplication>
#include <QHash>
#include <QScreen>
#include <QSettings>
#include <QStringList>
#include <QX11Info>

#include <algorithm>
#include <malloc.h>

#include <common/handover.h>
#include <freerdp/gdi/gdi.h>
#include <freerdp/locale/keyboard.h>
#include <freerdp/primitives.h>
#include <winpr/synch.h>

namespace {

BOOL RdpInstanceGlobalInit()
{
    return TRUE;
}

void RdpInstanceGlobalUninit()
{
}

BOOL RdpInstancePreConnect(freerdp* instance)
{
    auto* context = reinterpret_cast<RdpClientContext*>(instance->context);
    rdpSettings* settings = instance->settings;
    BYTE* orders = settings->OrderSupport;
    const BYTE bitmapCache = freerdp_settings_get_bool(settings, FreeRDP_BitmapCacheEnabled) ? 1 : 0;
    orders[NEG_DSTBLT_INDEX] = 1;
    orders[NEG_PATBLT_INDEX] = 1;
    orders[NEG_SCRBLT_INDEX] = 1;
    orders[NEG_OPAQUE_RECT_INDEX] = 1;
    orders[NEG_DRAWNINEGRID_INDEX] = 0;
    orders[NEG_MULTIDSTBLT_INDEX] = 0;
    orders[NEG_MULTIPATBLT_INDEX] = 0;
    orders[NEG_MULTISCRBLT_INDEX] = 0;
    orders[NEG_MULTIOPAQUERECT_INDEX] = 1;
    orders[NEG_MULTI_DRAWNINEGRID_INDEX] = 0;
    orders[NEG_LINETO_INDEX] = 1;
    orders[NEG_POLYLINE_INDEX] = 1;
    orders[NEG_MEMBLT_INDEX] = bitmapCache;
    orders[NEG_MEM3BLT_INDEX] = 1;
    orders[NEG_MEMBLT_V2_INDEX] = bitmapCache;
    orders[NEG_MEM3BLT_V2_INDEX] = 0;
    orders[NEG_SAVEBITMAP_INDEX] = 0;
    orders[NEG_GLYPH_INDEX_INDEX] = 1;
    orders[NEG_FAST_INDEX_INDEX] = 1;
    orders[NEG_FAST_GLYPH_INDEX] = 1;
    orders[NEG_POLYGON_SC_INDEX] = 0;
    orders[NEG_POLYGON_CB_INDEX] = 0;
    orders[NEG_ELLIPSE_SC_INDEX] = 0;
    orders[NEG_ELLIPSE_CB_INDEX] = 0;
    RdpChannels::load(context);
    return TRUE;
}

// The frame buffer in memory shared with the X server when it can attach
// it, else in the library's own.
bool initFrameBuffer(freerdp* instance, RdpClientContext* context)
{
    if (RdpSharedFrame* shared = context->sharedFrame) {
        const auto width = static_cast<int>(freerdp_settings_get_uint32(instance->settings, FreeRDP_DesktopWidth));
        const auto height = static_cast<int>(freerdp_settings_get_uint32(instance->settings, FreeRDP_DesktopHeight));
        QString error;
        // No free function: the segments are ours to release.
        if (shared->allocate(width, height, &error)
            && gdi_init_ex(instance, PIXEL_FORMAT_BGRX32, static_cast<UINT32>(shared->stride()), shared->data(),
                           nullptr))
            return true;
        qCInfo(lcRdp) << "the frame buffer is not shared with the X server:" << error;
        delete shared;
        context->sharedFrame = nullptr;
    }
    return gdi_init(instance, PIXEL_FORMAT_BGRX32);
}

BOOL RdpInstancePostConnect(freerdp* instance)
{
    auto* context = reinterpret_cast<RdpClientContext*>(instance->context);
    if (!initFrameBuffer(instance, context))
        return FALSE;
    RdpGraphics::install(context);
    if (context->railWindows)
        context->railWindows->install();
    return TRUE;
}

BOOL RdpInstanceClientNew(freerdp* instance, rdpContext*)
{
    instance->PreConnect = RdpInstancePreConnect;
    instance->PostConnect = RdpInstancePostConnect;
    RdpCertificateCheck::install(instance);
    return TRUE;
}

void RdpInstanceClientFree(freerdp*, rdpContext*)
{
}

int RdpInstanceClientStart(rdpContext*)
{
    return 0;
}

int RdpInstanceClientStop(rdpContext*)
{
    return 0;
}

} // namespace

RdpInstance::RdpInstance(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<QList<unsigned long>>("QList<unsigned long>");
    qRegisterMetaType<QList<RdpViewer>>("QList<RdpViewer>");
    connect(QApplication::clipboard(), &QClipboard::changed, this, &RdpInstance::sendDataFormats);
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (QScreen* screen : screens)
        watchScreen(screen);
    connect(qApp, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
        watchScreen(screen);
        sendMonitorLayout();
    });
    connect(qApp, &QGuiApplication::screenRemoved, this, &RdpInstance::sendMonitorLayout);
    connect(qApp, &QGuiApplication::primaryScreenChanged, this, &RdpInstance::sendMonitorLayout);
}

void RdpInstance::watchScreen(QScreen* screen)
{
    connect(screen, &QScreen::geometryChanged, this, &RdpInstance::sendMonitorLayout);
    connect(screen, &QScreen::availableGeometryChanged, this, &RdpInstance::sendMonitorLayout);
}

RdpInstance::~RdpInstance()
{
    stop(0);
}

bool RdpInstance::start(const QString& host, quint16 port, const QString& user,
                        const QString& password, quint16 tunnelPort, const QString& windowMode,
                        const QString& title, bool direct, const QVariantMap& params)
{
    if (m_context)
        return true;

    m_params = params;
    // Skips a benchmark of the pixel routines that would delay every first connect.
    primitives_set_hints(PRIMITIVES_ONLY_CPU);
    // glibc raises its mmap threshold to the size of each large block freed,
    // up to 32 MB; after the first display ends, the next displays' buffers
    // come from the per-thread pools of their threads, which keep that memory
    // when the display is gone, so the process grows with every display. A
    // fixed threshold keeps large blocks mapped and returned when freed.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);

    RDP_CLIENT_ENTRY_POINTS entryPoints = {};
    entryPoints.Size = sizeof(RDP_CLIENT_ENTRY_POINTS);
    entryPoints.Version = RDP_CLIENT_INTERFACE_VERSION;
    entryPoints.ContextSize = sizeof(RdpClientContext);
    entryPoints.GlobalInit = RdpInstanceGlobalInit;
    entryPoints.GlobalUninit = RdpInstanceGlobalUninit;
    entryPoints.ClientNew = RdpInstanceClientNew;
    entryPoints.ClientFree = RdpInstanceClientFree;
    entryPoints.ClientStart = RdpInstanceClientStart;
    entryPoints.ClientStop = RdpInstanceClientStop;
    rdpContext* rdp = freerdp_client_context_new(&entryPoints);
    if (!rdp) {
        qCWarning(lcRdp) << "cannot create the RDP client context";
        m_exitCode = RdpExitCode::fromReason(RdpExitCode::ConnectFailed);
        QMetaObject::invokeMethod(this, &RdpInstance::finished, Qt::QueuedConnection);
        return true;
    }
    m_context = reinterpret_cast<RdpClientContext*>(rdp);
    m_context->instance = this;
    m_context->frames = new RdpFrameGrouper;
    if (QX11Info::isPlatformX11() && RdpSharedFrame::supported(QX11Info::connection()))
        m_context->sharedFrame = new RdpSharedFrame(QX11Info::connection());

    QSettings store;
    store.beginGroup(QStringLiteral("%1-Settings").arg(m_params.value(QStringLiteral("SessionId")).toString()));
    const RdpScale scaling = RdpScale::fromFactor(store.value(QStringLiteral("ScalingFactor"), 1.0).toDouble());
    store.endGroup();
    m_context->scale = scaling.scale;
    m_context->inverseScale = scaling.inverse;

    rdpSettings* settings = rdp->settings;
    freerdp_settings_set_uint32(settings, FreeRDP_OsMajorType, OSMAJORTYPE_UNIX);
    freerdp_settings_set_uint32(settings, FreeRDP_OsMinorType, OSMINORTYPE_NATIVE_XSERVER);
    // A direct connection crosses the network on its own: TLS only, so
    // that nobody can talk it down to the unauthenticated RDP security, and
    // an untrusted certificate is never accepted without the user's say.
    freerdp_settings_set_bool(settings, FreeRDP_RdpSecurity, !direct);
    freerdp_settings_set_bool(settings, FreeRDP_TlsSecurity, direct);
    freerdp_settings_set_bool(settings, FreeRDP_NlaSecurity, FALSE);
    freerdp_settings_set_bool(settings, FreeRDP_ExtSecurity, FALSE);
    freerdp_settings_set_bool(settings, FreeRDP_UseRdpSecurityLayer, !direct);
    if (direct) {
        freerdp_settings_set_uint32(settings, FreeRDP_AuthenticationLevel, 2);
        m_context->certificates = new RdpCertificateCheck(this);
    }
    freerdp_settings_set_bool(settings, FreeRDP_SoftwareGdi, TRUE);
    freerdp_settings_set_bool(settings, FreeRDP_RemoteFxCodec, TRUE);
    freerdp_settings_set_bool(settings, FreeRDP_FastPathOutput, TRUE);
    freerdp_settings_set_uint32(settings, FreeRDP_ColorDepth, 32);
    // Large pointers: both flags of the large pointer capability (96 and 384 pixels).
    freerdp_settings_set_uint32(settings, FreeRDP_LargePointerFlag, 0x1 | 0x2);
    freerdp_settings_set_bool(settings, FreeRDP_FrameMarkerCommandEnabled, TRUE);
    freerdp_settings_set_bool(settings, FreeRDP_SurfaceFrameMarkerEnabled, TRUE);
    freerdp_settings_set_uint32(settings, FreeRDP_KeyboardLayout,
        freerdp_keyboard_init(freerdp_settings_get_uint32(settings, FreeRDP_KeyboardLayout)));
    freerdp_settings_set_bool(settings, FreeRDP_RedirectClipboard, TRUE);

    if (!direct && tunnelPort != 0) {
        freerdp_settings_set_uint32(settings, FreeRDP_ProxyType, PROXY_TYPE_SOCKS);
        // The address the forward's owner was checked on, not a name that may
        // resolve elsewhere.
        freerdp_settings_set_string(settings, FreeRDP_ProxyHostname, "127.0.0.1");
        freerdp_settings_set_uint16(settings, FreeRDP_ProxyPort, tunnelPort);
        // The session's server as seen from the SSH server's side.
        freerdp_settings_set_string(settings, FreeRDP_ServerHostname, "127.0.0.1");
    } else {
        freerdp_settings_set_string(settings, FreeRDP_ServerHostname, host.toLocal8Bit().constData());
    }
    freerdp_settings_set_uint32(settings, FreeRDP_ServerPort, port);
    freerdp_settings_set_string(settings, FreeRDP_Username, user.toLocal8Bit().constData());
    // The library keeps its own copy; ours is overwritten at once.
    QByteArray passwordBytes = password.toLocal8Bit();
    freerdp_settings_set_string(settings, FreeRDP_Password, passwordBytes.constData());
    std::fill(passwordBytes.begin(), passwordBytes.end(), '\0');

    applyWindowMode(windowMode, title);

    m_exitCode = 0;
    m_worker = new RdpWorkerThread(this);
    connect(m_worker, &RdpWorkerThread::finished, this, &RdpInstance::connectFinished);
    freerdp* instance = rdp->instance;
    auto socket = std::make_shared<RdpConnectSocket>();
    m_connectSocket = socket;
    m_worker->post([instance, socket]() { return QVariant(static_cast<int>(socket->connect(instance))); });
    return true;
}

void RdpInstance::applyWindowMode(const QString& windowMode, const QString& title)
{
    rdpSettings* settings = m_context->rdp()->settings;
    const RdpWindowMode mode = RdpWindowMode::parse(windowMode);
    const QByteArray titleBytes = title.toUtf8();
    if (mode.kind == RdpWindowMode::Desktop) {
        freerdp_settings_set_uint32(settings, FreeRDP_DesktopWidth, static_cast<UINT32>(mode.width));
        freerdp_settings_set_uint32(settings, FreeRDP_DesktopHeight, static_cast<UINT32>(mode.height));
        freerdp_settings_set_string(settings, FreeRDP_WindowTitle, titleBytes.constData());
        return;
    }
    const QSize desktop = RdpCoordinates::remoteDesktopSize(RdpCoordinates::virtualDesktop(), m_context->scale);
    freerdp_settings_set_uint32(settings, FreeRDP_DesktopWidth, static_cast<UINT32>(desktop.width()));
    freerdp_settings_set_uint32(settings, FreeRDP_DesktopHeight, static_cast<UINT32>(desktop.height()));
    if (mode.kind == RdpWindowMode::Fullscreen) {
        freerdp_settings_set_bool(settings, FreeRDP_Fullscreen, TRUE);
        freerdp_settings_set_string(settings, FreeRDP_WindowTitle, titleBytes.constData());
        return;
    }
    freerdp_settings_set_string(settings, FreeRDP_RemoteApplicationProgram, "nothing");
    freerdp_settings_set_bool(settings, FreeRDP_RemoteApplicationMode, TRUE);
    freerdp_settings_set_bool(settings, FreeRDP_RemoteAppLanguageBarSupported, TRUE);
    freerdp_settings_set_bool(settings, FreeRDP_Workarea, TRUE);
    freerdp_settings_set_bool(settings, FreeRDP_DisableWallpaper, TRUE);
    freerdp_settings_set_bool(settings, FreeRDP_DisableFullWindowDrag, TRUE);
    // Before the connect: the server may send its windows before it returns.
    m_context->railWindows = new RdpRailWindows(m_context);
}

void RdpInstance::quit()
{
    stop(0);
}

bool RdpInstance::event(QEvent* event)
{
    // The channels' threads (ours and the clipboard's) call the handle* slots
    // through the event queue (forwardToInstance).
    if (event->type() == QEvent::MetaCall)
        HandOver::acquire(this);
    return QObject::event(event);
}

void RdpInstance::connectFinished(const QVariant& result)
{
    bool ok = false;
    const int succeeded = result.toInt(&ok);
    if (!ok || succeeded == 0) {
        // A refused certificate was the user's choice or has been explained.
        const bool refused = m_context->certificates && m_context->certificates->refused();
        stop(refused ? RdpExitCode::Quiet : RdpExitCode::ConnectFailed);
        return;
    }
    rdpSettings* settings = m_context->rdp()->settings;
    if (!freerdp_settings_get_bool(settings, FreeRDP_RemoteApplicationMode))
        createDesktopWindow();
    createOptionsDialog();
    if (m_context->mainWidget && m_context->qzshare)
        createSharingDialog();
    sendMonitorLayout();

    m_isConnected = true;
    m_connectSocket.reset();
    disconnect(m_worker, nullptr, this, nullptr);
    connect(m_worker, &RdpWorkerThread::finished, this, &RdpInstance::waitFinished);
    m_stopEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    postWait();
    emit connected();
}

void RdpInstance::createDesktopWindow()
{
    rdpSettings* settings = m_context->rdp()->settings;
    auto* desktop = new RdpDesktopWidget(m_context);
    const QRect remote(0, 0, static_cast<int>(freerdp_settings_get_uint32(settings, FreeRDP_DesktopWidth)),
                       static_cast<int>(freerdp_settings_get_uint32(settings, FreeRDP_DesktopHeight)));
    desktop->resize(RdpCoordinates::remoteToLocal(remote, m_context->inverseScale).size());
    auto* window = new RdpMainWidget(m_context);
    window->setDesktopWidget(desktop);
    window->setWindowTitle(QString::fromUtf8(freerdp_settings_get_string(settings, FreeRDP_WindowTitle)));
    m_context->mainWidget = window;
    applyDesktopLimits();
    window->setResizeMode(false);
    window->setResizeEnabled(mayResize());
    if (freerdp_settings_get_bool(settings, FreeRDP_Fullscreen))
        window->enterFullScreen();
    else
        window->show();
    window->activateWindow();
    RdpGraphics::applyCurrentPointer(m_context);
}

void RdpInstance::createOptionsDialog()
{
    auto* dialog = new RdpOptionsDialog(m_context, m_params.value(QStringLiteral("RemoteHost")).toString(),
                                        m_params.value(QStringLiteral("SessionId")).toString(),
                                        m_context->mainWidget);
    dialog->setWindowTitle(
        QString::fromUtf8(freerdp_settings_get_string(m_context->rdp()->settings, FreeRDP_WindowTitle)));
    m_context->optionsDialog = dialog;
}

void RdpInstance::createSharingDialog()
{
    auto* dialog = new RdpSharingDialog(m_context, m_params.value(QStringLiteral("SshHost")).toString(),
                                        static_cast<quint16>(m_params.value(QStringLiteral("SshPort")).toUInt()),
                                        m_context->mainWidget);
    dialog->setWindowTitle(
        QString::fromUtf8(freerdp_settings_get_string(m_context->rdp()->settings, FreeRDP_WindowTitle)));
    m_context->sharingDialog = dialog;
    // The interface is there even when the server does not speak the
    // channel: its first message, the client id, shows that it does.
    m_context->mainWidget->setSharingEnabled(m_shareClientId != RdpViewer::NoId);
    if (m_shareClientId != RdpViewer::NoId)
        dialog->setClientId(m_shareClientId);
    dialog->setStatus(m_sharing, m_viewers);
}

void RdpInstance::handleQzshareClientId(unsigned long id)
{
    if (!m_context)
        return;
    m_shareClientId = static_cast<quint32>(id);
    if (m_context->sharingDialog)
        m_context->sharingDialog->setClientId(m_shareClientId);
    if (RdpMainWidget* window = m_context->mainWidget) {
        window->setSharingEnabled(m_context->sharingDialog != nullptr);
        if (!mayResize())
            window->setResizeMode(false);
        window->setResizeEnabled(mayResize());
    }
}

void RdpInstance::handleQzshareServerStatus(bool sharing, const QList<RdpViewer>& viewers)
{
    if (!m_context)
        return;
    RdpMainWidget* window = m_context->mainWidget;
    QStringList lines;
    if (!m_viewers.isEmpty()) {
        const auto names = [](const QList<RdpViewer>& list) {
            QHash<quint32, QString> result;
            for (const RdpViewer& viewer : list)
                result.insert(viewer.id(), viewer.name());
            return result;
        };
        const auto controller = [](const QList<RdpViewer>& list) {
            quint32 id = 0;
            for (const RdpViewer& viewer : list) {
                if (viewer.isController())
                    id = viewer.id();
            }
            return id;
        };
        const QHash<quint32, QString> oldNames = names(m_viewers);
        const QHash<quint32, QString> newNames = names(viewers);
        const quint32 newController = controller(viewers);
        if (controller(m_viewers) != newController) {
            if (newNames.contains(newController))
                lines << tr("%1 now has control of the session.").arg(newNames.value(newController));
            if (window)
                window->handleOverlayMouseEvent(QPoint(-1, -1), 0);
        }
        for (auto it = newNames.cbegin(); it != newNames.cend(); ++it) {
            if (!oldNames.contains(it.key()))
                lines << tr("%1 has joined the session.").arg(it.value());
        }
        for (auto it = oldNames.cbegin(); it != oldNames.cend(); ++it) {
            if (!newNames.contains(it.key()))
                lines << tr("%1 has left the session.").arg(it.value());
        }
    }
    if (!lines.isEmpty() && window)
        window->showSharingNotification(lines.join(QLatin1Char('\n')));
    m_viewers = viewers;
    m_sharing = sharing;
    if (m_context->sharingDialog)
        m_context->sharingDialog->setStatus(sharing, viewers);
}

void RdpInstance::handleQzshareDisconnectInfo(unsigned long)
{
}

void RdpInstance::handleQzshareMouseEvent(const QPoint& point, unsigned long flags)
{
    if (m_context && m_context->mainWidget)
        m_context->mainWidget->handleOverlayMouseEvent(RdpCoordinates::remoteToLocal(point, m_context->inverseScale),
                                                       flags);
}

void RdpInstance::handleQzcfgOptionsUpdatedNotify(const QString& text)
{
    if (m_context && m_context->optionsDialog)
        m_context->optionsDialog->handleOptionsUpdated(text);
}

void RdpInstance::handleQzcfgSetOptionsResponse(const QString& text)
{
    if (m_context && m_context->optionsDialog)
        m_context->optionsDialog->handleSetOptionsResponse(text);
}

void RdpInstance::handleRailServerSystemParam()
{
    if (m_context && m_context->railWindows)
        m_context->railWindows->sendWorkArea();
}

void RdpInstance::handleRailServerHandshake()
{
    if (m_context && m_context->railWindows)
        m_context->railWindows->serverReady();
}

// The library offers the interface of every channel we load, also when the
// server has not joined it, and a request on such a channel ends the
// connection. The allowed sizes, which the server sends first, show that it
// speaks the desktop channel: resizing is enabled from then on.
void RdpInstance::handleQzdeskMinMaxInfo(const QSize& min, const QSize& max)
{
    m_minDesktop = min;
    m_maxDesktop = max;
    applyDesktopLimits();
    if (m_context && m_context->mainWidget)
        m_context->mainWidget->setResizeEnabled(mayResize());
}

void RdpInstance::applyScale()
{
    applyDesktopLimits();
    if (m_context && m_context->mainWidget)
        m_context->mainWidget->handleScaleChanged();
    sendMonitorLayout();
    if (m_context && m_context->railWindows)
        m_context->railWindows->scaleChanged();
}

bool RdpInstance::mayResize() const
{
    // Only the owner (client id 0, or a server without sharing) resizes the
    // shared desktop: everybody else would fight over its size.
    const bool viewer = m_shareClientId != RdpViewer::NoId && m_shareClientId != 0;
    return m_context && m_context->qzdesk && m_minDesktop.isValid() && !viewer;
}

void RdpInstance::applyDesktopLimits()
{
    if (!m_context || !m_context->mainWidget || !m_minDesktop.isValid() || !m_maxDesktop.isValid())
        return;
    RdpDesktopWidget* desktop = m_context->mainWidget->desktopWidget();
    if (!desktop)
        return;
    const double inverse = m_context->inverseScale;
    desktop->setMinimumSize(RdpCoordinates::remoteToLocal(QRect(QPoint(0, 0), m_minDesktop), inverse).size());
    desktop->setMaximumSize(RdpCoordinates::remoteToLocal(QRect(QPoint(0, 0), m_maxDesktop), inverse).size());
}

void RdpInstance::handleQzdeskDesktopResized(const QSize& size)
{
    if (!m_context || !m_context->mainWidget)
        return;
    if (RdpDesktopWidget* desktop = m_context->mainWidget->desktopWidget())
        desktop->resize(RdpCoordinates::remoteToLocal(QRect(QPoint(0, 0), size), m_context->inverseScale).size());
}

// Only rootless sessions are shown on the local monitors' layout; in desktop
// mode the server may not even have joined the rootless channel.
void RdpInstance::sendMonitorLayout()
{
    if (!m_context || !m_context->qzrail
        || !freerdp_settings_get_bool(m_context->rdp()->settings, FreeRDP_RemoteApplicationMode))
        return;
    const QVector<QzrailMonitor> records = RdpMonitorLayout::records(
        RdpMonitorLayout::workAreas(), m_context->scale, RdpCoordinates::virtualDesktop().topLeft());
    const UINT32 count = UINT32(qMin(records.size(), int(QZRAIL_MAX_MONITORS)));
    m_context->qzrail->MonitorLayout(m_context->qzrail, count, records.constData());
}

void RdpInstance::postWait()
{
    rdpContext* rdp = m_context->rdp();
    HANDLE stopEvent = m_stopEvent;
    m_worker->post([rdp, stopEvent]() {
        HANDLE handles[64];
        handles[0] = stopEvent;
        const DWORD count = freerdp_get_event_handles(rdp, &handles[1], 63);
        if (count == 0)
            return QVariant::fromValue<unsigned long>(WAIT_FAILED);
        return QVariant::fromValue<unsigned long>(WaitForMultipleObjects(count + 1, handles, FALSE, 1000));
    });
}

void RdpInstance::waitFinished(const QVariant& result)
{
    if (result.value<unsigned long>() == WAIT_FAILED) {
        stop(RdpExitCode::WaitFailed);
        return;
    }
    rdpContext* rdp = m_context->rdp();
    if (freerdp_check_event_handles(rdp) && !freerdp_shall_disconnect(rdp->instance)) {
        postWait();
        return;
    }
    stop(RdpExitCode::disconnectReason(freerdp_error_info(rdp->instance), freerdp_get_last_error(rdp)));
}

void RdpInstance::stop(int reason)
{
    if (!m_context)
        return;
    freerdp* instance = m_context->rdp()->instance;
    if (m_isConnected) {
        SetEvent(m_stopEvent);
        disconnect(m_worker, nullptr, this, nullptr);
        delete m_worker;
        m_worker = nullptr;
        CloseHandle(m_stopEvent);
        m_stopEvent = nullptr;
        delete m_context->optionsDialog;
        m_context->optionsDialog = nullptr;
        delete m_context->sharingDialog;
        m_context->sharingDialog = nullptr;
        delete m_context->mainWidget;
        m_context->mainWidget = nullptr;
    } else {
        // Deleting the worker waits for the connect attempt; cancel it first,
        // or a silent tunnel would block the GUI thread for minutes.
        freerdp_abort_connect(instance);
        m_connectSocket->cancel();
        if (m_context->certificates)
            m_context->certificates->cancel();
        disconnect(m_worker, nullptr, this, nullptr);
        delete m_worker;
        m_worker = nullptr;
    }
    m_connectSocket.reset();
    delete m_context->railWindows;
    m_context->railWindows = nullptr;
    // Also after a failed or cancelled connect: closes the channels the
    // library already started.
    freerdp_disconnect(instance);
    m_clipboardReady = false;
    m_requests.reset();
    m_shareClientId = RdpViewer::NoId;
    m_sharing = false;
    m_viewers.clear();

    m_exitCode = RdpExitCode::fromReason(reason);
    m_isConnected = false;
    gdi_free(instance);
    delete m_context->sharedFrame;
    m_context->sharedFrame = nullptr;
    delete m_context->frames;
    m_context->frames = nullptr;
    delete m_context->certificates;
    m_context->certificates = nullptr;
    m_context->instance = nullptr;
    freerdp_client_context_free(m_context->rdp());
    m_context = nullptr;
    emit finished();
}
