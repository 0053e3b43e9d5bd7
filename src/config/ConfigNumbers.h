// Number texts of the setup dialog. They are shown with "." as the decimal
// separator, whatever the locale, and read with "." or "," (a decimal
// comma typed or pasted is the point).
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace Config {

// "0.0####": at least one and at most five decimals; a value that rounds to
// zero shows "0.0" without a sign. Not-finite values show "nan"/"inf"/"-inf"
// (which never parse back, so such a field is marked invalid).
QString formatFloat(float value);

QString formatUnsigned(uint32_t value); // "%hu" / "%lu"
QString formatSigned(int16_t value);    // "%hd"

// A decimal number: optional sign, digits with at most one decimal
// separator ("." or ","), at least one digit, optional exponent; surrounding
// blanks are ignored. Anything else (".", "-.", "2,5,1", letters, a second
// sign) or a value beyond the double range gives nothing. The result is finite.
std::optional<double> parseDecimal(const QString &text);

// The same number narrowed to a 32-bit float; nothing when the value lies
// beyond the float range (narrowing it would be undefined).
std::optional<float> parseFloat32(const QString &text);

// A whole number: optional sign and decimal digits (surrounding blanks
// ignored) that fits a 32-bit signed integer; nothing otherwise.
std::optional<int32_t> parseInt32(const QString &text);

} // namespace Config
