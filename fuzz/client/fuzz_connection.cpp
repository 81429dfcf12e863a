// Feeds a connection file's bytes to the reader the scan of the connection
// directories uses: size limit, XML parse, schema validation and the record
// read from it. A record that is read must survive being saved and read
// again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Connection.h"
#include "FuzzApp.h"

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
    static ConnectionFileReader reader;
    const QString path = QStringLiteral("/nonexistent/{7b3a1c52-9e0f-4d8b-a6c1-2f5e8d9b0a14}.rv32");
    Connection connection;
    if (!reader.read(QByteArray(reinterpret_cast<const char*>(data), int(size)), path, &connection)
        || !connection.isValid())
        return 0;
    // What the program saves for the record is what it reads back.
    Connection again;
    if (!reader.read(connection.toXml().toByteArray(1), path, &again) || again != connection)
        std::abort();
    return 0;
}
