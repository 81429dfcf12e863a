#pragma once

// File helpers shared by the connection tests.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QUuid>

inline bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A connection file laid out as the program writes it, with a host line
// only when a host is given.
inline QByteArray minimalFile(const QString& uid, const QString& name, const QString& host = QString())
{
    const QString hostLine = host.isEmpty() ? QString() : QStringLiteral(" <Host>%1</Host>\n").arg(host);
    return QStringLiteral("<SshConnection>\n <Uid>%1</Uid>\n <Name>%2</Name>\n%3</SshConnection>\n")
        .arg(uid, name, hostLine)
        .toUtf8();
}

inline QByteArray minimalFile(const QUuid& uid, const QString& name, const QString& host)
{
    return minimalFile(uid.toString(), name, host);
}
