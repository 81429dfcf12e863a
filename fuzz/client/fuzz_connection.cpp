// Feeds a connection file's bytes to the scan of the connection directory:
// size limit, XML parse, schema validation and the record read from it. A
// record that is read must survive being saved and read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QFile>
#include <QTemporaryDir>

#include "Connection.h"
#include "FuzzApp.h"

namespace {

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

} // namespace

// The schema validator of Qt's XML Patterns leaves a cycle of its own objects
// behind for some invalid documents: a leak of the library, not of ours.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libQt5XmlPatterns.so\n";
}

extern "C" const char* __lsan_default_options()
{
    return "print_suppressions=0";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzApplication();
    static QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("{7b3a1c52-9e0f-4d8b-a6c1-2f5e8d9b0a14}.rv32"));
    if (!writeFile(path, QByteArray(reinterpret_cast<const char*>(data), int(size))))
        std::abort();
    const ConnectionScan scan = scanConnectionFiles({directory.path()});
    if (scan.connections.size() > 1 || scan.files.size() != scan.connections.size())
        std::abort();
    if (scan.connections.isEmpty())
        return 0;
    const Connection& connection = scan.connections.first();
    if (!connection.isValid())
        std::abort();

    QString error;
    if (!writeConnectionFile(path, connection, &error))
        std::abort();
    const ConnectionScan again = scanConnectionFiles({directory.path()});
    if (again.connections.size() != 1 || again.connections.first() != connection)
        std::abort();
    return 0;
}
