#pragma once

#include <QHostAddress>
#include <QString>

// Whether the TCP listeners that a connection to address:port would reach
// (the address itself, the wildcard of its family and, for IPv4, the IPv6
// wildcard and mapped forms) all belong to process pid, and at least one does.
// Reads the kernel's socket tables and the process's descriptors: local
// files, no waiting on anybody. False with the reason in error otherwise.
bool loopbackListenerOwnedBy(const QHostAddress& address, quint16 port, qint64 pid, QString* error);
