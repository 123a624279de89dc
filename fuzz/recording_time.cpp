// Arbitrary bytes as the start of a clip, through the reader of the camera's recording time:
// as a transport stream and as a bare H.264 stream. A time it gives must be a possible one.
// The same bytes as the start and as the end of a clip give a duration, if any, of under a day,
// and their frame rate, if any, a picture of at most a second.
#include "model/H264Stream.h"
#include "model/RecordingTime.h"
#include "model/StreamDuration.h"

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
    if (const std::optional<std::uint64_t> ticks = h264::PictureTicks(bytes); ticks && (*ticks == 0 || *ticks > 90000))
        std::abort();
    if (const std::optional<VideoStart> start = FindVideoStart(bytes)) {
        VideoEnd end;
        ScanVideoEnd(bytes.subspan(start->layout.first), *start, end);
        if (const std::optional<double> duration = DurationOf(*start, end); duration && (*duration <= 0 || *duration > 86400))
            std::abort();
    }
    return 0;
}
