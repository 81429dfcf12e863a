#include "JsonRepeatedKey.h"

#include <QSet>
#include <QString>

#include <cstring>
#include <vector>

namespace {

struct Level
{
    bool object = false;
    // In an object, the next string is a member's name.
    bool expectKey = false;
    QSet<QString> keys;
};

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads the string whose opening quote is at position; returns the position
// after its closing quote, or -1 when the text ends first. The decoded text
// goes to decoded when it is given.
int readString(const QByteArray& text, int position, QString* decoded)
{
    QByteArray plain;
    for (int i = position + 1; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '"') {
            if (decoded)
                decoded->append(QString::fromUtf8(plain));
            return i + 1;
        }
        if (c != '\\') {
            plain.append(c);
            continue;
        }
        if (++i >= text.size())
            return -1;
        const char escape = text.at(i);
        if (escape != 'u') {
            static const char from[] = "bfnrt";
            static const char to[] = "\b\f\n\r\t";
            const char* found = escape ? strchr(from, escape) : nullptr;
            plain.append(found ? to[found - from] : escape);
            continue;
        }
        int unit = 0;
        for (int digit = 0; digit < 4; ++digit) {
            const int value = ++i < text.size() ? hexDigit(text.at(i)) : -1;
            if (value < 0)
                return -1;
            unit = unit * 16 + value;
        }
        if (decoded) {
            decoded->append(QString::fromUtf8(plain));
            decoded->append(QChar(ushort(unit)));
        }
        plain.clear();
    }
    return -1;
}

} // namespace

bool jsonHasRepeatedKey(const QByteArray& text)
{
    std::vector<Level> levels;
    for (int i = 0; i < text.size();) {
        const char c = text.at(i);
        if (c == '"') {
            Level* level = levels.empty() ? nullptr : &levels.back();
            const bool isKey = level && level->object && level->expectKey;
            QString key;
            i = readString(text, i, isKey ? &key : nullptr);
            if (i < 0)
                return false;
            if (isKey) {
                if (level->keys.contains(key))
                    return true;
                level->keys.insert(key);
                level->expectKey = false;
            }
            continue;
        }
        if (c == '{' || c == '[') {
            levels.emplace_back();
            levels.back().object = c == '{';
            levels.back().expectKey = c == '{';
        } else if ((c == '}' || c == ']') && !levels.empty()) {
            levels.pop_back();
        } else if (c == ',' && !levels.empty() && levels.back().object) {
            levels.back().expectKey = true;
        }
        ++i;
    }
    return false;
}
