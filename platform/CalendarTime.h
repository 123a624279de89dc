#pragma once
#include <cstdint>

namespace platform {

// A file time as the listing reports it on the other platform this program's data comes from:
// 100-nanosecond intervals since 1 January 1601, UTC.
using FileTime = std::uint64_t;

// Converts a Unix modification time. A time before 1601 cannot be represented and gives a value
// that no conversion accepts (UnconvertibleFileTime).
FileTime FileTimeFromUnix(std::int64_t seconds, std::int32_t nanoseconds);
inline constexpr FileTime UnconvertibleFileTime = ~FileTime{0};

// UTC calendar fields; month 1..12. All zero when a conversion fails.
struct CalendarFields {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Fills the fields from a file time without any conversion to local time. Fails, leaving the
// fields untouched, for times at or above 2^63 (as the classic conversion does).
bool FileTimeToCalendar(FileTime time, CalendarFields& fields);

}  // namespace platform
