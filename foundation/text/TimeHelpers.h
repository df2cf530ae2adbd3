#pragma once

// Conversions between Unix seconds and Windows file times, and the current
// Unix time. No state, no locks: any thread may call them.

#include <cstdint>

// A Windows FILETIME: 100-nanosecond intervals since 1601-01-01 00:00 UTC.
// This is the form the file records store.
using FileTime = std::uint64_t;

// Intervals between 1601-01-01 and 1970-01-01.
inline constexpr FileTime FileTimeEpochOffset = 116444736000000000ULL;
// Intervals in one second.
inline constexpr FileTime FileTimeTicksPerSecond = 10000000ULL;

// The current Unix time (whole seconds of the system clock), truncated to
// 32 bits.
std::int32_t UnixTimeNow();

// seconds * 10^7 + the epoch offset, in wrapping 64-bit arithmetic; times
// before 1970 are accepted (-1 gives the offset minus 10^7). Never fails.
FileTime UnixTimeToFileTime(std::int64_t seconds);

// (fileTime - the epoch offset) / 10^7 on unsigned 64-bit numbers, sub-second
// intervals dropped, the quotient truncated to its low 32 bits. Times before
// 1970 or after 2038 give wrapped values. Never fails.
std::int32_t FileTimeToUnixTime(FileTime fileTime);
