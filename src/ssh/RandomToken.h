#pragma once

#include <QString>

// 16 bytes of /dev/urandom as 32 lower-case hexadecimal digits. On failure
// the token is left untouched and error says why.
bool randomToken(QString* token, QString* error);
