// Arbitrary bytes as the start of a clip, through the reader of the camera's recording time:
// as a transport stream and as a bare H.264 stream. A time it gives must be a possible one.
#include "model/RecordingTime.h"

#include <cstdlib>

namespace {

void CheckPossible(const RecordingTimeScan& scan)
{
    if (!scan.time)
        return;
    const RecordingTime& t = *scan.time;
    if (!scan.settled || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 ||
        t.second > 59 || t.zoneMinutes < -15 * 60 - 30 || t.zoneMinutes > 15 * 60 + 30)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    CheckPossible(ScanRecordingTime(bytes));
    CheckPossible(ScanVideoStream(bytes));
    return 0;
}
