#include "link/DeviceTime.h"

#include <cstdlib>
#include <limits>

namespace Z960Data {

bool IsLeapYear(int year) { return DateTime::isLeapYear(year); }

int DaysPerMonth(int year, int month) { return DateTime::daysInMonth(year, month); }

bool IsValidTimestamp(const Timestamp &r)
{
    // The month is tested first: DaysPerMonth is only asked about months 1..12.
    if (r.year() >= 200 || r.month() < 1 || r.month() > 12)
        return false;
    return r.day() >= 1 && r.day() <= DaysPerMonth(2000 + r.year(), r.month()) && r.hour() < 24 &&
           r.minute() < 60 && r.second() < 60;
}

void decodeTDateTime(TDateTime value, Timestamp *out)
{
    if (out == nullptr)
        return;
    const auto f = value == 0.0 ? std::nullopt : DateTime::decode(value);
    out->setYear(f ? static_cast<std::uint8_t>(f->year - 2000) : 0);
    out->setMonth(f ? static_cast<std::uint8_t>(f->month) : 0);
    out->setDay(f ? static_cast<std::uint8_t>(f->day) : 0);
    out->setHour(f ? static_cast<std::uint8_t>(f->hour) : 0);
    out->setMinute(f ? static_cast<std::uint8_t>(f->minute) : 0);
    out->setSecond(f ? static_cast<std::uint8_t>(f->second) : 0);
}

TDateTime encodeTDateTime(const Timestamp &r)
{
    if (!IsValidTimestamp(r))
        return 0.0;
    DateTime::Fields f;
    f.year = 2000 + r.year();
    f.month = r.month();
    f.day = r.day();
    f.hour = r.hour();
    f.minute = r.minute();
    f.second = r.second();
    f.msec = 0;
    return DateTime::encode(f).value_or(0.0);
}

void encodeTDateTime(const Timestamp &record, TDateTime *out)
{
    if (out != nullptr)
        *out = encodeTDateTime(record);
}

TDateTime encodeTTime(const Timestamp &record)
{
    Timestamp timeOnly = record;
    timeOnly.setYear(0);
    timeOnly.setMonth(1);
    timeOnly.setDay(1);
    if (!IsValidTimestamp(timeOnly))
        return 0.0;
    return DateTime::encodeTime(record.hour(), record.minute(), record.second(), 0).value_or(0.0);
}

void encodeTTime(const Timestamp &record, TDateTime *out)
{
    if (out != nullptr)
        *out = encodeTTime(record);
}

void decodeTimestamp(const unsigned char *raw, Timestamp *out)
{
    if (raw != nullptr && out != nullptr)
        std::memcpy(out->data(), raw, sTimestamp::kSize);
}

void encodeTimestamp(const Timestamp *record, unsigned char *raw)
{
    if (record != nullptr && raw != nullptr)
        std::memcpy(raw, record->data(), sTimestamp::kSize);
}

StatusClock deriveStatusClock(const sStatus &status, TDateTime now)
{
    StatusClock c;
    const Timestamp record = status.dateTime();
    c.clockValid = IsValidTimestamp(record);
    c.deviceDateTime = encodeTDateTime(record);
    const std::int64_t nowMs = DateTime::toMilliseconds(now);
    const std::int64_t meterMs = DateTime::toMilliseconds(c.deviceDateTime);
    const std::int64_t d = std::llabs(nowMs - meterMs) / 1000;
    const std::int64_t offset = nowMs >= meterMs ? -d : d;
    constexpr std::int64_t lo = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t hi = std::numeric_limits<std::int32_t>::max();
    c.clockOffset = static_cast<std::int32_t>(offset < lo ? lo : (offset > hi ? hi : offset));
    return c;
}

} // namespace Z960Data
