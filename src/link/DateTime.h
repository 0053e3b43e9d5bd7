// The one date/time module. A date/time value is a double counting days since
// 30 December 1899, its fraction the time of day. For values before that day the
// integer part is the (negative) day and the fraction's magnitude the time of day,
// as the date/time type has always counted them. Conversions round to whole
// milliseconds.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace DateTime {

using TDateTime = double;

constexpr std::int64_t kMsPerDay = 86400000;

struct Fields {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int msec = 0;
};

// Gregorian rule: divisible by 4 and either not by 100 or by 400.
bool isLeapYear(int year);
// Days of a month; 0 for a month outside 1..12.
int daysInMonth(int year, int month);

// Years 1..9999, months 1..12, days of that month.
bool isValidDate(int year, int month, int day);
bool isValidTime(int hour, int minute, int second, int msec);

// Empty for fields outside their ranges.
std::optional<TDateTime> encodeDate(int year, int month, int day);
std::optional<TDateTime> encodeTime(int hour, int minute, int second, int msec);
std::optional<TDateTime> encode(const Fields &fields);

// Calendar fields of a value, rounded to the whole millisecond; empty for a value
// that is not finite or lies outside the years 1..9999.
std::optional<Fields> decode(TDateTime value);

// Whole milliseconds since 30 December 1899 00:00 (rounded); a value outside the
// years 1..9999 is clamped to that range and a value that is not a number counts as 0.
std::int64_t toMilliseconds(TDateTime value);
TDateTime fromMilliseconds(std::int64_t ms);
// value moved by whole seconds (either sign).
TDateTime addSeconds(TDateTime value, std::int64_t seconds);

// The PC's local wall-clock date and time, or the test clock when one is set.
TDateTime now();
// The PC's local wall-clock date and time, always.
TDateTime systemNow();
// Installs a test clock; an empty function puts the PC's clock back.
void setNowSource(std::function<TDateTime()> source);

// Sets a fixed (or supplied) clock for a scope and puts the previous one back.
class ScopedNow {
public:
    explicit ScopedNow(TDateTime fixed);
    explicit ScopedNow(std::function<TDateTime()> source);
    ~ScopedNow();
    ScopedNow(const ScopedNow &) = delete;
    ScopedNow &operator=(const ScopedNow &) = delete;

private:
    std::function<TDateTime()> saved_;
};

} // namespace DateTime
