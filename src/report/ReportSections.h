// The meter report's sections as lists of 8-bit text lines, built from the
// link's structure images and the registers read for the report.
//
// A section line is a caption padded with blanks to 30 characters, the
// separator ("= " for the printed report, ", " for the CSV file) and the
// value text; a flag line is a padded text alone. Numbers always use "." as
// the decimal separator (a decimal comma would split the CSV's fields);
// dates follow the locale's short date and long time formats without a time
// zone. The builders only format: they read the images and change nothing.
#pragma once

#include "link/DateTime.h"
#include "link/Z960Data.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QByteArray;

namespace ReportSections {

using Lines = std::vector<std::string>;

constexpr std::size_t kCaptionWidth = 30;
inline constexpr const char *kReportSeparator = "= ";
inline constexpr const char *kCsvSeparator = ", ";

// ---- line format ------------------------------------------------------------

// Caption, blanks up to 30 characters (none when it is already that long),
// separator, value.
std::string sectionLine(const std::string &caption, const std::string &separator, const std::string &value);
// A text padded to 30 characters with nothing after it.
std::string flagLine(const std::string &text);
// The printed report's two columns: before the first "=", and after it (so
// the right column starts with the separator's blank). Without "=": an empty
// left column and the whole line on the right.
std::pair<std::string, std::string> splitColumns(const std::string &line);

// ---- value formats -------------------------------------------------------------

// Fixed decimals ("0.00", "0.000"); "NAN", "INF", "-INF" for values that are
// no number, and never "-0.00".
std::string fixed(double value, int decimals);
// At least one and at most five decimals ("0.0####").
std::string decimal(float value);
// Short date, a blank and the long time (time left out at exactly midnight).
std::string dateTimeText(DateTime::TDateTime value);
// "hh:nn:ss", "dd mmm" (short month name) and "dd mmm yyyy".
std::string timeText(DateTime::TDateTime value);
std::string dayMonthText(DateTime::TDateTime value);
std::string longDateText(DateTime::TDateTime value);

// ---- sections -----------------------------------------------------------------

struct TechnicianEntries {
    std::string technicianName;
    std::string validatorLicenseNumber; // empty: no validator line
    std::string siteName;
};

Lines informationLines(const TechnicianEntries &entries, DateTime::TDateTime now, const Z960Data::sCal &cal,
                       const Z960Data::sConfig &config, const Z960Data::sSystem &system,
                       const std::string &separator);

constexpr unsigned short kTotalsFirstRegister = 116;
constexpr unsigned short kTotalsRegisterCount = 40;
constexpr int kTotalsCount = 10;
using Totals = std::array<float, kTotalsCount>;
// The ten totals of a reply to the 40-register read (byte count, then the
// registers high byte first); none when the reply is shorter than asked for.
std::optional<Totals> decodeTotals(const unsigned char *reply, std::size_t length);
// All ten lines, or none when the totals could not be read.
Lines totalsLines(const std::optional<Totals> &totals, const std::string &separator);

// Holding registers 1 and 2 (days and hours since power-up); a register that
// could not be read leaves its line out.
struct Uptime {
    std::optional<std::uint16_t> days;
    std::optional<std::uint16_t> hours;
};
constexpr unsigned short kUptimeDaysRegister = 1;
constexpr unsigned short kUptimeHoursRegister = 2;
// The value of a one-register reply; none when it is shorter than that.
std::optional<std::uint16_t> decodeRegister(const unsigned char *reply, std::size_t length);

Lines diagnosticLines(const Z960Data::sStatus &status, const Z960Data::sSystem &system, const Uptime &uptime,
                      const std::string &separator);
Lines configurationLines(const Z960Data::sConfig &config, const std::string &separator);
Lines calibrationLines(const Z960Data::sCal &cal, const std::string &separator);
Lines basicCalibrationLines(const Z960Data::sBasicCal &basicCal, const std::string &separator);

// "Z720 Report MeterID - " below a battery safety limit of 7.5 V, else
// "Z960 Report MeterID - ", then the meter ID.
std::string reportTitle(const Z960Data::sCal &cal, const Z960Data::sBasicCal &basicCal);

// ---- the CSV file -------------------------------------------------------------------

struct Sections {
    Lines info, totals, diagnostics, configuration, calibration, basicCalibration, notes;
};
// Title, then each section under its "[...]" heading after an empty line;
// the notes block only when there are notes.
Lines csvLines(const std::string &title, const Sections &sections);
// The lines as 8-bit text, each (the last one too) ended by CR LF.
QByteArray csvBytes(const Lines &lines);

} // namespace ReportSections
