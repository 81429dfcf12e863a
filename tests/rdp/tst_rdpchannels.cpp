#include "ChannelMessage.h"
#include "ClientFrames.h"
#include "RdpClientContext.h"
#include "RdpDesktopWidget.h"
#include "RdpInstance.h"
#include "RdpMainWidget.h"
#include "RdpOptionsDialog.h"
#include "RdpSharingDialog.h"
#include "RdpSharingKey.h"
#include "RdpTestServers.h"
#include "RdpToolbar.h"
#include "SshServer.h"
#include "TopLevels.h"

#include <freerdp/gdi/gdi.h>
#include <winpr/wlog.h>

#include <QDir>
#include <QDirIterator>
#include <QGroupBox>
#include <QLabel>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QSlider>
#include <QTableView>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <mutex>
#include <thread>

namespace {

constexpr int Timeout = 30000;

// Lines the channels log at error level, whatever thread logs them.
// Standard mutexes: ThreadSanitizer sees their locking, not that of QMutex
// once contended (a futex inside Qt).
std::mutex logMutex;
QStringList logLines;

BOOL recordLogLine(const wLogMessage* message)
{
    std::lock_guard<std::mutex> lock(logMutex);
    logLines.append(QString::fromUtf8(message->TextString));
    return TRUE;
}

bool logged(const QString& line)
{
    std::lock_guard<std::mutex> lock(logMutex);
    return logLines.contains(line);
}

// What the channel's callbacks received, in order.
struct Received
{
    std::mutex mutex;
    QStringList items;
    int delayMs = 0;

    void add(const QString& item)
    {
        if (delayMs)
            QThread::msleep(ulong(delayMs));
        std::lock_guard<std::mutex> lock(mutex);
        items.append(item);
    }
    QStringList all()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return items;
    }
};

UINT onDesktopResized(QzdeskClientContext* context, UINT16 width, UINT16 height)
{
    static_cast<Received*>(context->custom)->add(QStringLiteral("%1x%2").arg(width).arg(height));
    return 1;
}

UINT onOptions(QzcfgClientContext* context, const char* text)
{
    static_cast<Received*>(context->custom)->add(QString::fromUtf8(text));
    return 1;
}

// The library's side of one channel of one connection, as the plug-in's
// entry point, events and writes meet it. The init handle is the fake itself.
struct FakeLibrary
{
    CHANNEL_ENTRY_POINTS_FREERDP_EX points = {};
    LPVOID userParam = nullptr;
    void* iface = nullptr;
    CHANNEL_DEF def = {};
    PCHANNEL_INIT_EVENT_EX_FN initEvent = nullptr;
    PCHANNEL_OPEN_EVENT_EX_FN openEvent = nullptr;
    DWORD openHandle = 0;
    bool closed = false;
    bool terminated = false;
    UINT initResult = CHANNEL_RC_OK;
    QList<QByteArray> written;

    FakeLibrary()
    {
        points.cbSize = sizeof(points);
        points.protocolVersion = VIRTUAL_CHANNEL_VERSION_WIN2000;
        points.pVirtualChannelInitEx = init;
        points.pVirtualChannelOpenEx = open;
        points.pVirtualChannelCloseEx = close;
        points.pVirtualChannelWriteEx = write;
        points.MagicNumber = FREERDP_CHANNEL_MAGIC_NUMBER;
    }
    ~FakeLibrary()
    {
        if (initEvent && !terminated) {
            initEvent(userParam, this, CHANNEL_EVENT_DISCONNECTED, nullptr, 0);
            initEvent(userParam, this, CHANNEL_EVENT_TERMINATED, nullptr, 0);
        }
    }

    static FakeLibrary* self(LPVOID initHandle) { return static_cast<FakeLibrary*>(initHandle); }
    static UINT VCAPITYPE init(LPVOID userParam, LPVOID clientContext, LPVOID initHandle, PCHANNEL_DEF channel,
                               INT, ULONG, PCHANNEL_INIT_EVENT_EX_FN event)
    {
        FakeLibrary* fake = self(initHandle);
        if (fake->initResult != CHANNEL_RC_OK)
            return fake->initResult;
        fake->userParam = userParam;
        fake->iface = clientContext;
        fake->def = *channel;
        fake->initEvent = event;
        return CHANNEL_RC_OK;
    }
    static UINT VCAPITYPE open(LPVOID initHandle, LPDWORD openHandle, PCHAR, PCHANNEL_OPEN_EVENT_EX_FN event)
    {
        self(initHandle)->openEvent = event;
        *openHandle = self(initHandle)->openHandle = 42;
        return CHANNEL_RC_OK;
    }
    static UINT VCAPITYPE close(LPVOID initHandle, DWORD)
    {
        self(initHandle)->closed = true;
        return CHANNEL_RC_OK;
    }
    static UINT VCAPITYPE write(LPVOID initHandle, DWORD openHandle, LPVOID data, ULONG length, LPVOID userData)
    {
        FakeLibrary* fake = self(initHandle);
        fake->written.append(QByteArray(static_cast<const char*>(data), int(length)));
        fake->openEvent(fake->userParam, openHandle, CHANNEL_EVENT_WRITE_COMPLETE, userData, 0, 0, 0);
        return CHANNEL_RC_OK;
    }

    bool load(PVIRTUALCHANNELENTRYEX entry)
    {
        return entry(reinterpret_cast<PCHANNEL_ENTRY_POINTS_EX>(&points), this);
    }
    void connect() { initEvent(userParam, this, CHANNEL_EVENT_CONNECTED, nullptr, 0); }
    void disconnect() { initEvent(userParam, this, CHANNEL_EVENT_DISCONNECTED, nullptr, 0); }
    void chunk(const QByteArray& data, int total, UINT32 flags)
    {
        openEvent(userParam, openHandle, CHANNEL_EVENT_DATA_RECEIVED, const_cast<char*>(data.constData()),
                  UINT32(data.size()), UINT32(total), flags);
    }
    void message(const QByteArray& data) { chunk(data, data.size(), CHANNEL_FLAG_ONLY); }
};

QByteArray le32(quint32 value)
{
    QByteArray out(4, '\0');
    qToLittleEndian(value, out.data());
    return out;
}

QByteArray utf16z(const QString& text)
{
    QByteArray out;
    for (QChar c : text) {
        out.append(char(c.unicode() & 0xFF));
        out.append(char(c.unicode() >> 8));
    }
    return out.append(2, '\0');
}

// A finished message as bytes; frees the stream.
QByteArray bytesOf(wStream* s)
{
    const QByteArray out(reinterpret_cast<const char*>(Stream_Buffer(s)), int(Stream_Length(s)));
    Stream_Free(s, TRUE);
    return out;
}

const BYTE* bytes(const QByteArray& data)
{
    return reinterpret_cast<const BYTE*>(data.constData());
}

// What a decoder makes of a payload, or "short".
QString decode(const QString& kind, const QByteArray& payload)
{
    const auto length = size_t(payload.size());
    const QString Short = QStringLiteral("short");
    if (kind == QLatin1String("qzdesk resized")) {
        UINT16 w, h;
        return qzdesk_decode_desktop_resized(bytes(payload), length, &w, &h) ? QStringLiteral("%1x%2").arg(w).arg(h)
                                                                             : Short;
    }
    if (kind == QLatin1String("qzdesk min/max")) {
        UINT16 v[4];
        return qzdesk_decode_min_max_info(bytes(payload), length, v)
            ? QStringLiteral("%1x%2-%3x%4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3])
            : Short;
    }
    if (kind == QLatin1String("qzshare id")) {
        UINT32 id;
        return qzshare_decode_u32(bytes(payload), length, &id) ? QString::number(id) : Short;
    }
    if (kind == QLatin1String("qzshare mouse")) {
        UINT16 x, y;
        UINT32 flags;
        return qzshare_decode_mouse_event(bytes(payload), length, &x, &y, &flags)
            ? QStringLiteral("%1,%2 %3").arg(x).arg(y).arg(flags, 0, 16)
            : Short;
    }
    if (kind == QLatin1String("qzshare status")) {
        QzshareServerStatus status;
        if (!qzshare_decode_server_status(bytes(payload), length, &status))
            return Short;
        QString out = QString::number(status.sharing);
        for (UINT32 i = 0; i < status.count; ++i) {
            const QzshareParticipant& p = status.participants[i];
            out += QStringLiteral(" %1 '%2' %3").arg(p.id).arg(QString::fromUtf8(p.name)).arg(p.flags);
        }
        if (status.truncated)
            out += QStringLiteral(" truncated");
        qzshare_server_status_free(&status);
        return out;
    }
    char* text = qzcfg_decode_text(bytes(payload), length);
    const QString out = QString::fromUtf8(text);
    free(text);
    return out;
}

// The client's debug lines, whatever thread writes them.
QStringList debugLines;
QtMessageHandler previousHandler = nullptr;

void recordDebugLine(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    {
        std::lock_guard<std::mutex> lock(logMutex);
        debugLines.append(text);
    }
    previousHandler(type, context, text);
}

bool debugLineStartsWith(const QString& start)
{
    std::lock_guard<std::mutex> lock(logMutex);
    return std::any_of(debugLines.cbegin(), debugLines.cend(),
                       [&](const QString& line) { return line.startsWith(start); });
}

template <typename Widget>
Widget* child(QObject* parent, const char* name)
{
    return parent->findChild<Widget*>(QLatin1String(name));
}

QSize remoteSize(RdpClientContext* context)
{
    const rdpGdi* gdi = context->rdp()->gdi;
    return QSize(int(gdi->width), int(gdi->height));
}

bool connectOptionsClient(RdpInstance& instance, quint16 port, const QString& password)
{
    QSignalSpy connected(&instance, &RdpInstance::connected);
    const QVariantMap params{{QStringLiteral("RemoteHost"), QStringLiteral("options-host")},
                             {QStringLiteral("SessionId"), QStringLiteral("options-session")}};
    instance.start(QStringLiteral("127.0.0.1"), port, QStringLiteral("tester"), password, 0,
                   QStringLiteral("800x600"), QStringLiteral("Options"), false, params);
    if (!connected.wait(Timeout) || !instance.context()->optionsDialog)
        return false;
    // Input makes the server report its options.
    freerdp_input_send_synchronize_event(instance.context()->rdp()->input, 0);
    return true;
}

} // namespace

// The custom channels' plug-ins, driven through their real entry points
// with a stand-in for the library's channel manager, and once against the
// project's display server.
class TestRdpChannels : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void entryOffersInterfaceOnlyToTheLibrary_data();
    void entryOffersInterfaceOnlyToTheLibrary();
    void entryFailsWhenTheLibraryRefuses();
    void chunksAreReassembled();
    void newFirstChunkDiscardsUnfinishedMessage();
    void badMessagesAreDroppedAndThreadGoesOn_data();
    void badMessagesAreDroppedAndThreadGoesOn();
    void disconnectReturnsAfterThreadEnded();
    void operationsWriteOnTheChannel();
    void twoConnectionsAtOnce();
    void encoders_data();
    void encoders();
    void decoders_data();
    void decoders();
    void displayServerConnectsTheDesktopChannels();
    void optionsSlidersMapAndLabel_data();
    void optionsSlidersMapAndLabel();
    void optionsDialogFollowsServerAndRemembersChoices();
    void directConnectionAsksOnceForAnUntrustedCertificate();

private:
    // A connected qzdesk channel whose callback records into received.
    void connectDesk(FakeLibrary* fake, Received* received);

    QTemporaryDir m_config;
};

void TestRdpChannels::initTestCase()
{
    QVERIFY(m_config.isValid());
    // Keep the options of these runs out of the user's settings.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_config.path());
    QCoreApplication::setOrganizationName(QStringLiteral("ZentuTest"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_rdpchannels"));
    static wLogCallbacks callbacks = {};
    callbacks.message = recordLogLine;
    for (const char* tag : {"com.talvene.zentu.channels.qzdesk", "com.talvene.zentu.channels.qzcfg"}) {
        wLog* log = WLog_Get(tag);
        QVERIFY(WLog_SetLogAppenderType(log, WLOG_APPENDER_CALLBACK));
        QVERIFY(WLog_ConfigureAppender(WLog_GetLogAppender(log), "callbacks", &callbacks));
    }
}

void TestRdpChannels::connectDesk(FakeLibrary* fake, Received* received)
{
    QVERIFY(fake->load(qzdesk_VirtualChannelEntryEx));
    auto* desk = static_cast<QzdeskClientContext*>(fake->iface);
    QVERIFY(desk);
    desk->custom = received;
    desk->DesktopResized = onDesktopResized;
    fake->connect();
}

void TestRdpChannels::entryOffersInterfaceOnlyToTheLibrary_data()
{
    QTest::addColumn<quint32>("size");
    QTest::addColumn<quint32>("magic");
    QTest::addColumn<bool>("offered");
    QTest::newRow("library's structure") << quint32(sizeof(CHANNEL_ENTRY_POINTS_FREERDP_EX))
                                         << quint32(FREERDP_CHANNEL_MAGIC_NUMBER) << true;
    QTest::newRow("plain structure") << quint32(sizeof(CHANNEL_ENTRY_POINTS_EX))
                                     << quint32(FREERDP_CHANNEL_MAGIC_NUMBER) << false;
    QTest::newRow("other magic number") << quint32(sizeof(CHANNEL_ENTRY_POINTS_FREERDP_EX)) << 0x12345678u << false;
}

void TestRdpChannels::entryOffersInterfaceOnlyToTheLibrary()
{
    QFETCH(quint32, size);
    QFETCH(quint32, magic);
    QFETCH(bool, offered);
    FakeLibrary fake;
    fake.points.cbSize = size;
    fake.points.MagicNumber = magic;
    QVERIFY(fake.load(qzshare_VirtualChannelEntryEx));
    QCOMPARE(QByteArray(fake.def.name), QByteArray("qzshare"));
    QCOMPARE(quint32(fake.def.options), 0xC0A00000u);
    QCOMPARE(fake.iface != nullptr, offered);
    if (offered) {
        auto* share = static_cast<QzshareClientContext*>(fake.iface);
        QCOMPARE(share->handle, fake.userParam);
        QVERIFY(share->StartSharing && share->EndSharing && share->KickUser && share->GiveControl);
        QVERIFY(!share->ClientId && !share->ServerStatus);
    }
    // Without an interface the channel still connects and takes messages.
    fake.connect();
    fake.message(encodeChannelMessage(1, le32(5)));
    fake.disconnect();
    QVERIFY(fake.closed);
}

void TestRdpChannels::entryFailsWhenTheLibraryRefuses()
{
    FakeLibrary fake;
    fake.initResult = CHANNEL_RC_TOO_MANY_CHANNELS;
    QVERIFY(!fake.load(qzcfg_VirtualChannelEntryEx));
}

void TestRdpChannels::chunksAreReassembled()
{
    FakeLibrary fake;
    QVERIFY(fake.load(qzcfg_VirtualChannelEntryEx));
    Received received;
    auto* cfg = static_cast<QzcfgClientContext*>(fake.iface);
    cfg->custom = &received;
    cfg->OptionsUpdatedNotify = onOptions;
    fake.connect();
    const QByteArray text = QByteArray("{\"FPSLimit\": 30, \"pad\": \"") + QByteArray(3000, 'x') + "\"}";
    const QByteArray message = encodeChannelMessage(1, text);
    fake.chunk(message.left(1600), message.size(), CHANNEL_FLAG_FIRST);
    fake.chunk(message.mid(1600, 1000), message.size(), CHANNEL_FLAG_MIDDLE);
    fake.chunk(message.mid(2600), message.size(), CHANNEL_FLAG_LAST);
    QTRY_COMPARE_WITH_TIMEOUT(received.all(), QStringList{QString::fromUtf8(text)}, Timeout);
}

void TestRdpChannels::newFirstChunkDiscardsUnfinishedMessage()
{
    FakeLibrary fake;
    Received received;
    connectDesk(&fake, &received);
    const QByteArray unfinished = encodeChannelMessage(QZDESK_DESKTOP_SIZE, encodeU16List({640, 480}));
    fake.chunk(unfinished.left(6), unfinished.size(), CHANNEL_FLAG_FIRST);
    fake.message(encodeChannelMessage(QZDESK_DESKTOP_SIZE, encodeU16List({800, 600})));
    fake.disconnect();
    QCOMPARE(received.all(), QStringList{QStringLiteral("800x600")});
}

void TestRdpChannels::badMessagesAreDroppedAndThreadGoesOn_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("announced");
    QTest::addColumn<QString>("line");
    const QByteArray unknown = encodeChannelMessage(9, encodeU16List({1, 2}));
    QTest::newRow("unknown type") << unknown << unknown.size() << QStringLiteral("unknown msgType 9");
    const QByteArray shortSize = encodeChannelMessage(QZDESK_DESKTOP_SIZE, encodeU16List({1}));
    QTest::newRow("short desktop size") << shortSize << shortSize.size()
                                        << QStringLiteral("msgType 1 with 2 payload bytes is too short");
    const QByteArray shortMinMax = encodeChannelMessage(QZDESK_MIN_MAX_INFO, encodeU16List({1, 2, 3}));
    QTest::newRow("short min/max") << shortMinMax << shortMinMax.size()
                                   << QStringLiteral("msgType 2 with 6 payload bytes is too short");
    QTest::newRow("short header") << QByteArray(5, '\1') << 5
                                  << QStringLiteral("message of 5 bytes is shorter than its header");
    QTest::newRow("announced total over the bound")
        << encodeChannelMessage(QZDESK_DESKTOP_SIZE, encodeU16List({1, 1})) << (16 * 1024 * 1024 + 1)
        << QStringLiteral("message of 16777217 bytes refused");
}

void TestRdpChannels::badMessagesAreDroppedAndThreadGoesOn()
{
    QFETCH(QByteArray, data);
    QFETCH(int, announced);
    QFETCH(QString, line);
    FakeLibrary fake;
    Received received;
    connectDesk(&fake, &received);
    if (announced == data.size()) {
        fake.message(data);
    } else {
        fake.chunk(data, announced, CHANNEL_FLAG_FIRST);
        fake.chunk(data, announced, CHANNEL_FLAG_LAST);
    }
    fake.message(encodeChannelMessage(QZDESK_DESKTOP_SIZE, encodeU16List({800, 600})));
    QTRY_COMPARE_WITH_TIMEOUT(received.all(), QStringList{QStringLiteral("800x600")}, Timeout);
    QVERIFY2(logged(line), qPrintable(line));
}

void TestRdpChannels::disconnectReturnsAfterThreadEnded()
{
    FakeLibrary fake;
    Received received;
    connectDesk(&fake, &received);
    // The thread waits on its queue; a slow callback keeps it busy once.
    received.delayMs = 300;
    fake.message(encodeChannelMessage(QZDESK_DESKTOP_SIZE, encodeU16List({800, 600})));
    fake.disconnect();
    QCOMPARE(received.all(), QStringList{QStringLiteral("800x600")});
    QVERIFY(fake.closed);
    // After the disconnect, data finds no open channel and goes nowhere.
    fake.message(encodeChannelMessage(QZDESK_DESKTOP_SIZE, encodeU16List({1, 1})));
    QCOMPARE(received.all().size(), 1);
}

void TestRdpChannels::operationsWriteOnTheChannel()
{
    FakeLibrary fake;
    Received received;
    connectDesk(&fake, &received);
    auto* desk = static_cast<QzdeskClientContext*>(fake.iface);
    QCOMPARE(desk->RequestDesktopSize(desk, 1280, 720), 1u);
    QCOMPARE(fake.written, QList<QByteArray>{encodeChannelMessage(1, encodeU16List({1280, 720}))});
}

void TestRdpChannels::twoConnectionsAtOnce()
{
    constexpr int Count = 200;
    FakeLibrary fakes[2];
    Received received[2];
    std::thread threads[2];
    for (int i = 0; i < 2; ++i) {
        threads[i] = std::thread([&, i] {
            if (!fakes[i].load(qzdesk_VirtualChannelEntryEx) || !fakes[i].iface)
                return;
            auto* desk = static_cast<QzdeskClientContext*>(fakes[i].iface);
            desk->custom = &received[i];
            desk->DesktopResized = onDesktopResized;
            fakes[i].connect();
            for (int n = 0; n < Count; ++n)
                fakes[i].message(encodeChannelMessage(1, encodeU16List({quint16(i), quint16(n)})));
            fakes[i].disconnect();
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int i = 0; i < 2; ++i) {
        QStringList expected;
        for (int n = 0; n < Count; ++n)
            expected.append(QStringLiteral("%1x%2").arg(i).arg(n));
        QCOMPARE(received[i].all(), expected);
    }
}

void TestRdpChannels::encoders_data()
{
    QTest::addColumn<QByteArray>("encoded");
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("qzdesk desktop size") << bytesOf(qzdesk_encode_desktop_size(1024, 768)) << 1
                                         << encodeU16List({1024, 768});
    QTest::newRow("qzrail geometry") << bytesOf(qzrail_encode_window_geometry(7, -10, 20, 300, 400)) << 5
                                     << le32(7) + le32(quint32(-10)) + le32(20) + le32(300) + le32(400);
    QTest::newRow("qzrail raise") << bytesOf(qzrail_encode_window_raise(7)) << 6 << le32(7);
    QTest::newRow("qzrail z-order") << bytesOf(qzrail_encode_window_zorder(7, 0x01020304)) << 7
                                    << le32(7) + le32(0x01020304);
    QTest::newRow("qzrail activate") << bytesOf(qzrail_encode_window_activate(9)) << 8 << le32(9);
    const QzrailMonitor two[] = {{0, 0, 1024, 768}, {1024, 0, 2048, 740}};
    QTest::newRow("qzrail two monitors") << bytesOf(qzrail_encode_monitor_layout(2, two)) << 9
                                         << le32(2) + encodeU16List({0, 0, 1024, 768, 1024, 0, 2048, 740});
    QzrailMonitor many[40] = {};
    QByteArray first32 = le32(32);
    for (quint16 i = 0; i < 40; ++i) {
        many[i] = {i, 0, quint16(i + 1), 1};
        if (i < 32)
            first32 += encodeU16List({i, 0, quint16(i + 1), 1});
    }
    QTest::newRow("qzrail 40 monitors") << bytesOf(qzrail_encode_monitor_layout(40, many)) << 9 << first32;
    QTest::newRow("qzshare start sharing") << bytesOf(qzshare_encode_start_sharing("p\xC3\xA4ss \xE2\x82\xAC")) << 3
                                           << utf16z(QStringLiteral("p\u00E4ss \u20AC"));
    QTest::newRow("qzshare empty password") << bytesOf(qzshare_encode_start_sharing("")) << 3 << utf16z(QString());
    QTest::newRow("qzshare end sharing") << bytesOf(qzshare_encode_end_sharing()) << 4 << QByteArray();
    QTest::newRow("qzshare kick user") << bytesOf(qzshare_encode_kick_user(5)) << 5 << le32(5);
    QTest::newRow("qzshare give control") << bytesOf(qzshare_encode_give_control(6)) << 6 << le32(6);
    QTest::newRow("qzcfg set options") << bytesOf(qzcfg_encode_set_options("{\"FPSLimit\":30}")) << 2
                                       << QByteArray("{\"FPSLimit\":30}");
}

// What the client encodes, the display server's decoder reads back.
void TestRdpChannels::encoders()
{
    QFETCH(QByteArray, encoded);
    QFETCH(int, type);
    QFETCH(QByteArray, payload);
    ChannelMessage message;
    QString error;
    QVERIFY2(decodeChannelMessage(encoded, &message, &error), qPrintable(error));
    QCOMPARE(int(message.type), type);
    QCOMPARE(message.payload, payload);
}

void TestRdpChannels::decoders_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("decoded");
    const QString resized = QStringLiteral("qzdesk resized");
    const QString minMax = QStringLiteral("qzdesk min/max");
    const QString id = QStringLiteral("qzshare id");
    const QString mouse = QStringLiteral("qzshare mouse");
    const QString status = QStringLiteral("qzshare status");
    const QString text = QStringLiteral("qzcfg");
    // The display server's own encoder where it has one.
    QTest::newRow("desktop resized") << resized << encodeU16List({1024, 768}) << QString::fromUtf8("1024x768");
    QTest::newRow("desktop resized, short") << resized << QByteArray(3, '\1') << QString::fromUtf8("short");
    QTest::newRow("min/max") << minMax << encodeU16List({640, 480, 4096, 2160}) << QString::fromUtf8("640x480-4096x2160");
    QTest::newRow("min/max, short") << minMax << encodeU16List({640, 480, 4096}) << QString::fromUtf8("short");
    QTest::newRow("client id") << id << le32(0x01020304) << QString::fromUtf8("16909060");
    QTest::newRow("client id, short") << id << QByteArray(3, '\1') << QString::fromUtf8("short");
    QTest::newRow("mouse") << mouse << encodeU16List({10, 20}) + le32(0x8800) << QString::fromUtf8("10,20 8800");
    QTest::newRow("mouse, short") << mouse << encodeU16List({10, 20}) + QByteArray(3, '\0') << QString::fromUtf8("short");
    QTest::newRow("status, empty") << status << QByteArray() << QString::fromUtf8("short");
    QTest::newRow("status, no participants") << status << QByteArray(1, '\0') << QString::fromUtf8("0");
    QTest::newRow("status, two participants")
        << status
        << QByteArray(1, '\1') + le32(0) + encodeU16List({3}) + utf16z(QStringLiteral("Anna"))
            + le32(5) + encodeU16List({0}) + utf16z(QStringLiteral("B\u00F6rje"))
        << QString::fromUtf8("1 0 'Anna' 3 5 'B\u00F6rje' 0");
    QTest::newRow("status, fewer than 8 bytes after an entry")
        << status << QByteArray(1, '\1') + le32(0) + encodeU16List({0}) + utf16z(QStringLiteral("A")) + le32(1)
        << QString::fromUtf8("1 0 'A' 0");
    QTest::newRow("status, name runs past the end")
        << status << QByteArray(1, '\1') + le32(7) + encodeU16List({1}) + QByteArray("A\0B\0C", 5)
        << QString::fromUtf8("1 7 '' 1 truncated");
    QTest::newRow("options") << text << QByteArray("{\"FPSLimit\":30}") << QString::fromUtf8("{\"FPSLimit\":30}");
    QTest::newRow("options, empty") << text << QByteArray() << QString::fromUtf8("");
}

void TestRdpChannels::decoders()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, payload);
    QFETCH(QString, decoded);
    QCOMPARE(decode(kind, payload), decoded);
}

void TestRdpChannels::displayServerConnectsTheDesktopChannels()
{
    RdpDisplayServer server;
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    QLoggingCategory::setFilterRules(QStringLiteral("zentu.rdp.debug=true"));
    previousHandler = qInstallMessageHandler(recordDebugLine);
    RdpInstance instance;
    QSignalSpy connected(&instance, &RdpInstance::connected);
    QSignalSpy finished(&instance, &RdpInstance::finished);
    instance.start(QStringLiteral("127.0.0.1"), server.port(), QStringLiteral("tester"), server.password(), 0,
                   QStringLiteral("800x600"), QStringLiteral("Channels"), false, QVariantMap());
    QVERIFY(connected.wait(Timeout));
    RdpClientContext* context = instance.context();
    // Window control belongs to rootless sessions only.
    QVERIFY(context->qzdesk && !context->qzrail && context->qzshare && context->qzcfg);
    // Input makes the server send its size range and options; they reach
    // the client's callbacks through the library and the receive threads.
    freerdp_input_send_synchronize_event(context->rdp()->input, 0);
    QTRY_VERIFY_WITH_TIMEOUT(debugLineStartsWith(QStringLiteral("desktop sizes from ")), Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(debugLineStartsWith(QStringLiteral("server options {")), Timeout);
    // The allowed sizes become the desktop widget's limits.
    RdpDesktopWidget* desktop = context->mainWidget->desktopWidget();
    QTRY_VERIFY_WITH_TIMEOUT(desktop->maximumSize() != QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX), Timeout);
    const QString range = QStringLiteral("desktop sizes from %1 x %2 to %3 x %4")
                              .arg(desktop->minimumWidth()).arg(desktop->minimumHeight())
                              .arg(desktop->maximumWidth()).arg(desktop->maximumHeight());
    QVERIFY2(debugLineStartsWith(range), qPrintable(range));
    QVERIFY(context->mainWidget->toolbar()->findChild<QWidget*>(QStringLiteral("ResizeButton"))->isEnabled());
    // Asked for the size it has, the server answers with a resized message
    // alone, which gives the desktop widget that size.
    rdpSettings* settings = context->rdp()->settings;
    const QSize size(int(freerdp_settings_get_uint32(settings, FreeRDP_DesktopWidth)),
                     int(freerdp_settings_get_uint32(settings, FreeRDP_DesktopHeight)));
    desktop->resize(size / 2);
    context->qzdesk->RequestDesktopSize(context->qzdesk, UINT16(size.width()), UINT16(size.height()));
    QTRY_COMPARE_WITH_TIMEOUT(desktop->size(), size, Timeout);
    // A new size moves the frame buffer to new memory; the window shows
    // from there the probe's pattern, drawn after the resize.
    context->qzdesk->RequestDesktopSize(context->qzdesk, 640, 480);
    QTRY_COMPARE_WITH_TIMEOUT(desktop->size(), QSize(640, 480), Timeout);
    QProcess probe;
    probe.setProcessEnvironment(server.environment());
    probe.start(QDir(SshServer::binDir()).filePath(QStringLiteral("rdp_probe")), QStringList());
    QVERIFY(probe.waitForReadyRead(Timeout));
    const auto endProbe = qScopeGuard([&probe] {
        probe.kill();
        probe.waitForFinished();
    });
    QString mismatch;
    QTRY_VERIFY2_WITH_TIMEOUT(showsRemoteOnScreen(desktop, captureDisplay(server.display()), 1.0, &mismatch),
                              qPrintable(mismatch), Timeout);
    QCOMPARE(context->qzdesk->custom, static_cast<void*>(context));
    QCOMPARE(context->qzshare->custom, static_cast<void*>(context));
    QCOMPARE(context->qzcfg->custom, static_cast<void*>(context));
    // Loading the channels writes nothing the server would drop us for.
    QVERIFY(!finished.wait(2000));
    instance.quit();
    QCOMPARE(finished.size(), 1);
    QCOMPARE(instance.exitCode(), 0);
    qInstallMessageHandler(previousHandler);
}

void TestRdpChannels::optionsSlidersMapAndLabel_data()
{
    QTest::addColumn<QString>("slider");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("label");
    // What the position means: compression, frames per second, frame window or scale.
    QTest::addColumn<double>("meaning");
    QTest::newRow("quality highest") << "QualitySlider" << 3 << 3 << "Image Quality: Highest" << 0.0;
    QTest::newRow("quality higher") << "QualitySlider" << 3 << 2 << "Image Quality: Higher" << 1.0;
    QTest::newRow("quality lower") << "QualitySlider" << 3 << 1 << "Image Quality: Lower" << 2.0;
    QTest::newRow("quality very low") << "QualitySlider" << 3 << 0 << "Image Quality: Very Low" << 3.0;
    QTest::newRow("quality medium") << "QualitySlider" << 4 << 2 << "Image Quality: Medium" << 2.0;
    QTest::newRow("frame rate") << "FpsSlider" << 60 << 5 << "Frame Rate: 5 fps" << 5.0;
    QTest::newRow("frame window off") << "FrameAckSlider" << 60 << 0 << "Frame Window: Off" << 0.0;
    QTest::newRow("frame window widest") << "FrameAckSlider" << 60 << 1 << "Frame Window: 60 frames" << 60.0;
    QTest::newRow("frame window narrowest") << "FrameAckSlider" << 60 << 60 << "Frame Window: 1 frames" << 1.0;
    QTest::newRow("zoom 2x") << "ScaleSlider" << 2 << 0 << "Zoom: 2x" << 0.5;
    QTest::newRow("zoom 1x") << "ScaleSlider" << 2 << 1 << "Zoom: 1x" << 1.0;
    QTest::newRow("zoom 0.5x") << "ScaleSlider" << 2 << 2 << "Zoom: 0.5x" << 2.0;
}

void TestRdpChannels::optionsSlidersMapAndLabel()
{
    QFETCH(QString, slider);
    QFETCH(int, maximum);
    QFETCH(int, position);
    QFETCH(QString, label);
    QFETCH(double, meaning);
    RdpClientContext context{};
    context.scale = context.inverseScale = 1.0;
    RdpOptionsDialog dialog(&context, QString(), QString());
    auto* widget = dialog.findChild<QSlider*>(slider);
    QVERIFY(widget);
    widget->setMaximum(maximum);
    widget->setValue(position == 0 ? 1 : 0);
    widget->setValue(position);
    const QString labelName = QString(slider).replace(QStringLiteral("Slider"), QStringLiteral("Label"));
    const QString labelText =
        dialog.findChild<QLabel*>(slider == QStringLiteral("QualitySlider") ? QStringLiteral("CompressionLabel")
                                                                            : labelName)->text();
    QCOMPARE(labelText, label);
    if (slider == QStringLiteral("QualitySlider")) {
        QCOMPARE(double(maximum - position), meaning);
    } else if (slider == QStringLiteral("FrameAckSlider")) {
        QCOMPARE(double(RdpOptionsDialog::frameWindowFromPosition(position, maximum)), meaning);
        QCOMPARE(RdpOptionsDialog::positionFromFrameWindow(int(meaning), maximum), position);
    } else if (slider == QStringLiteral("ScaleSlider")) {
        QCOMPARE(RdpOptionsDialog::scaleFromPosition(position), meaning);
        QCOMPARE(RdpOptionsDialog::positionFromScale(meaning), position);
    } else {
        QCOMPARE(double(position), meaning);
    }
}

void TestRdpChannels::optionsDialogFollowsServerAndRemembersChoices()
{
    QLoggingCategory::setFilterRules(QStringLiteral("zentu.rdp.debug=true"));
    previousHandler = qInstallMessageHandler(recordDebugLine);
    const auto restoreHandler = qScopeGuard([] { qInstallMessageHandler(previousHandler); });
    auto sentOptions = [] {
        std::lock_guard<std::mutex> lock(logMutex);
        return debugLines.filter(QStringLiteral("sending options")).size();
    };
    QString error;
    {
        RdpDisplayServer server;
        QVERIFY2(server.start(&error), qPrintable(error));
        // A screen that keeps changing.
        QProcess scrolling;
        scrolling.setProcessEnvironment(server.environment());
        scrolling.start(QStringLiteral("xterm"), {QStringLiteral("-geometry"), QStringLiteral("100x40+0+0"),
                                                  QStringLiteral("-e"), QStringLiteral("yes | cat -n")});
        QVERIFY(scrolling.waitForStarted(10000));
        const auto endScrolling = qScopeGuard([&] {
            scrolling.kill();
            scrolling.waitForFinished(5000);
        });
        RdpInstance instance;
        QVERIFY(connectOptionsClient(instance, server.port(), server.password()));
        RdpClientContext* context = instance.context();
        RdpOptionsDialog* dialog = context->optionsDialog;
        auto* updateBox = child<QGroupBox>(dialog, "UpdateBox");
        auto* quality = child<QSlider>(dialog, "QualitySlider");
        auto* fps = child<QSlider>(dialog, "FpsSlider");
        auto* scale = child<QSlider>(dialog, "ScaleSlider");
        const int sentBefore = sentOptions();

        // The server's first report enables and fills the dialog and sends nothing back.
        QTRY_VERIFY_WITH_TIMEOUT(updateBox->isEnabled(), Timeout);
        QVERIFY(!updateBox->isChecked());
        QCOMPARE(quality->value(), 3);
        QCOMPARE(child<QLabel>(dialog, "CompressionLabel")->text(), QStringLiteral("Image Quality: Highest"));
        QCOMPARE(fps->value(), 30);
        QCOMPARE(child<QLabel>(dialog, "FrameAckLabel")->text(), QStringLiteral("Frame Window: Off"));
        QCOMPARE(sentOptions(), sentBefore);

        // The toolbar's button opens it; the user turns manual settings on and
        // drags the frame rate to 5.
        child<QPushButton>(context->mainWidget->toolbar(), "OptionsButton")->click();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QTest::keyClick(updateBox, Qt::Key_Space);
        QTRY_VERIFY_WITH_TIMEOUT(debugLineStartsWith(QStringLiteral("server options {\"BandwidthThrottleAdjust\":false")),
                                 Timeout);
        ClientFrames::watch(context->rdp());
        fps->setSliderPosition(5);
        QTRY_VERIFY_WITH_TIMEOUT(debugLineStartsWith(QStringLiteral("server options {\"BandwidthThrottleAdjust\":false,"
                                                                    "\"Compression\":0,\"CompressionMax\":3,\"FPSLimit\":5")),
                                 Timeout);
        QString frames;
        QVERIFY2(ClientFrames::atMostPerSecond(5, &frames), qPrintable(frames));

        // A refused change puts the widgets back to the server's values.
        quality->setValue(0);
        dialog->handleSetOptionsResponse(QStringLiteral("{\"error\":\"refused\"}"));
        QCOMPARE(quality->value(), 3);
        QCOMPARE(fps->value(), 5);

        // Zoom 2x doubles the desktop window's picture.
        scale->setSliderPosition(0);
        QCOMPARE(context->scale, 0.5);
        QCOMPARE(child<QLabel>(dialog, "ScaleLabel")->text(), QStringLiteral("Zoom: 2x"));
        QCOMPARE(context->mainWidget->desktopWidget()->size(), 2 * remoteSize(context));
        instance.quit();
    }

    // A fresh server adjusts by itself: the next connection re-sends the
    // host's saved choices, and the session's zoom applies again.
    RdpDisplayServer server;
    QVERIFY2(server.start(&error), qPrintable(error));
    const int sentBefore = sentOptions();
    RdpInstance instance;
    QVERIFY(connectOptionsClient(instance, server.port(), server.password()));
    RdpClientContext* context = instance.context();
    QCOMPARE(context->scale, 0.5);
    QTRY_COMPARE_WITH_TIMEOUT(context->mainWidget->desktopWidget()->size(), 2 * remoteSize(context), Timeout);
    RdpOptionsDialog* dialog = context->optionsDialog;
    QCOMPARE(child<QSlider>(dialog, "ScaleSlider")->value(), 0);
    auto* fps = child<QSlider>(dialog, "FpsSlider");
    QTRY_VERIFY_WITH_TIMEOUT(child<QGroupBox>(dialog, "UpdateBox")->isChecked() && fps->value() == 5, Timeout);
    // Sent once, not again when the report of the change fills the dialog.
    QTest::qWait(500);
    QCOMPARE(sentOptions(), sentBefore + 1);
    instance.quit();

    // Choices saved while the server offered other ranges are not sent.
    {
        QSettings store;
        store.setValue(QStringLiteral("options-host-Perf/Fps"), 7);
        store.setValue(QStringLiteral("options-host-Perf/CompressionMax"), 5);
    }
    const int sentThird = sentOptions();
    RdpInstance third;
    QVERIFY(connectOptionsClient(third, server.port(), server.password()));
    dialog = third.context()->optionsDialog;
    QTRY_VERIFY_WITH_TIMEOUT(child<QGroupBox>(dialog, "UpdateBox")->isEnabled(), Timeout);
    QTest::qWait(500);
    QCOMPARE(child<QSlider>(dialog, "FpsSlider")->value(), 5);
    QCOMPARE(sentOptions(), sentThird);
    third.quit();
}

void TestRdpChannels::directConnectionAsksOnceForAnUntrustedCertificate()
{
    // FreeRDP keeps accepted certificates below the configuration directory.
    QTemporaryDir config;
    QVERIFY(config.isValid());
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    const auto restoreConfig = qScopeGuard([&savedConfig] { qputenv("XDG_CONFIG_HOME", savedConfig); });
    RdpDisplayServer server;
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    // The owner shares its session; viewers join directly with the key's password.
    RdpInstance owner;
    QSignalSpy ownerConnected(&owner, &RdpInstance::connected);
    owner.start(QStringLiteral("127.0.0.1"), server.port(), QStringLiteral("ann"), server.password(), 0,
                QStringLiteral("800x600"), QStringLiteral("Owner"), false,
                {{QStringLiteral("SshHost"), QStringLiteral("127.0.0.1")}});
    QVERIFY(ownerConnected.wait(Timeout));
    RdpSharingDialog* sharing = owner.context()->sharingDialog;
    auto* sharingButton = child<QPushButton>(sharing, "SharingButton");
    QTRY_VERIFY_WITH_TIMEOUT(sharingButton->isEnabled(), Timeout);
    sharingButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(sharing->isSharing(), Timeout);
    RdpSharingKey key;
    QVERIFY2(RdpSharingKey::decode(sharing->sharingKey(), &key, &error), qPrintable(error));
    auto* participants = child<QTableView>(sharing, "ViewerListView")->model();

    const auto question = [] {
        for (QMessageBox* box : visibleTopLevels<QMessageBox>()) {
            if (box->objectName() == QLatin1String("CertificateQuestion"))
                return box;
        }
        return static_cast<QMessageBox*>(nullptr);
    };
    // Connects directly; answers the certificate question with the named button,
    // or expects none when button is null. True once connected.
    const auto connectDirect = [&](const char* button, bool* asked) {
        if (!QTest::qWaitFor([&] { return participants->rowCount() == 1; }, Timeout))
            return false;
        RdpInstance instance;
        QSignalSpy connected(&instance, &RdpInstance::connected);
        QSignalSpy finished(&instance, &RdpInstance::finished);
        instance.start(QStringLiteral("127.0.0.1"), key.rdpPort, QStringLiteral("tester"), key.password, 0,
                       QStringLiteral("800x600"), QStringLiteral("Direct"), true, QVariantMap());
        *asked = QTest::qWaitFor([&] { return question() || !connected.isEmpty() || !finished.isEmpty(); }, Timeout)
                 && question();
        if (*asked) {
            QMessageBox* box = question();
            if (!box->text().contains(QStringLiteral("127.0.0.1:%1").arg(server.port()))
                || !box->text().contains(QStringLiteral("Fingerprint: ")))
                return false;
            box->findChild<QPushButton*>(QLatin1String(button))->click();
        }
        const bool ok = QTest::qWaitFor([&] { return !connected.isEmpty() || !finished.isEmpty(); }, Timeout)
                        && !connected.isEmpty()
                        // Joined as a viewer of the owner's session.
                        && QTest::qWaitFor([&] { return participants->rowCount() == 2; }, Timeout);
        instance.quit();
        return ok && instance.exitCode() == 0;
    };
    bool asked = false;
    QVERIFY(!connectDirect("RefuseButton", &asked));
    QVERIFY(asked);
    QVERIFY(visibleTopLevels<QMessageBox>().isEmpty());
    QVERIFY(connectDirect("AcceptButton", &asked));
    QVERIFY(asked);
    QVERIFY(connectDirect(nullptr, &asked));
    QVERIFY(!asked);

    // The store now holds another certificate for this host and port: refused
    // without a question, and the user hears both fingerprints.
    QDirIterator files(config.path(), {QStringLiteral("known_hosts2")}, QDir::Files, QDirIterator::Subdirectories);
    QVERIFY(files.hasNext());
    QFile store(files.next());
    QVERIFY(store.open(QIODevice::ReadOnly));
    QList<QByteArray> fields = store.readAll().trimmed().split(' ');
    store.close();
    QVERIFY(fields.size() >= 3);
    const QByteArray seen = fields.at(2);
    const QByteArray forged = QByteArray(seen).replace(QByteArrayLiteral("a"), QByteArrayLiteral("b")).replace(
        QByteArrayLiteral("0"), QByteArrayLiteral("1"));
    QVERIFY(forged != seen);
    fields[2] = forged;
    QVERIFY(store.open(QIODevice::WriteOnly | QIODevice::Truncate));
    store.write(fields.join(' ') + '\n');
    store.close();
    QVERIFY(!connectDirect(nullptr, &asked));
    QVERIFY(!asked);
    QTRY_COMPARE_WITH_TIMEOUT(visibleTopLevels<QMessageBox>().size(), 1, Timeout);
    QMessageBox* warning = visibleTopLevels<QMessageBox>().constFirst();
    const QString text = warning->text();
    warning->close();
    QVERIFY2(text.contains(QStringLiteral("127.0.0.1:%1 has changed").arg(server.port()))
                 && text.contains(QString::fromLatin1(forged)) && text.contains(QString::fromLatin1(seen).toLower()),
             qPrintable(text));
}

QTEST_MAIN(TestRdpChannels)
#include "tst_rdpchannels.moc"
