#include "Connection.h"

#include "ConnectionsLogging.h"

#include <QAbstractMessageHandler>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QUrl>
#include <QXmlSchema>
#include <QXmlSchemaValidator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const Connection Connection::null;

namespace {

const QString RootTag = QStringLiteral("SshConnection");
const QString UidTag = QStringLiteral("Uid");
const QString NameTag = QStringLiteral("Name");
const QString HostTag = QStringLiteral("Host");
const QString PortTag = QStringLiteral("Port");
const QString UserTag = QStringLiteral("User");
const QString SciTag = QStringLiteral("Sci");
const QString FipsTag = QStringLiteral("Fips");
const quint16 DefaultPort = 22;
// A real connection file is a few hundred bytes; anything far larger is not
// one and is not worth reading into memory.
const qint64 MaxConnectionFileSize = 64 * 1024;

void appendText(QDomDocument& document, QDomElement& root, const QString& tag, const QString& text)
{
    QDomElement element = document.createElement(tag);
    element.appendChild(document.createTextNode(text));
    root.appendChild(element);
}

// Schema problems of single files are expected (foreign or damaged files are
// skipped), so they only go to the debug log.
class SchemaMessageHandler : public QAbstractMessageHandler
{
protected:
    void handleMessage(QtMsgType type, const QString& description, const QUrl& identifier,
                       const QSourceLocation& sourceLocation) override
    {
        Q_UNUSED(sourceLocation)
        qCDebug(lcConnections) << "schema message" << type << identifier.toString() << description;
    }
};

// The schema is compiled in. A file can still name schemas of its own
// (xsi:schemaLocation and friends), which the validator would fetch over the
// network or from any local path, a FIFO included. Every request is turned
// into one for a scheme Qt does not know: nothing is fetched, and a file that
// names a schema of its own fails validation.
class NoAccessManager : public QNetworkAccessManager
{
protected:
    QNetworkReply* createRequest(Operation operation, const QNetworkRequest& request,
                                 QIODevice* data) override
    {
        qCDebug(lcConnections) << "refusing to load" << request.url().toString();
        return QNetworkAccessManager::createRequest(
            operation, QNetworkRequest(QUrl(QStringLiteral("refused:"))), data);
    }
};

// Reads at most limit + 1 bytes of a regular file. The file is opened
// non-blocking, so a FIFO swapped in after the listing cannot stall the scan.
bool readRegularFile(const QString& path, qint64 limit, QByteArray* data)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return false;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    *data = file.read(limit + 1);
    return true;
}

} // namespace

QDomDocument Connection::toXml() const
{
    QDomDocument document;
    QDomElement root = document.createElement(RootTag);
    document.appendChild(root);
    if (!m_uid.isNull())
        appendText(document, root, UidTag, m_uid.toString());
    // The file format requires the name, empty or not: a record read from a
    // file with an empty one must still be readable once saved.
    appendText(document, root, NameTag, m_name);
    if (!m_host.isEmpty())
        appendText(document, root, HostTag, m_host);
    if (m_port != DefaultPort)
        appendText(document, root, PortTag, QString::number(m_port));
    if (!m_user.isEmpty())
        appendText(document, root, UserTag, m_user);
    if (!m_sci.isEmpty())
        appendText(document, root, SciTag, m_sci);
    if (m_fips)
        appendText(document, root, FipsTag, QStringLiteral("true"));
    return document;
}

Connection Connection::fromXml(const QDomDocument& document)
{
    Connection connection;
    const QDomElement root = document.documentElement();
    if (root.tagName() != RootTag)
        return connection;

    // A missing element leaves the field at its default.
    const auto read = [&root](const QString& tag, auto apply) {
        const QDomElement element = root.firstChildElement(tag);
        if (!element.isNull())
            apply(element.text());
    };
    read(UidTag, [&connection](const QString& text) { connection.m_uid = QUuid(text); });
    read(NameTag, [&connection](const QString& text) { connection.m_name = text; });
    read(HostTag, [&connection](const QString& text) { connection.m_host = text; });
    read(PortTag, [&connection](const QString& text) {
        bool ok = false;
        const ushort value = text.toUShort(&ok, 10);
        connection.m_port = ok ? value : 0;
    });
    read(UserTag, [&connection](const QString& text) { connection.m_user = text; });
    read(SciTag, [&connection](const QString& text) { connection.m_sci = text; });
    read(FipsTag, [&connection](const QString& text) { connection.m_fips = text.toLower() == QLatin1String("true"); });
    return connection;
}

QString Connection::fileName(const QUuid& uid)
{
    return QStringLiteral("%1.rv32").arg(uid.toString());
}

bool Connection::operator==(const Connection& other) const
{
    return m_uid == other.m_uid && m_name == other.m_name && m_host == other.m_host
           && m_port == other.m_port && m_user == other.m_user && m_sci == other.m_sci
           && m_fips == other.m_fips;
}

bool writeConnectionFile(const QString& path, const Connection& connection, QString* error)
{
    if (path.isEmpty()) {
        if (error)
            *error = QCoreApplication::translate("Connection", "No file name given.");
        return false;
    }
    QDir().mkpath(QFileInfo(path).path());

    // Write a temporary file and rename it over the old one only when all of
    // it is on disk: a full disk or a quota must not destroy the saved record.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QByteArray data = connection.toXml().toByteArray(1);
    if (file.write(data) != data.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}

bool removeConnectionFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.remove()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

struct ConnectionFileReader::Private
{
    SchemaMessageHandler messages;
    NoAccessManager noAccess;
    QXmlSchema schema;
    QXmlSchemaValidator validator;
    bool valid = false;
};

ConnectionFileReader::ConnectionFileReader()
    : d(std::make_unique<Private>())
{
    d->schema.setMessageHandler(&d->messages);
    d->schema.setNetworkAccessManager(&d->noAccess);
    QFile schemaFile(QStringLiteral(":/schemas/resources/Connection.schema"));
    d->valid = schemaFile.open(QIODevice::ReadOnly)
               && d->schema.load(&schemaFile, QUrl(QStringLiteral("qrc:/schemas/resources/Connection.schema")))
               && d->schema.isValid();
    if (!d->valid) {
        qCWarning(lcConnections) << "the connection schema could not be loaded";
        return;
    }
    d->validator.setSchema(d->schema);
    d->validator.setMessageHandler(&d->messages);
    d->validator.setNetworkAccessManager(&d->noAccess);
}

ConnectionFileReader::~ConnectionFileReader() = default;

bool ConnectionFileReader::isValid() const
{
    return d->valid;
}

bool ConnectionFileReader::read(const QByteArray& data, const QString& path, Connection* connection)
{
    if (!d->valid)
        return false;
    if (data.size() > MaxConnectionFileSize) {
        qCDebug(lcConnections) << "skipping oversized connection file" << path;
        return false;
    }
    QDomDocument document;
    if (!document.setContent(data)) {
        qCDebug(lcConnections) << "skipping unparsable connection file" << path;
        return false;
    }
    const Connection parsed = Connection::fromXml(document);
    // A file that is byte for byte what this program writes for a record
    // with a uid and a name conforms to the schema by construction; schema
    // validation costs several times the rest of the scan, so only other
    // files go through the validator.
    const bool canonical = parsed.isValid() && !parsed.name().isEmpty() && parsed.toXml().toByteArray(1) == data;
    if (!canonical && !d->validator.validate(data, QUrl::fromLocalFile(path))) {
        qCDebug(lcConnections) << "skipping invalid connection file" << path;
        return false;
    }
    *connection = parsed;
    return true;
}

ConnectionScan scanConnectionFiles(const QStringList& directories)
{
    QStringList candidates;
    for (const QString& directory : directories) {
        if (directory.isEmpty())
            continue;
        const QDir dir(directory);
        const QFileInfoList entries = dir.entryInfoList({QStringLiteral("*.rv32")},
                                                        QDir::Files, QDir::Unsorted);
        // The listing also yields symbolic links to FIFOs, devices and
        // sockets; only regular files are connection files.
        for (const QFileInfo& entry : entries) {
            if (entry.isFile())
                candidates.append(QDir::cleanPath(entry.filePath()));
        }
    }

    ConnectionScan scan;
    if (candidates.isEmpty())
        return scan;
    ConnectionFileReader reader;
    if (!reader.isValid())
        return scan;

    for (const QString& path : qAsConst(candidates)) {
        QByteArray data;
        if (!readRegularFile(path, MaxConnectionFileSize, &data)) {
            qCDebug(lcConnections) << "cannot read" << path << "as a regular file";
            continue;
        }
        Connection connection;
        if (!reader.read(data, path, &connection))
            continue;
        if (!connection.isValid() || scan.files.contains(connection.uid()))
            continue;
        scan.connections.append(connection);
        scan.files.insert(connection.uid(), path);
    }
    return scan;
}
