#pragma once

#include <QString>

// The RSA key of a session's RDP security. FreeRDP 2 copies the private
// exponent with the modulus's length when it decrypts the client random, so a
// key whose exponent is a byte shorter than its modulus (about one key in
// twenty) makes it read past its buffer.

// Writes a new 2048-bit key (PEM) to path, made again until its private
// exponent is as long as its modulus.
bool writeSessionKey(const QString& path, QString* error);
// True when the key in path has a private exponent as long as its modulus.
bool sessionKeyUsable(const QString& path, QString* error);
