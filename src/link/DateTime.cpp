#include "link/DateTime.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <mutex>

namespace DateTime {

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date (month 1..12).
constexpr std::int64_t daysFromCivil(std::int64_t y, int m, int d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(std::int64_t z, int &year, int &month, int &day)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

constexpr std::int64_t kEpochDays = daysFromCivil(1899, 12, 30);
constexpr std::int64_t kFirstDay = daysFromCivil(1, 1, 1) - kEpochDays;        // -693593
constexpr std::int64_t kDayAfterLast = daysFromCivil(10000, 1, 1) - kEpochDays; // 2958466

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

std::mutex &sourceMutex()
{
    static std::mutex m;
    return m;
}
std::function<TDateTime()> &source()
{
    static std::function<TDateTime()> s;
    return s;
}

} // namespace

bool isLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int daysInMonth(int year, int month)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    return kDays[month - 1] + (month == 2 && isLeapYear(year) ? 1 : 0);
}

bool isValidDate(int year, int month, int day)
{
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
           day <= daysInMonth(year, month);
}

bool isValidTime(int hour, int minute, int second, int msec)
{
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 &&
           msec >= 0 && msec < 1000;
}

std::optional<TDateTime> encodeDate(int year, int month, int day)
{
    if (!isValidDate(year, month, day))
        return std::nullopt;
    return static_cast<TDateTime>(daysFromCivil(year, month, day) - kEpochDays);
}

std::optional<TDateTime> encodeTime(int hour, int minute, int second, int msec)
{
    if (!isValidTime(hour, minute, second, msec))
        return std::nullopt;
    const std::int64_t ms = ((hour * 60 + minute) * 60 + second) * 1000LL + msec;
    return static_cast<TDateTime>(ms) / kMsPerDay;
}

std::optional<TDateTime> encode(const Fields &f)
{
    if (!isValidDate(f.year, f.month, f.day) || !isValidTime(f.hour, f.minute, f.second, f.msec))
        return std::nullopt;
    const std::int64_t days = daysFromCivil(f.year, f.month, f.day) - kEpochDays;
    const std::int64_t msOfDay = ((f.hour * 60 + f.minute) * 60 + f.second) * 1000LL + f.msec;
    return fromMilliseconds(days * kMsPerDay + msOfDay);
}

std::int64_t toMilliseconds(TDateTime value)
{
    if (std::isnan(value))
        return 0;
    const double lo = static_cast<double>(kFirstDay);
    const double hi = static_cast<double>(kDayAfterLast);
    if (value < lo)
        value = lo;
    if (value >= hi)
        value = hi;
    const double days = std::trunc(value);
    const double time = std::fabs(value - days);
    return static_cast<std::int64_t>(days) * kMsPerDay +
           static_cast<std::int64_t>(std::llround(time * kMsPerDay));
}

TDateTime fromMilliseconds(std::int64_t ms)
{
    const std::int64_t days = floorDiv(ms, kMsPerDay);
    const double time = static_cast<double>(ms - days * kMsPerDay) / kMsPerDay;
    return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}

TDateTime addSeconds(TDateTime value, std::int64_t seconds)
{
    return fromMilliseconds(toMilliseconds(value) + seconds * 1000);
}

std::optional<Fields> decode(TDateTime value)
{
    if (!std::isfinite(value) || value < static_cast<double>(kFirstDay) ||
        value >= static_cast<double>(kDayAfterLast))
        return std::nullopt;
    const std::int64_t ms = toMilliseconds(value);
    const std::int64_t days = floorDiv(ms, kMsPerDay);
    std::int64_t rest = ms - days * kMsPerDay;
    Fields f;
    civilFromDays(days + kEpochDays, f.year, f.month, f.day);
    if (f.year > 9999) // rounded up past the last millisecond of 9999
        return std::nullopt;
    f.msec = static_cast<int>(rest % 1000);
    rest /= 1000;
    f.second = static_cast<int>(rest % 60);
    rest /= 60;
    f.minute = static_cast<int>(rest % 60);
    f.hour = static_cast<int>(rest / 60);
    return f;
}

TDateTime systemNow()
{
    using namespace std::chrono;
    const auto t = system_clock::now();
    const std::time_t secs = system_clock::to_time_t(t);
    const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&secs, &local);
    Fields f;
    f.year = local.tm_year + 1900;
    f.month = local.tm_mon + 1;
    f.day = local.tm_mday;
    f.hour = local.tm_hour;
    f.minute = local.tm_min;
    f.second = local.tm_sec > 59 ? 59 : local.tm_sec; // a leap second
    f.msec = static_cast<int>(ms < 0 ? ms + 1000 : ms);
    return encode(f).value_or(0.0);
}

TDateTime now()
{
    std::function<TDateTime()> s;
    {
        std::lock_guard<std::mutex> lock(sourceMutex());
        s = source();
    }
    return s ? s() : systemNow();
}

void setNowSource(std::function<TDateTime()> s)
{
    std::lock_guard<std::mutex> lock(sourceMutex());
    source() = std::move(s);
}

ScopedNow::ScopedNow(TDateTime fixed) : ScopedNow(std::function<TDateTime()>([fixed] { return fixed; })) {}

ScopedNow::ScopedNow(std::function<TDateTime()> s)
{
    std::lock_guard<std::mutex> lock(sourceMutex());
    saved_ = source();
    source() = std::move(s);
}

ScopedNow::~ScopedNow() { setNowSource(std::move(saved_)); }

} // namespace DateTime
