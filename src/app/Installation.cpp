#include "Installation.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString ConnectionsName = QStringLiteral("Connections");

bool hasMarker(const QString& programDirectory, const QString& name)
{
    return QFileInfo::exists(QDir(programDirectory).filePath(name));
}

} // namespace

InstallKind installKind(const QString& programDirectory)
{
    if (hasMarker(programDirectory, QStringLiteral("localinstall")))
        return InstallKind::Local;
    if (hasMarker(programDirectory, QStringLiteral("flashinstall")))
        return InstallKind::Flash;
    return InstallKind::System;
}

QString dataDirectory(const QString& programDirectory)
{
    return QDir(programDirectory).filePath(QStringLiteral("../../../share/Zentu"));
}

QString userDirectory()
{
    return QDir::home().filePath(QStringLiteral(".Zentu"));
}

bool isDataDirectoryWritable(const QString& programDirectory)
{
    return QFileInfo(dataDirectory(programDirectory)).isWritable();
}

QString globalConnectionsDirectory(const QString& programDirectory)
{
    if (installKind(programDirectory) != InstallKind::System)
        return QString();
    return QDir(dataDirectory(programDirectory)).filePath(ConnectionsName);
}

QString userConnectionsDirectory(const QString& programDirectory)
{
    if (installKind(programDirectory) == InstallKind::Flash)
        return QDir(programDirectory).filePath(ConnectionsName);
    return QDir(userDirectory()).filePath(ConnectionsName);
}

QString demoConnectionsDirectory()
{
    const QString directory = qEnvironmentVariable("ZENTU_DEMO_CONNECTIONS");
    return QDir::isAbsolutePath(directory) ? QDir::cleanPath(directory) : QString();
}

QString licenceDirectory(const QString& programDirectory)
{
    return QDir::cleanPath(QDir(programDirectory).filePath(QStringLiteral("../doc")));
}
