#include "platform/FileNumbers.h"

namespace Platform {

namespace {

bool directionMark(char16_t u)
{
    return u == 0x061C || u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
}

} // namespace

QString asciiDigits(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() == 0x2212)
            out += QLatin1Char('-');
        else if (c.unicode() >= 0x80 && c.category() == QChar::Number_DecimalDigit)
            out += QLatin1Char(static_cast<char>('0' + c.digitValue()));
        else if (!directionMark(c.unicode()))
            out += c;
    }
    return out;
}

} // namespace Platform
