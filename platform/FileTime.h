#pragma once
// FILETIME arithmetic: 64-bit counts of 100 ns since 1601-01-01 UTC, the unit
// in which every last-write time is carried and compared.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace quarn {

// Seconds from 1601-01-01 to 1970-01-01.
inline constexpr int64_t kFileTimeEpochOffsetSeconds = 11644473600LL;
inline constexpr uint64_t kFileTimeTicksPerSecond = 10000000ULL;
// The latest time a FILETIME holds (in the year 60056).
inline constexpr uint64_t kLastFileTime = UINT64_MAX;

// Converts a POSIX time (seconds may be negative, nanoseconds in [0, 1e9)).
// Times before 1601 clamp to 0, the earliest FILETIME, and times after
// kLastFileTime clamp to it. Every FILETIME the program compares (twin keys,
// the trash's re-check) comes from here, so both sides clamp alike.
uint64_t FileTimeFromUnix(int64_t seconds, long nanoseconds);

// Whole seconds since 1970 (floor), for the C library's calendar calls.
int64_t UnixSecondsFromFileTime(uint64_t fileTime);

// The calendar fields of the time in the user's local time zone, or nothing
// when the C library cannot represent it.
std::optional<std::tm> FileTimeToLocalTime(uint64_t fileTime);

// strftime of the local time with `format`; empty when not representable.
std::string FormatLocalFileTime(uint64_t fileTime, const char* format);

}  // namespace quarn
