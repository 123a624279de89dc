// Arbitrary bytes as the start of a clip, through the reader of the camera's recording time:
// as a transport stream and as a bare H.264 stream. A time it gives must be a possible one.
// The same bytes as the start and as the end of a clip give a duration, if any, of under a day,
// and their frame rate, if any, a picture of at most a second. The bytes are also cut in two
// files read one after the other through the reader of a clip's end, on one thread, as the
// background reader reads a folder whose clips have different packet layouts.
#include "model/RecordingTime.h"
#include "model/StreamDuration.h"
#include "platform/H264Stream.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
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

void CheckDuration(const std::optional<double>& duration)
{
    if (duration && (*duration <= 0 || *duration > 86400))
        std::abort();
}

// The duration of a clip held in a file of its own, read as the background reader reads one.
void ReadAsAFile(std::span<const std::uint8_t> clip)
{
    const std::optional<VideoStart> start = FindVideoStart(clip);
    if (!start)
        return;
    static const int fd = memfd_create("clip", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, clip.data(), clip.size(), 0) != static_cast<ssize_t>(clip.size()))
        std::abort();
    CheckDuration(ReadStreamDuration(fd, clip.size(), *start));
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
        CheckDuration(DurationOf(*start, end));
    }
    // The first two bytes say where the first file ends.
    if (size > 2) {
        const std::size_t cut = std::min<std::size_t>(size - 2, (std::size_t{data[0]} << 8 | data[1]) * 64);
        ReadAsAFile(bytes.subspan(2, cut));
        ReadAsAFile(bytes.subspan(2 + cut));
    }
    return 0;
}
