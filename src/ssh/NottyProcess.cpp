#include "NottyProcess.h"

#include <unistd.h>

void NottyProcess::setupChildProcess()
{
    ::setsid();
}
