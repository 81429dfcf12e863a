#include "RdpTestServers.h"
#include "RdpInstance.h"

#include <QApplication>
#include <QClipboard>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {
constexpr int Timeout = 30000;
} // namespace

// Text copied on either side can be pasted on the other, through the
// clipboard channel of the project's display server.
class TestRdpClipboard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void remoteCopyArrivesLocallyWithoutEcho();
    void localSelectionArrivesRemotely();

private:
    // Makes the server display's clipboard hold text, owned by an xclip
    // that keeps running until another client takes the selection.
    bool copyOnServer(const QString& text);
    QString pasteOnServer();
    void endOwner();

    RdpDisplayServer m_server;
    std::unique_ptr<RdpInstance> m_instance;
    std::unique_ptr<QProcess> m_owner;
};

void TestRdpClipboard::initTestCase()
{
    QString error;
    QVERIFY2(m_server.start(&error), qPrintable(error));
}

void TestRdpClipboard::init()
{
    // Text copied here arrives there, lines and all.
    const QString before = QStringLiteral("before \u2603\nsecond line");
    QApplication::clipboard()->setText(before);
    m_instance = std::make_unique<RdpInstance>();
    QSignalSpy connected(m_instance.get(), &RdpInstance::connected);
    m_instance->start(QStringLiteral("127.0.0.1"), m_server.port(), QStringLiteral("tester"), m_server.password(),
                      0, QStringLiteral("800x600"), QStringLiteral("Clipboard"), false, QVariantMap());
    QVERIFY(connected.wait(Timeout));
    // The server's clipboard has no owner, so the client's offer alone opens
    // the exchange, and the server has taken it once a paste there gives it.
    // A copy on the server made earlier would be lost to that takeover. One
    // transfer from the server after it shows the way back works too.
    QTRY_COMPARE_WITH_TIMEOUT(pasteOnServer(), before, Timeout);
    const QString settled = QStringLiteral("settled %1").arg(QTest::currentTestFunction());
    QVERIFY(copyOnServer(settled));
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::clipboard()->text(), settled, Timeout);
    endOwner();
}

void TestRdpClipboard::cleanup()
{
    m_instance.reset();
    endOwner();
    // Leave the server's clipboard without an owner: the owner's end takes
    // the selection with it.
    QVERIFY(copyOnServer(QStringLiteral("cleared")));
    QTRY_COMPARE_WITH_TIMEOUT(pasteOnServer(), QStringLiteral("cleared"), Timeout);
    endOwner();
}

void TestRdpClipboard::endOwner()
{
    if (m_owner) {
        m_owner->kill();
        m_owner->waitForFinished();
        m_owner.reset();
    }
}

bool TestRdpClipboard::copyOnServer(const QString& text)
{
    m_owner = std::make_unique<QProcess>();
    return copyWithXclip(m_owner.get(), m_server.environment(), text);
}

QString TestRdpClipboard::pasteOnServer()
{
    return pasteWithXclip(m_server.environment());
}

void TestRdpClipboard::remoteCopyArrivesLocallyWithoutEcho()
{
    const QString text = QStringLiteral("from the server \u00E9\u20AC");
    QVERIFY(copyOnServer(text));
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::clipboard()->text(), text, Timeout);
    if (QApplication::clipboard()->supportsSelection())
        QCOMPARE(QApplication::clipboard()->text(QClipboard::Selection), text);
    // Had the client announced the text back, the server would have taken
    // the selection over and xclip would have ended.
    QCOMPARE(pasteOnServer(), text);
    QCOMPARE(pasteOnServer(), text);
    QCOMPARE(m_owner->state(), QProcess::Running);
}

void TestRdpClipboard::localSelectionArrivesRemotely()
{
    if (!QApplication::clipboard()->supportsSelection())
        QSKIP("no selection on this platform");
    const QString text = QStringLiteral("selected text");
    QApplication::clipboard()->clear(QClipboard::Clipboard);
    QApplication::clipboard()->setText(text, QClipboard::Selection);
    // The clipboard is empty, so the server is given the selection.
    QTRY_COMPARE_WITH_TIMEOUT(pasteOnServer(), text, Timeout);
}

QTEST_MAIN(TestRdpClipboard)
#include "tst_rdpclipboard.moc"
