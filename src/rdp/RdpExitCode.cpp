#include "RdpExitCode.h"

namespace RdpExitCode {

namespace {
// freerdp/error.h: ERRCONNECT_CONNECT_CANCELLED in the connect error class.
constexpr quint32 ConnectCancelled = 0x0002000B;
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

} // namespace RdpExitCode
