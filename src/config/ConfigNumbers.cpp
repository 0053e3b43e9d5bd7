#include "config/ConfigNumbers.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace Config {

QString formatFloat(float value)
{
    if (std::isnan(value))
        return QStringLiteral("nan");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");
    // QString::number is locale-independent ("C" formatting).
    QString text = QString::number(double(value), 'f', 5);
    while (text.endsWith(QLatin1Char('0')) && !text.endsWith(QLatin1String(".0")))
        text.chop(1);
    if (text == QLatin1String("-0.0"))
        text = QStringLiteral("0.0");
    return text;
}

QString formatUnsigned(uint32_t value) { return QString::number(value); }

QString formatSigned(int16_t value) { return QString::number(value); }

namespace {

// Checks the decimal syntax and returns the text without a leading "+"
// (from_chars accepts "-" but not "+").
std::optional<std::string> decimalSyntax(const QString &text)
{
    const QString t = text.trimmed();
    std::string s;
    int i = 0;
    const int n = t.size();
    if (i < n && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-'))) {
        if (t[i] == QLatin1Char('-'))
            s += '-';
        ++i;
    }
    int digits = 0;
    bool point = false;
    for (; i < n; ++i) {
        const QChar c = t[i];
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            ++digits;
            s += char(c.unicode());
        } else if ((c == QLatin1Char('.') || c == QLatin1Char(',')) && !point) {
            // A decimal comma is the point: a German keyboard's decimal key
            // and pasted numbers carry one.
            point = true;
            s += '.';
        } else {
            break;
        }
    }
    if (digits == 0)
        return std::nullopt;
    if (i < n && (t[i] == QLatin1Char('e') || t[i] == QLatin1Char('E'))) {
        s += 'e';
        ++i;
        if (i < n && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-')))
            s += char(t[i++].unicode());
        int expDigits = 0;
        for (; i < n && t[i] >= QLatin1Char('0') && t[i] <= QLatin1Char('9'); ++i, ++expDigits)
            s += char(t[i].unicode());
        if (expDigits == 0)
            return std::nullopt;
    }
    if (i != n)
        return std::nullopt;
    return s;
}

} // namespace

std::optional<double> parseDecimal(const QString &text)
{
    const auto s = decimalSyntax(text);
    if (!s)
        return std::nullopt;
    double value = 0.0;
    const auto [end, ec] = std::from_chars(s->data(), s->data() + s->size(), value);
    if (ec != std::errc() || end != s->data() + s->size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<float> parseFloat32(const QString &text)
{
    const auto value = parseDecimal(text);
    if (!value || std::fabs(*value) > double(std::numeric_limits<float>::max()))
        return std::nullopt;
    return static_cast<float>(*value);
}

std::optional<int32_t> parseInt32(const QString &text)
{
    const QString t = text.trimmed();
    std::string s;
    int i = 0;
    if (i < t.size() && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-'))) {
        if (t[i] == QLatin1Char('-'))
            s += '-';
        ++i;
    }
    if (i == t.size())
        return std::nullopt;
    for (; i < t.size(); ++i) {
        if (t[i] < QLatin1Char('0') || t[i] > QLatin1Char('9'))
            return std::nullopt;
        s += char(t[i].unicode());
    }
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    return value;
}

} // namespace Config
