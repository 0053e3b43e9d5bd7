// The meter's date and time records and the PC's date/time values.
//
// A Timestamp converts to a date/time value only when every field is in range
// (IsValidTimestamp); an invalid record gives 0.0, and 0.0 converts back to six zero
// bytes, themselves invalid, so an empty date survives being written back. Bytes 6..9
// of a record are never read or written here.
#pragma once

#include "link/DateTime.h"
#include "link/Z960Data.h"

#include <cstdint>

namespace Z960Data {

using TDateTime = DateTime::TDateTime;

bool IsLeapYear(int year);
// Days of a month 1..12; 0 for any other month.
int DaysPerMonth(int year, int month);

// year < 200, month 1..12, day 1..days of that month, hour < 24, minute < 60, second < 60.
bool IsValidTimestamp(const Timestamp &record);

// PC date/time to bytes 0..5 of a record (milliseconds dropped, year - 2000 modulo 256);
// 0.0, and a value that is no calendar date at all (not finite, outside the years
// 1..9999), give six zero bytes.
void decodeTDateTime(TDateTime value, Timestamp *out);
// Record to PC date/time; 0.0 when the record is invalid.
void encodeTDateTime(const Timestamp &record, TDateTime *out);
TDateTime encodeTDateTime(const Timestamp &record);
// Time of day of a record (no date part); 0.0 when its time fields are invalid.
void encodeTTime(const Timestamp &record, TDateTime *out);
TDateTime encodeTTime(const Timestamp &record);

// raw[0..5] to bytes 0..5 of a record, and back (the 6-byte wire order).
void decodeTimestamp(const unsigned char *raw, Timestamp *out);
void encodeTimestamp(const Timestamp *record, unsigned char *raw);

// The meter clock of a status image against the PC clock.
struct StatusClock {
    TDateTime deviceDateTime = 0.0; // 0.0 when the record is invalid
    std::int32_t clockOffset = 0;   // meter minus PC, whole seconds, saturated to 32 bits
    bool clockValid = false;        // the status record held a valid timestamp
};
// d = |now - meter| in whole milliseconds / 1000 (remainder dropped); the offset is -d
// when now is at or after the meter clock, else +d. Computed in 64 bits: an invalid
// record (meter clock 0.0) gives a difference far beyond 32 bits, which saturates.
StatusClock deriveStatusClock(const sStatus &status, TDateTime now);

} // namespace Z960Data
