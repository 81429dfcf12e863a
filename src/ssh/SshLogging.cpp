#include "SshLogging.h"

Q_LOGGING_CATEGORY(lcSsh, "zentu.ssh")
