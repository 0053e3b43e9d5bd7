#include "platform/IntConvert.h"

#include <cstdint>
#include <stdexcept>

namespace Platform {

namespace {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

} // namespace

std::optional<int> tryStrToInt(const QString &text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+')))
        negative = text[i++] == QLatin1Char('-');

    int base = 10;
    if (i < n && text[i] == QLatin1Char('$')) {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == QLatin1Char('0')
               && (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X'))) {
        base = 16;
        i += 2;
    }
    if (i >= n)
        return std::nullopt;

    // Decimal may reach 2^31 (for the negative end); hexadecimal 2^32 - 1.
    const uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    uint64_t value = 0;
    for (; i < n; ++i) {
        const int d = hexDigit(text[i]);
        if (d < 0 || d >= base)
            return std::nullopt;
        value = value * base + d;
        if (value > limit)
            return std::nullopt;
    }
    const auto bits = static_cast<uint32_t>(value);
    const auto result = static_cast<int32_t>(negative ? 0u - bits : bits);
    return result;
}

int StrToIntDef(const QString &text, int fallback)
{
    return tryStrToInt(text).value_or(fallback);
}

int StrToInt(const QString &text)
{
    if (auto v = tryStrToInt(text))
        return *v;
    throw std::runtime_error(QStringLiteral("'%1' is not a valid integer value").arg(text).toStdString());
}

} // namespace Platform
