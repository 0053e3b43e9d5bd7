// Numbers as files hold them, whatever the user's locale: ASCII digits,
// "-" for a negative value and "." as the decimal point.
#pragma once

#include <QString>

namespace Platform {

// The text with every decimal digit of another script (Arabic-Indic,
// Persian, Devanagari, ...) replaced by its ASCII digit, the minus sign
// U+2212 by "-", and the invisible direction marks some locales put around
// numbers dropped: for dates and times formatted in the user's own order,
// whose numbers a file should still hold as ASCII.
QString asciiDigits(const QString &text);

} // namespace Platform
