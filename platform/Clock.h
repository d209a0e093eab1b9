// The clocks and the local time zone: monotonic milliseconds and ticks, sleeping, and calendar fields in UTC
// or local time. Calendar fields are seven int16_t values: year, month (1-12), day (1-31), hour (0-23),
// minute, second, millisecond. The local zone is the C library's (TZ honoured, tzdata rules).
#pragma once

#include <cstdint>

namespace plat {

// Milliseconds of the monotonic clock (it does not count time spent suspended).
uint64_t GetMonotonicMilliseconds();
// The same as the last tick of the system's timer left it (a few milliseconds behind at most), for a caller
// that asks very often and needs no more: it costs a fraction of a full reading.
uint64_t GetCoarseMonotonicMilliseconds();

// Ticks of 1/60 second of the same clock; wraps around at 2^32.
uint32_t GetMonotonicTicks();

// Nanoseconds of the monotonic clock, the profiling counter (it counts 10^9 per second).
uint64_t GetMonotonicNanoseconds();

// Whole seconds since the machine booted, time spent suspended included; -1 when unreadable.
int64_t GetSecondsSinceBoot();

// Sleeps the calling thread for ms milliseconds, resuming after signals until the whole time has passed.
// Zero or a negative ms returns at once.
void SleepMilliseconds(int32_t ms);

// Seconds since 1970-01-01 00:00:00 UTC, from the real-time clock.
int64_t GetCalendarSeconds();
// Nanoseconds since 1970-01-01 00:00:00 UTC, from the real-time clock (which may step back when it is set).
int64_t GetCalendarNanoseconds();

// The current date and time, all seven fields, in UTC or in the local zone. The UTC form takes no lock.
void GetUTCNowFields(int16_t* fields);
void GetLocalNowFields(int16_t* fields);

// The first six fields of a second since 1970 in UTC, by arithmetic alone (gmtime_r takes the C library's
// time-zone lock); false, fields unchanged, when the year leaves the int16 range.
bool UTCSecondsToFields(int64_t seconds, int16_t* fields);

// Convert the first six fields in place between UTC and the local zone; the millisecond is not touched.
// Out-of-range fields are normalized (month 13 is January of the next year). A local time skipped by a
// daylight-saving change reads with the offset in force before it (so it moves forward by the shift); a local
// time that happens twice reads as its later occurrence. False, fields unchanged, when the date cannot be
// represented (the year leaves the int16 range).
bool UTCFieldsToLocal(int16_t* fields);
bool LocalFieldsToUTC(int16_t* fields);

// The local zone's offset from UTC in seconds (positive east of UTC) at the given instant, and whether daylight
// saving is in force then. False when the C library cannot break the instant down.
bool GetUTCOffsetAt(int64_t seconds, int32_t* offset, bool* daylight);

// The local zone's standard offset from UTC in seconds (positive east of UTC), as the C library keeps it.
int32_t GetStandardUTCOffset();

// The first instant after fromSeconds at which the local offset or daylight-saving state differs from the one
// in force at fromSeconds; limitSeconds when there is none before it. Changes less than a day apart may be seen
// as one.
int64_t FindNextUTCOffsetChange(int64_t fromSeconds, int64_t limitSeconds);

// Makes the C library read TZ and the zone files again (after TZ or the system zone changed).
void ReloadTimeZone();

}  // namespace plat
