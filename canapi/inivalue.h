// The values of a bench file's "key = value" lines, apart from what the keys
// mean: numbers, flags, quotes and trailing comments. Pure.
#pragma once

#include <QString>

namespace canapi {

// Decimal, or hexadecimal with 0x; a leading zero does not mean octal here.
bool parseNumber(const QString &text, qulonglong max, qulonglong *out);

// "true" or "false", nothing else.
bool parseFlag(const QString &text, bool *out);

// Cuts a trailing "; comment" and handles a quoted value.
bool cleanValue(const QString &raw, QString *value, QString *problem);

} // namespace canapi
