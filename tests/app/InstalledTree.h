#pragma once

#include <QString>

// Checks of an installed client below <prefix> (bin/zentu, lib/Zentu, share),
// shared by the test of "cmake --install" and the test of the Debian
// packages. Failures are recorded with QTest: callers return when
// QTest::currentTestFailed() says so.
namespace InstalledTree {

// The command link, the program and askpass beside it, the desktop entry,
// the icon and the licence pages.
void verifyClientFiles(const QString& prefix);

// Starts <prefix>/bin/zentu with an empty home and one connection in
// <prefix>/share/Zentu/Connections and waits until the program lists it.
void verifyStartsWithGlobalConnection(const QString& prefix);

} // namespace InstalledTree
