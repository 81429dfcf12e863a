// Feeds arbitrary bytes to NetStringBuffer in pieces whose sizes come from the
// input itself, and checks the reader's guarantees on every step.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QByteArray>

#include "NetString.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte chooses the read size, as a device would split the stream.
    const int piece = 1 + data[0] % 64;
    const QByteArray stream(reinterpret_cast<const char*>(data + 1), int(size - 1));

    NetStringBuffer buffer;
    for (int position = 0; position < stream.size(); position += piece) {
        buffer.append(stream.mid(position, piece));
        for (;;) {
            const QByteArray before = buffer.buffer();
            QByteArray payload;
            const NetStringBuffer::Outcome outcome = buffer.takeFrame(&payload);
            if (outcome == NetStringBuffer::Payload) {
                // The frame's bytes left the buffer: at least payload, colon,
                // one digit and the terminator.
                if (payload.size() > NetStringBuffer::MaxPayload || buffer.size() + payload.size() + 3 > before.size()
                    || !before.endsWith(buffer.buffer()))
                    std::abort();
                continue;
            }
            if (buffer.buffer() != before)
                std::abort();
            if (outcome == NetStringBuffer::NeedMore)
                break;
            return 0; // an error ends the stream
        }
    }
    return 0;
}
