#pragma once

#include <QByteArray>

// Whether some object in a JSON text names a member twice (after escapes
// are decoded). Qt 5.15's parser loses the memory of a repeated member's
// array or object, so a server could grow the client with such replies; the
// command interface never repeats a member. Only looks for keys: whether the
// text is valid JSON is the parser's to say. Time and memory are linear in
// the text's size.
bool jsonHasRepeatedKey(const QByteArray& text);
