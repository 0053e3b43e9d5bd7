// Date/time values, the meter's timestamp records and the meter clock offset.
#include "link/DateTime.h"
#include "link/DeviceTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using namespace Z960Data;

namespace {

Timestamp record(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    Timestamp t;
    t.setYear(static_cast<std::uint8_t>(year));
    t.setMonth(static_cast<std::uint8_t>(month));
    t.setDay(static_cast<std::uint8_t>(day));
    t.setHour(static_cast<std::uint8_t>(hour));
    t.setMinute(static_cast<std::uint8_t>(minute));
    t.setSecond(static_cast<std::uint8_t>(second));
    return t;
}

double at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    return DateTime::encode({y, mo, d, h, mi, s, ms}).value();
}

} // namespace

TEST(DataTime, LeapYearsAndMonthLengths)
{
    struct Case {
        int year, month, days;
    };
    const Case cases[] = {
        {2024, 2, 29}, {2000, 2, 29}, {2100, 2, 28}, {2023, 2, 28}, {1900, 2, 28}, {2400, 2, 29},
        {2023, 1, 31}, {2023, 4, 30}, {2023, 12, 31},
        {2023, 0, 0},  {2023, 13, 0}, {2023, -1, 0}, {2023, 255, 0}, // no month: no days
    };
    for (const Case &c : cases) {
        EXPECT_EQ(DaysPerMonth(c.year, c.month), c.days) << c.year << "-" << c.month;
    }
    EXPECT_TRUE(IsLeapYear(2024));
    EXPECT_TRUE(IsLeapYear(2000));
    EXPECT_FALSE(IsLeapYear(2100));
    EXPECT_FALSE(IsLeapYear(2023));
}

TEST(DataTime, RecordValidity)
{
    struct Case {
        const char *what;
        Timestamp rec;
        bool valid;
    };
    const Case cases[] = {
        {"29 Feb 2024", record(24, 2, 29), true},
        {"29 Feb 2000", record(0, 2, 29), true},
        {"29 Feb 2100", record(100, 2, 29), false},
        {"29 Feb 2023", record(23, 2, 29), false},
        {"last valid moment", record(199, 12, 31, 23, 59, 59), true},
        {"year 200", record(200, 1, 1), false},
        {"month 0", record(24, 0, 1), false},
        {"month 13", record(24, 13, 1), false},
        {"day 0", record(24, 1, 0), false},
        {"31 April", record(24, 4, 31), false},
        {"hour 24", record(24, 1, 1, 24), false},
        {"minute 60", record(24, 1, 1, 0, 60), false},
        {"second 60", record(24, 1, 1, 0, 0, 60), false},
        {"all zero", Timestamp(), false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(IsValidTimestamp(c.rec), c.valid) << c.what;
        if (!c.valid) {
            EXPECT_EQ(encodeTDateTime(c.rec), 0.0) << c.what;
        }
    }
    // The reserved bytes are not looked at.
    Timestamp t = record(24, 2, 29, 1, 2, 3);
    for (int i = 6; i < 10; ++i)
        t.data()[i] = 0xFF;
    EXPECT_TRUE(IsValidTimestamp(t));
}

TEST(DataTime, RecordToDateTime)
{
    EXPECT_EQ(encodeTDateTime(record(0, 1, 1)), 36526.0); // 1 January 2000
    EXPECT_EQ(encodeTDateTime(record(24, 2, 29)), 45351.0);
    EXPECT_DOUBLE_EQ(encodeTDateTime(record(24, 2, 29, 18, 0, 0)), 45351.75);
    double out = -1.0;
    encodeTDateTime(Timestamp(), &out);
    EXPECT_EQ(out, 0.0);

    // Time of day only: the date bytes do not count, bad time bytes give 0.0.
    EXPECT_DOUBLE_EQ(encodeTTime(record(250, 0, 99, 6, 0, 0)), 0.25);
    EXPECT_EQ(encodeTTime(record(24, 1, 1, 24, 0, 0)), 0.0);
    encodeTTime(record(24, 1, 1, 12, 0, 0), &out);
    EXPECT_DOUBLE_EQ(out, 0.5);
}

TEST(DataTime, DateTimeToRecord)
{
    Timestamp t = record(1, 2, 3, 4, 5, 6);
    for (int i = 6; i < 10; ++i)
        t.data()[i] = static_cast<std::uint8_t>(0xA0 + i);

    decodeTDateTime(0.0, &t); // empty date: six zero bytes, reserved bytes kept
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(t.data()[i], 0) << i;
    for (int i = 6; i < 10; ++i)
        EXPECT_EQ(t.data()[i], 0xA0 + i) << i;
    EXPECT_EQ(encodeTDateTime(t), 0.0); // and the empty date stays empty

    decodeTDateTime(at(2024, 2, 29, 13, 14, 15, 999), &t); // milliseconds dropped
    EXPECT_EQ(t, [] {
        Timestamp e = record(24, 2, 29, 13, 14, 15);
        for (int i = 6; i < 10; ++i)
            e.data()[i] = static_cast<std::uint8_t>(0xA0 + i);
        return e;
    }());

    decodeTDateTime(at(1999, 12, 31, 23, 0, 0), &t); // before 2000: year modulo 256
    EXPECT_EQ(t.year(), 255);
    EXPECT_EQ(encodeTDateTime(t), 0.0);

    // No calendar date at all: stored as the empty date rather than garbage.
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), -1e12, 1e12}) {
        decodeTDateTime(bad, &t);
        EXPECT_EQ(t.month(), 0) << bad;
        EXPECT_EQ(t.year(), 0) << bad;
    }
}

// Every day from 2000 to 2199, at a changing time, survives record -> value -> record.
TEST(DataTime, CodecRoundTripsOverTheWholeRange)
{
    int checked = 0;
    for (int y = 0; y < 200; ++y)
        for (int m = 1; m <= 12; ++m)
            for (int d = 1; d <= DaysPerMonth(2000 + y, m); ++d) {
                const Timestamp rec = record(y, m, d, (d + m) % 24, (y + d) % 60, (y * 7 + d) % 60);
                const double v = encodeTDateTime(rec);
                ASSERT_NE(v, 0.0);
                Timestamp back;
                decodeTDateTime(v, &back);
                ASSERT_EQ(back, rec) << 2000 + y << "-" << m << "-" << d;
                ++checked;
            }
    // One value per calendar day, no gaps and no doubles.
    EXPECT_EQ(encodeTDateTime(record(0, 1, 1)) + checked, encodeTDateTime(record(199, 12, 31)) + 1);
}

TEST(DataTime, MillisecondRoundingAndNegativeDays)
{
    // Rounded to the nearest millisecond, carrying into the next day.
    const auto f = DateTime::decode(45351.0 - 1e-10).value();
    EXPECT_EQ(f.day, 29);
    EXPECT_EQ(f.hour, 0);
    const auto g = DateTime::decode(at(2024, 2, 28, 23, 59, 59, 999) + 0.4 / 86400000.0).value();
    EXPECT_EQ(g.msec, 999);

    // Before 30 December 1899 the day counts back and the fraction is still the time of day.
    const auto h = DateTime::decode(-1.25).value();
    EXPECT_EQ(h.year, 1899);
    EXPECT_EQ(h.month, 12);
    EXPECT_EQ(h.day, 29);
    EXPECT_EQ(h.hour, 6);
    EXPECT_EQ(DateTime::toMilliseconds(-1.25), -DateTime::kMsPerDay + DateTime::kMsPerDay / 4);
    EXPECT_EQ(DateTime::fromMilliseconds(-DateTime::kMsPerDay + DateTime::kMsPerDay / 4), -1.25);
    EXPECT_DOUBLE_EQ(DateTime::addSeconds(-0.0, -6 * 3600), -1.75);

    EXPECT_FALSE(DateTime::decode(std::nan("")).has_value());
    EXPECT_FALSE(DateTime::encode({2023, 2, 29, 0, 0, 0, 0}).has_value());
    EXPECT_FALSE(DateTime::encode({2023, 1, 1, 0, 0, 0, 1000}).has_value());
    EXPECT_EQ(DateTime::encodeDate(1899, 12, 30), 0.0);
}

TEST(DataTime, InjectableNow)
{
    {
        DateTime::ScopedNow fixed(45351.5);
        EXPECT_EQ(DateTime::now(), 45351.5);
        {
            DateTime::ScopedNow inner(1.0);
            EXPECT_EQ(DateTime::now(), 1.0);
        }
        EXPECT_EQ(DateTime::now(), 45351.5);
    }
    // The PC clock again: within a day of the system's own reading.
    EXPECT_NEAR(DateTime::now(), DateTime::systemNow(), 1.0);
    EXPECT_GT(DateTime::now(), at(2020, 1, 1));
}

TEST(DataTime, ClockOffsetFromStatus)
{
    const Timestamp meter = record(24, 6, 15, 12, 0, 0);
    const std::int64_t meterMs = DateTime::toMilliseconds(encodeTDateTime(meter));
    struct Case {
        const char *what;
        std::int64_t nowMinusMeterMs;
        std::int32_t offset;
    };
    const Case cases[] = {
        {"meter 10 s ahead", -10000, 10}, {"meter 10 s behind", 10000, -10},
        {"equal", 0, 0},                  {"meter 1.5 s ahead", -1500, 1},
        {"meter 1.5 s behind", 1500, -1}, {"meter 0.999 s ahead", -999, 0},
        {"a day behind", 86400000, -86400},
    };
    sStatus status;
    status.setDateTime(meter);
    for (const Case &c : cases) {
        const StatusClock clock =
            deriveStatusClock(status, DateTime::fromMilliseconds(meterMs + c.nowMinusMeterMs));
        EXPECT_TRUE(clock.clockValid) << c.what;
        EXPECT_EQ(clock.deviceDateTime, encodeTDateTime(meter)) << c.what;
        EXPECT_EQ(clock.clockOffset, c.offset) << c.what;
    }
}

// An invalid meter clock lies about four billion seconds from today: the offset
// saturates instead of wrapping, and the record is reported invalid.
TEST(DataTime, ClockOffsetWithAnInvalidRecordSaturates)
{
    sStatus status; // all zero: month 0
    const StatusClock c = deriveStatusClock(status, at(2026, 12, 10, 9, 0, 0));
    EXPECT_FALSE(c.clockValid);
    EXPECT_EQ(c.deviceDateTime, 0.0);
    EXPECT_EQ(c.clockOffset, std::numeric_limits<std::int32_t>::min());

    status.setDateTime(record(199, 12, 31, 23, 59, 59)); // far ahead of a PC in 1950
    const StatusClock ahead = deriveStatusClock(status, at(1950, 1, 1));
    EXPECT_TRUE(ahead.clockValid);
    EXPECT_EQ(ahead.clockOffset, std::numeric_limits<std::int32_t>::max());

    Timestamp bad = record(24, 2, 30); // invalid day
    status.setDateTime(bad);
    const StatusClock invalid = deriveStatusClock(status, 0.0);
    EXPECT_FALSE(invalid.clockValid);
    EXPECT_EQ(invalid.clockOffset, 0);
}

TEST(DataTime, RawWireOrder)
{
    const unsigned char raw[6] = {24, 2, 29, 23, 59, 58};
    Timestamp t;
    t.data()[6] = 0x77;
    decodeTimestamp(raw, &t);
    EXPECT_EQ(t.day(), 29);
    EXPECT_EQ(t.second(), 58);
    EXPECT_EQ(t.data()[6], 0x77);
    unsigned char out[7] = {0, 0, 0, 0, 0, 0, 0xCC};
    encodeTimestamp(&t, out);
    EXPECT_EQ(std::memcmp(out, raw, 6), 0);
    EXPECT_EQ(out[6], 0xCC);
}
