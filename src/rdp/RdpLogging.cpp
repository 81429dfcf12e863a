#include "RdpLogging.h"

Q_LOGGING_CATEGORY(lcRdp, "zentu.rdp")
