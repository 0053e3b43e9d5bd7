// The lines of the information page: the meter's identity and settings from
// the link's structure images, as one root text and fifteen groups of lines
// "caption<blanks>= value unit". Pure text, no widgets, so it can be checked
// against fixture images.
#pragma once

#include "link/DateTime.h"
#include "link/Z960Data.h"

#include <QLocale>
#include <QString>
#include <QStringList>

#include <vector>

namespace InfoTree {

// The images the tree reads (only the reset count of the status image).
struct Images {
    const Z960Data::sCal &cal;
    const Z960Data::sConfig &config;
    const Z960Data::sBasicCal &basicCal;
    const Z960Data::sSystem &system;
    const Z960Data::sStatus &status;
};

struct Group {
    QString caption;
    QStringList lines;
};

struct Tree {
    QString root;
    std::vector<Group> groups;
};

// Captions are padded with blanks to this width before "= ".
inline constexpr int kCaptionWidth = 30;

Tree build(const Images &images, const QLocale &locale = QLocale());

// caption, blanks up to kCaptionWidth, "= ", value.
QString lineText(const QString &caption, const QString &value);
// At least one integer digit, one to five decimals (trailing zeros after the
// first dropped), the locale's decimal separator, no group separators.
QString formatFloat(double value, const QLocale &locale);
// Two-digit hour, minute, second with the locale's time separator.
QString formatTime(DateTime::TDateTime value, const QLocale &locale);
// Two-digit day and the locale's short month name with its date separator.
QString formatDayMonth(DateTime::TDateTime value, const QLocale &locale);

} // namespace InfoTree
