#pragma once

#include <QString>

// Where this installation keeps its files, decided by marker entries beside
// the executable. All functions take the executable's directory so that the
// rules can be checked for any layout.
enum class InstallKind {
    System = 1,
    Local = 2,
    Flash = 4,
};

InstallKind installKind(const QString& programDirectory);
// "../../../share/Zentu" joined to the executable's directory.
QString dataDirectory(const QString& programDirectory);
// ".Zentu" in the user's home directory.
QString userDirectory();
bool isDataDirectoryWritable(const QString& programDirectory);

// The connection directories for the installation; the global one is empty
// for local and portable installations.
QString globalConnectionsDirectory(const QString& programDirectory);
QString userConnectionsDirectory(const QString& programDirectory);
// The directory named by $ZENTU_DEMO_CONNECTIONS when it is absolute, else
// empty: the connections of a demo server started beside the client, listed
// first and read-only.
QString demoConnectionsDirectory();

// "doc" beside the executable's directory: the licence files of the
// components the program is built from.
QString licenceDirectory(const QString& programDirectory);
