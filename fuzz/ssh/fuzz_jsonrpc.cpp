// Feeds arbitrary bytes after the marker to JsonRpcHandler, with calls
// pending, in pieces whose sizes come from the input itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QJsonObject>
#include <QLoggingCategory>

#include "FeedDevice.h"
#include "JsonRpcHandler.h"

// Every refused reply logs a warning; writing them would cost more than the
// parsing under test.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.warning=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int piece = 1 + data[0] % 128;
    const QByteArray stream(reinterpret_cast<const char*>(data + 1), int(size - 1));

    FeedDevice device;
    JsonRpcHandler handler(&device);
    int calls = 0;
    handler.call(QStringLiteral("Zentu.version"), QJsonObject(),
                 [&](const QString&, const QJsonValue&, const QJsonValue&) { ++calls; });
    device.feed(JsonRpcHandler::Marker + '\n');
    for (int position = 0; position < stream.size() && handler.isValid(); position += piece)
        device.feed(stream.mid(position, piece));
    // A failed handler has closed its device; a callback runs at most once.
    if ((!handler.isValid() && device.isOpen()) || calls > 1)
        std::abort();
    return 0;
}
