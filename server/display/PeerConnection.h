#pragma once

#include "RailChannel.h"
#include "X11Screen.h"

#include <freerdp/codec/rfx.h>
#include <freerdp/peer.h>
#include <freerdp/server/cliprdr.h>
#include <winpr/wtsapi.h>

#include <QByteArray>
#include <QString>

#include <map>
#include <memory>
#include <vector>

class DisplayServer;

// One RDP client of the session: its connection, channels, and what it has
// been sent so far.
class PeerConnection
{
public:
    PeerConnection(DisplayServer& server, freerdp_peer* peer, int id);
    ~PeerConnection();
    PeerConnection(const PeerConnection&) = delete;
    PeerConnection& operator=(const PeerConnection&) = delete;

    bool initialize(const QString& keyFile);
    int id() const { return m_id; }
    quint64 acceptedAt() const { return m_acceptedAt; }
    // Logged on as the owner or a viewer: counted as a client from then on.
    bool authenticated() const { return m_authenticated; }
    // Appends the handles to wait on; returns how many were added.
    int eventHandles(HANDLE* handles, int room);
    // Processes input; false when the connection has ended.
    bool check();

    void addDamage(const std::vector<ScreenRect>& rects);
    void addFullDamage();
    bool wantsFrame() const;
    void sendFrame(const X11Screen& screen);
    void sendCursor(const CursorImage& cursor);
    void sendOptions(const QByteArray& json);
    // Picture quality changed: repaint everything at the new level.
    void optionsChanged();
    void sendDesktopResized(int width, int height);
    void sendMinMaxInfo();
    void resizeDesktop(int width, int height);
    void announceClipboard();
    // Tells the client why it is dropped; it then closes the connection itself.
    void sendErrorInfoAndClose(uint32_t errorInfo);
    bool closedByClient();
    // The context to send window orders on, once this client of a rootless
    // session knows the windows and is active; else null.
    rdpContext* railContext() const;

    // Library callbacks, reached through the peer's context.
    BOOL onCapabilities();
    BOOL onPostConnect();
    LicenseCallbackResult onLicense(wStream* s);
    BOOL onActivate();
    void onKeyboard(UINT16 flags, UINT8 code);
    void onUnicode(UINT16 flags, UINT16 code);
    void onMouse(UINT16 flags, UINT16 x, UINT16 y);
    void onExtendedMouse(UINT16 flags, UINT16 x, UINT16 y);
    void onSynchronize(UINT32 flags);
    void onFrameAcknowledge(UINT32 frameId);
    void onRefreshRect();
    void onSuppressOutput(bool allow);
    UINT onClipboardFormatList(const CLIPRDR_FORMAT_LIST* list);
    UINT onClipboardDataRequest(const CLIPRDR_FORMAT_DATA_REQUEST* request);
    UINT onClipboardDataResponse(const CLIPRDR_FORMAT_DATA_RESPONSE* response);

private:
    struct Channel
    {
        QByteArray name;
        HANDLE handle = nullptr;
        HANDLE event = nullptr;
    };

    // Checks the password once; a client that passes is counted.
    bool logOn();
    // Readies the connection for the protocol once the client has sent data;
    // false when that fails.
    bool startWhenSpoken();
    void openChannels();
    void closeChannels();
    bool readChannel(Channel& channel);
    void handleChannelMessage(const QByteArray& name, const QByteArray& data);
    void writeChannel(const char* name, quint16 type, const QByteArray& payload);
    void sendInitialMessages();
    void noteClientActivity();
    void applyCompression();
    bool sendRemoteFx(const X11Screen& screen, const std::vector<ScreenRect>& rects);
    bool sendRaw(const X11Screen& screen, const std::vector<ScreenRect>& rects);
    void markTiles(const ScreenRect& rect);
    std::vector<ScreenRect> takeDirtyRects();
    void startClipboard();
    // A rootless client of a rootless session.
    bool servesRail() const;
    void startRail();
    void announceWindows();
    void sendClipboardText(uint32_t formatId, const QString& text);

    DisplayServer& m_server;
    freerdp_peer* m_peer;
    int m_id;
    quint64 m_acceptedAt;
    HANDLE m_vcm = nullptr;
    psPeerLicenseCallback m_libraryLicense = nullptr;
    bool m_started = false;
    bool m_authenticated = false;
    bool m_active = false;
    bool m_closed = false;
    quint64 m_closedAt = 0;
    bool m_outputSuppressed = false;
    bool m_initialSent = false;
    quint64 m_activatedAt = 0;
    std::vector<Channel> m_channels;
    CliprdrServerContext* m_cliprdr = nullptr;
    std::unique_ptr<RailChannel> m_rail;
    uint32_t m_requestedFormat = 0;
    RFX_CONTEXT* m_rfx = nullptr;
    int m_rfxCompression = 0;
    uint32_t m_frameId = 0;
    uint32_t m_lastAckedFrame = 0;
    // Dirty 64x64 tiles of the screen, row-major, since the last frame sent.
    std::vector<uint8_t> m_dirtyTiles;
    int m_dirtyColumns = 0, m_dirtyRows = 0;
    size_t m_dirtyCount = 0;
    std::map<unsigned long, uint32_t> m_cursorCache;
    uint32_t m_nextCursorIndex = 0;
    // Asynchronous clipboard answers check this before touching the peer.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);

    friend class DisplayServer;
    friend class SharingSession;
};
