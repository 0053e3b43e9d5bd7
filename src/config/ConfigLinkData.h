// What the setup dialog takes from the link's data declarations: the texts
// of its combo boxes and the date/time values of its pickers.
#pragma once

#include "config/ConfigFields.h"

#include <QDateTime>
#include <QStringList>

namespace Config {

// The setup dialog's items of a list, index = stored value.
QStringList comboItems(Items items);

// Date/time values (days since 1899-12-30) and the pickers' QDateTime, which
// carries them as UTC so that no local daylight-saving gap can shift a time.
QDateTime toPickerDateTime(double value);
double fromPickerDateTime(const QDateTime &dateTime);

} // namespace Config
