// Feeds arbitrary bytes after the marker to JsonRpcHandler, with calls
// pending, in pieces whose sizes come from the input itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <QIODevice>
#include <QJsonObject>

#include "JsonRpcHandler.h"

namespace {

// Bytes to read on demand; what the handler writes is dropped.
class StreamDevice : public QIODevice
{
public:
    StreamDevice() { open(QIODevice::ReadWrite | QIODevice::Unbuffered); }
    void feed(const QByteArray& bytes)
    {
        m_input += bytes;
        emit readyRead();
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_input.size() + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 count = qMin<qint64>(maxSize, m_input.size());
        std::memcpy(data, m_input.constData(), size_t(count));
        m_input.remove(0, int(count));
        return count;
    }
    qint64 writeData(const char*, qint64 size) override { return size; }

private:
    QByteArray m_input;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int piece = 1 + data[0] % 128;
    const QByteArray stream(reinterpret_cast<const char*>(data + 1), int(size - 1));

    StreamDevice device;
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
