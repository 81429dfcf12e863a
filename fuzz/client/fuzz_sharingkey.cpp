// Feeds a pasted sharing key to its decoder. The first byte chooses whether
// the rest is the pasted text itself or the JSON inside a key, which is then
// wrapped in Base64 the way a sharer's dialog does, so that the search spends
// its time on the JSON. A key that is read keeps the rules the connect relies
// on and reads back the same after encoding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzApp.h"
#include "RdpSharingKey.h"

// Qt's JSON parser loses the array or object of a key that the same object
// repeats (Qt 5.15). The leak is the library's; its allocations carry no
// frames of ours, so only the module can name them.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libQt5Core.so\n";
}

extern "C" const char* __lsan_default_options()
{
    return "print_suppressions=0";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    fuzzApplication();
    QByteArray text(reinterpret_cast<const char*>(data + 1), int(size - 1));
    if (data[0] & 1)
        text = text.toBase64();

    RdpSharingKey key;
    QString error;
    if (!RdpSharingKey::decode(QString::fromUtf8(text), &key, &error)) {
        if (error.isEmpty() || !key.hostname.isEmpty() || key.rdpPort != 0)
            std::abort();
        return 0;
    }
    // The host name reaches ssh's command line: never an option, never blanks.
    if (!error.isEmpty() || key.rdpPort == 0 || key.hostname.isEmpty() || key.hostname.startsWith(QLatin1Char('-')))
        std::abort();
    for (const QChar c : qAsConst(key.hostname)) {
        if (c.isSpace() || c.unicode() < 0x20 || c.unicode() > 0x7e)
            std::abort();
    }
    RdpSharingKey again;
    if (!RdpSharingKey::decode(key.encode(), &again, &error) || again.hostname != key.hostname
        || again.sshPort != key.sshPort || again.rdpPort != key.rdpPort || again.password != key.password)
        std::abort();
    return 0;
}
