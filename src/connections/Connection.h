#pragma once

#include <QDomDocument>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <QVector>

#include <memory>

// One saved SSH connection to a Zentu server. The uid identifies the record
// and names its file; it never changes once the record is created.
class Connection
{
public:
    static const Connection null;

    QUuid uid() const { return m_uid; }
    void setUid(const QUuid& uid) { m_uid = uid; }
    QString name() const { return m_name; }
    void setName(const QString& name) { m_name = name; }
    QString host() const { return m_host; }
    void setHost(const QString& host) { m_host = host; }
    quint16 port() const { return m_port; }
    void setPort(quint16 port) { m_port = port; }
    QString user() const { return m_user; }
    void setUser(const QString& user) { m_user = user; }
    QString sci() const { return m_sci; }
    void setSci(const QString& sci) { m_sci = sci; }
    bool fips() const { return m_fips; }
    void setFips(bool fips) { m_fips = fips; }

    bool isValid() const { return !m_uid.isNull(); }

    QDomDocument toXml() const;
    static Connection fromXml(const QDomDocument& document);

    // "{uid}.rv32", the file name of a connection.
    static QString fileName(const QUuid& uid);

    bool operator==(const Connection& other) const;
    bool operator!=(const Connection& other) const { return !(*this == other); }

private:
    QUuid m_uid;
    QString m_name;
    QString m_host;
    quint16 m_port = 22;
    QString m_user;
    QString m_sci;
    bool m_fips = false;
};

using ConnectionFileIndex = QMap<QUuid, QString>;

// Replaces the file at path with the connection's document. The old file
// stays untouched unless the new content has been written completely.
bool writeConnectionFile(const QString& path, const Connection& connection, QString* error);
bool removeConnectionFile(const QString& path, QString* error);

// Reads connection files against the compiled-in schema, which it compiles
// once for any number of files.
class ConnectionFileReader
{
public:
    ConnectionFileReader();
    ~ConnectionFileReader();

    // False when the schema could not be loaded: then no file is read.
    bool isValid() const;
    // The record in a file's bytes; false when they are not a connection
    // file (too large, not XML, or not valid against the schema). The path
    // only names the file in the debug log and the validator's messages.
    bool read(const QByteArray& data, const QString& path, Connection* connection);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// What a scan of the connection directories found: the valid records in
// scan order and, per uid, the file it came from.
struct ConnectionScan
{
    QVector<Connection> connections;
    ConnectionFileIndex files;
};

// Reads every "*.rv32" file of the given directories (empty paths are
// skipped), in order, keeping the valid files and, for a uid seen twice, only
// the first. Invalid files are skipped silently, and so is anything that is
// not a regular file; nothing outside the files is ever loaded.
ConnectionScan scanConnectionFiles(const QStringList& directories);
