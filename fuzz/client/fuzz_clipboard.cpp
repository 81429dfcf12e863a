// Feeds a server's clipboard format list and the data it sends for a format
// to the codec: the first byte counts the format ids (32 bits each), the rest
// is the data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "RdpClipboardCodec.h"

namespace {

void check(quint32 format, const QByteArray& data)
{
    const QString text = RdpClipboardCodec::decode(format, data);
    if (format != RdpClipboardCodec::UnicodeText && format != RdpClipboardCodec::Text) {
        if (!text.isNull())
            std::abort();
        return;
    }
    if (!text.isEmpty() && text.back().isNull())
        std::abort();
    // What is read is what was sent, up to the trailing zeros.
    if (!data.startsWith(RdpClipboardCodec::encode(format, text)))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t count = std::min<size_t>(data[0] % 16, (size - 1) / 4);
    QList<unsigned long> formats;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* id = data + 1 + 4 * i;
        formats.append(quint32(id[0]) | quint32(id[1]) << 8 | quint32(id[2]) << 16 | quint32(id[3]) << 24);
    }
    const size_t used = 1 + 4 * count;
    const QByteArray payload(reinterpret_cast<const char*>(data + used), int(size - used));

    const int preferred = RdpClipboardCodec::preferredFormat(formats);
    if (preferred >= 0 && !formats.contains(static_cast<unsigned long>(preferred)))
        std::abort();
    if (preferred < 0 && (formats.contains(RdpClipboardCodec::UnicodeText) || formats.contains(RdpClipboardCodec::Text)))
        std::abort();
    check(preferred < 0 ? 0 : quint32(preferred), payload);
    for (unsigned long format : qAsConst(formats))
        check(quint32(format), payload);
    return 0;
}
