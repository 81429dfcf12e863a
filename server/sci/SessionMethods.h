#pragma once

class SciServer;

// Registers the session methods ("Zentu.list", "Zentu.start", ...).
void registerSessionMethods(SciServer& server);
