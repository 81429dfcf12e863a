#include "ConnectionsLogging.h"

Q_LOGGING_CATEGORY(lcConnections, "zentu.connections", QtInfoMsg)
