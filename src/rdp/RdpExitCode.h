#pragma once

#include <QtGlobal>

// Exit codes of a display run, as the launchers read them (see endOf).
namespace RdpExitCode {

constexpr int Quiet = 0;
constexpr int ConnectFailed = 131;
constexpr int WaitFailed = 255;

// Maps a stop reason (0, 131, 255 or the server's error info) to the exit code.
int fromReason(int reason);

// The reason for a connection the library ended: the server's error info,
// or, when the server gave none but the library recorded a failure other
// than our own cancel (a dead server or tunnel), ConnectFailed.
int disconnectReason(quint32 errorInfo, quint32 lastError);

// What a launcher tells the user about an ended display.
enum class End {
    Quiet,       // a normal end: closed here, disconnected, or logged off
    Unreachable, // the session could not be reached
    TakenOver,   // another connection took the session over
    Unexpected,
};
End endOf(int exitCode);

} // namespace RdpExitCode
