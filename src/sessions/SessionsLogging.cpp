#include "SessionsLogging.h"

Q_LOGGING_CATEGORY(lcSessions, "zentu.sessions")
