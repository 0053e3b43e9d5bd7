// Texts of the main window's status page: the value format and the status line.
#pragma once

#include "link/Z960Data.h"

#include <QString>

namespace Console {

// A value of the status page: three decimals, the locale's decimal separator,
// no thousands separator ("0.000").
QString FormatStatusValue(double value);

// The status line: every active alarm with its cause and value, then the
// system faults; empty when there is neither.
QString StatusLineText(const Z960Data::sStatus &status, const Z960Data::sConfig &config);

} // namespace Console
