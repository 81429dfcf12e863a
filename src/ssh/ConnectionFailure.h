#pragma once

class JsonRpcHandler;
class QString;
class QStringList;
class SshDevice;

// Explains the end of a connection's ssh run in a failure box, if anything
// went wrong. Connect it to SshDevice::finished.
void reportConnectionFailure(SshDevice* device, JsonRpcHandler* handler);

// The detail for a failed ssh run: the first known phrase found in the
// log's lines (ssh's own debug diagnostics excluded) decides it; otherwise
// the device's error string. Translated in the ConnectionListWidget context.
QString connectionFailureDetail(const QStringList& log, const QString& host, const QString& user,
                                const QString& errorString);
