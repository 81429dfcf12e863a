#include "RdpExitCode.h"

namespace RdpExitCode {

namespace {
// freerdp/error.h: ERRCONNECT_CONNECT_CANCELLED in the connect error class.
constexpr quint32 ConnectCancelled = 0x0002000B;
// freerdp/error.h: error info codes of the server, kept as exit codes.
constexpr int DisconnectedByAdministrator = 0x01; // ERRINFO_RPC_INITIATED_DISCONNECT
constexpr int LoggedOffByAdministrator = 0x02;    // ERRINFO_RPC_INITIATED_LOGOFF
constexpr int TakenOverByOtherConnection = 0x05;  // ERRINFO_DISCONNECTED_BY_OTHER_CONNECTION
constexpr int DisconnectedByUser = 0x0B;          // ERRINFO_RPC_INITIATED_DISCONNECT_BY_USER
constexpr int LoggedOffByUser = 0x0C;             // ERRINFO_LOGOFF_BY_USER
} // namespace

int fromReason(int reason)
{
    if (reason == 0 || (reason >= 128 && reason <= 131))
        return reason;
    if (reason >= 0x10C9 && reason <= 0x1193)
        return 32;
    if (reason >= 1 && reason <= 12)
        return reason;
    return WaitFailed;
}

int disconnectReason(quint32 errorInfo, quint32 lastError)
{
    if (errorInfo != 0)
        return errorInfo > 0x7FFFFFFF ? WaitFailed : static_cast<int>(errorInfo);
    if (lastError != 0 && lastError != ConnectCancelled)
        return ConnectFailed;
    return Quiet;
}

End endOf(int exitCode)
{
    switch (exitCode) {
    case Quiet:
    case DisconnectedByAdministrator:
    case LoggedOffByAdministrator:
    case DisconnectedByUser:
    case LoggedOffByUser:
        return End::Quiet;
    case TakenOverByOtherConnection:
        return End::TakenOver;
    case ConnectFailed:
        return End::Unreachable;
    default:
        return End::Unexpected;
    }
}

} // namespace RdpExitCode
