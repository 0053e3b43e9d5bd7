// Integer conversion with the rules the settings file and the entry fields
// share: optional leading blanks and sign, then decimal digits, or
// hexadecimal after "0x" or "$". Nothing may follow the digits, and a value
// outside 32 bits is no integer. Hexadecimal takes the full 32-bit pattern
// ("0xFFFFFFFF" is -1), decimal must fit a signed 32-bit value.
#pragma once

#include <QString>
#include <optional>

namespace Platform {

std::optional<int> tryStrToInt(const QString &text);
// The value, or `fallback` when the text is no integer.
int StrToIntDef(const QString &text, int fallback);
// The value; throws std::runtime_error "'<text>' is not a valid integer value"
// when the text is no integer.
int StrToInt(const QString &text);

} // namespace Platform
