#include "AppLogging.h"

Q_LOGGING_CATEGORY(lcApp, "zentu.app", QtInfoMsg)
