#include "SessionMethods.h"

#include "SciServer.h"

void registerSessionMethods(SciServer&)
{
}
