#include "platform/CalendarTime.h"

#include <ctime>
#include <limits>

namespace platform {
namespace {
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600LL;
constexpr std::uint64_t kTicksPerSecond = 10000000ULL;
}  // namespace

FileTime FileTimeFromUnix(std::int64_t seconds, std::int32_t nanoseconds)
{
    if (seconds < -kSecondsFrom1601To1970)
        return UnconvertibleFileTime;
    const std::uint64_t since1601 = static_cast<std::uint64_t>(seconds + kSecondsFrom1601To1970);
    if (since1601 > (std::numeric_limits<std::uint64_t>::max() - kTicksPerSecond) / kTicksPerSecond)
        return UnconvertibleFileTime;
    return since1601 * kTicksPerSecond + static_cast<std::uint64_t>(nanoseconds < 0 ? 0 : nanoseconds) / 100u;
}

bool FileTimeToCalendar(FileTime time, CalendarFields& fields)
{
    if (time >= (FileTime{1} << 63))
        return false;
    const std::int64_t unixSeconds = static_cast<std::int64_t>(time / kTicksPerSecond) - kSecondsFrom1601To1970;
    const time_t t = static_cast<time_t>(unixSeconds);
    tm utc{};
    if (gmtime_r(&t, &utc) == nullptr)
        return false;
    fields.year = utc.tm_year + 1900;
    fields.month = utc.tm_mon + 1;
    fields.day = utc.tm_mday;
    fields.hour = utc.tm_hour;
    fields.minute = utc.tm_min;
    fields.second = utc.tm_sec;
    return true;
}

}  // namespace platform
