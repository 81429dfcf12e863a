#pragma once

#include <QClipboard>
#include <QList>
#include <QObject>
#include <QSize>
#include <QVariant>
#include <QVariantMap>

#include <winpr/wtypes.h>

#include <memory>

#include "RdpClipboardCodec.h"
#include "RdpViewer.h"

class RdpConnectSocket;
struct RdpClientContext;
class RdpWorkerThread;
class QScreen;

// One RDP connection to one remote session. The blocking library calls
// (connect and the wait for network events) run on a worker thread; the
// processing of received data and all drawing run on the GUI thread.
// Launchers create it, call start and listen to connected() and finished();
// exitCode tells how the run ended.
class RdpInstance : public QObject
{
    Q_OBJECT

public:
    explicit RdpInstance(QObject* parent = nullptr);
    ~RdpInstance() override;

    // Sets up the connection and starts connecting. windowMode is
    // "rootless", "fullscreen" or a desktop size such as "1024x768". A
    // non-zero tunnelPort sends the connection through the SSH client's
    // SOCKS forward. Does nothing while a connection is running.
    bool start(const QString& host, quint16 port, const QString& user, const QString& password,
               quint16 tunnelPort, const QString& windowMode, const QString& title, bool direct,
               const QVariantMap& params);

    bool isRunning() const { return m_context != nullptr; }
    int exitCode() const { return m_exitCode; }

    RdpClientContext* context() const { return m_context; }
    // The zoom changed (context's scale): the desktop widget takes its new
    // size and limits, and rootless sessions report the layout anew.
    void applyScale();

signals:
    void connected();
    void finished();

public slots:
    void quit();

protected:
    bool event(QEvent* event) override;

private slots:
    void connectFinished(const QVariant& result);
    void waitFinished(const QVariant& result);
    void handleCliprdrMonitorReady();
    void handleCliprdrServerFormatList(const QList<unsigned long>& formats);
    void handleCliprdrServerFormatDataRequest(unsigned long format);
    void handleCliprdrServerFormatDataResponse(const QByteArray& data);
    void handleQzcfgOptionsUpdatedNotify(const QString& text);
    void handleQzcfgSetOptionsResponse(const QString& text);
    void handleQzshareClientId(unsigned long id);
    void handleQzshareServerStatus(bool sharing, const QList<RdpViewer>& viewers);
    void handleQzshareDisconnectInfo(unsigned long value);
    void handleQzshareMouseEvent(const QPoint& point, unsigned long flags);
    void handleQzdeskMinMaxInfo(const QSize& min, const QSize& max);
    void handleQzdeskDesktopResized(const QSize& size);
    void handleRailServerSystemParam();
    void handleRailServerHandshake();
    void sendDataFormats(QClipboard::Mode mode);
    // Tells the server where the local monitors' work areas lie.
    void sendMonitorLayout();

private:
    void applyWindowMode(const QString& windowMode, const QString& title);
    void createDesktopWindow();
    void createOptionsDialog();
    void createSharingDialog();
    bool mayResize() const;
    void watchScreen(QScreen* screen);
    // Gives the desktop widget the server's size limits in local pixels.
    void applyDesktopLimits();
    void postWait();
    void stop(int reason);
    void announceClipboardFormats();
    // A local change that only reflects the server's clipboard.
    bool isServerClipboardEcho(QClipboard::Mode mode) const;
    void requestClipboardData(quint32 format);

    QVariantMap m_params;
    RdpClientContext* m_context = nullptr;
    bool m_isConnected = false;
    int m_exitCode = 0;
    RdpWorkerThread* m_worker = nullptr;
    // The connection being opened on the worker; null once connected.
    std::shared_ptr<RdpConnectSocket> m_connectSocket;
    HANDLE m_stopEvent = nullptr;
    bool m_clipboardReady = false;
    RdpClipboardRequests m_requests;
    bool m_ignoreClipboardChange = false;
    bool m_ignoreSelectionChange = false;
    // The text last put on the local clipboard from the server.
    QString m_serverClipboardText;
    // What the sharing channel said last; it may speak before the dialog exists.
    quint32 m_shareClientId = RdpViewer::NoId;
    bool m_sharing = false;
    QList<RdpViewer> m_viewers;
    // The desktop sizes the server allows, remote pixels; empty until told.
    QSize m_minDesktop;
    QSize m_maxDesktop;
};
