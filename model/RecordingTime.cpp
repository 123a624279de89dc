#include "model/RecordingTime.h"

#include "log/EventLog.h"
#include "platform/H264Stream.h"
#include "model/StreamDuration.h"
#include "platform/TransportStream.h"
#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::array<std::uint8_t, 16> kMdpmUuid = {0x17, 0xee, 0x8c, 0x60, 0xf8, 0x4d, 0x11, 0xd9,
                                                     0x8c, 0xd6, 0x08, 0x00, 0x20, 0x0c, 0x9a, 0x66};
constexpr std::uint8_t kMdpmSignature[] = {'M', 'D', 'P', 'M'};
constexpr std::uint8_t kTagZoneYearMonth = 0x18;
constexpr std::uint8_t kTagDayTime = 0x19;
constexpr std::size_t kEntrySize = 5;
constexpr int kSeiUserDataUnregistered = 5;

// The camera's date is normally within the first few packets: one 16 KB read settles almost
// every clip, and only a clip without it costs the whole read limit.
constexpr std::size_t kFirstRead = 16 * 1024;

const RecordingTimeScan kDamaged{std::nullopt, true};

std::optional<int> FromBcd(std::uint8_t byte)
{
    const int high = byte >> 4, low = byte & 0x0f;
    if (high > 9 || low > 9)
        return std::nullopt;
    return high * 10 + low;
}

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// The two date entries' data bytes as a time, or nothing when any field is not a possible value.
std::optional<RecordingTime> DecodeDate(const std::uint8_t* zoneYearMonth, const std::uint8_t* dayTime)
{
    const auto yearHigh = FromBcd(zoneYearMonth[1]), yearLow = FromBcd(zoneYearMonth[2]);
    const auto month = FromBcd(zoneYearMonth[3]);
    const auto day = FromBcd(dayTime[0]), hour = FromBcd(dayTime[1]);
    const auto minute = FromBcd(dayTime[2]), second = FromBcd(dayTime[3]);
    if (!yearHigh || !yearLow || !month || !day || !hour || !minute || !second)
        return std::nullopt;
    RecordingTime time;
    time.year = *yearHigh * 100 + *yearLow;
    time.month = *month;
    time.day = *day;
    time.hour = *hour;
    time.minute = *minute;
    time.second = *second;
    if (time.month < 1 || time.month > 12 || time.day < 1 || time.day > DaysInMonth(time.year, time.month) ||
        time.hour > 23 || time.minute > 59 || time.second > 59)
        return std::nullopt;
    const std::uint8_t zone = zoneYearMonth[0];
    const int minutes = ((zone >> 1) & 0x0f) * 60 + ((zone & 0x01) != 0 ? 30 : 0);
    time.zoneMinutes = (zone & 0x20) != 0 ? -minutes : minutes;
    time.daylightSaving = (zone & 0x40) != 0;
    return time;
}

// One user-data payload. `cutByEnd`: the bytes ended inside it, so more bytes may complete it.
RecordingTimeScan ScanUserData(Bytes payload, bool shortened, bool cutByEnd)
{
    const std::size_t header = kMdpmUuid.size() + sizeof kMdpmSignature;
    if (payload.size() <= header || !std::equal(kMdpmUuid.begin(), kMdpmUuid.end(), payload.begin()) ||
        !std::equal(std::begin(kMdpmSignature), std::end(kMdpmSignature), payload.begin() + kMdpmUuid.size()))
        return {};
    if (cutByEnd)
        return {};
    // The count is a claim: entries are read only as far as the payload really goes.
    const std::size_t claimed = payload[header];
    const std::size_t present = (payload.size() - header - 1) / kEntrySize;
    const std::uint8_t* zoneYearMonth = nullptr;
    const std::uint8_t* dayTime = nullptr;
    for (std::size_t i = 0; i < std::min(claimed, present); ++i) {
        const std::uint8_t* entry = payload.data() + header + 1 + i * kEntrySize;
        if (entry[0] == kTagZoneYearMonth && zoneYearMonth == nullptr)
            zoneYearMonth = entry + 1;
        else if (entry[0] == kTagDayTime && dayTime == nullptr)
            dayTime = entry + 1;
    }
    if (zoneYearMonth == nullptr)
        return {};  // metadata without a date: a later one may hold it
    if (dayTime == nullptr || shortened || claimed > present)
        return kDamaged;
    return {DecodeDate(zoneYearMonth, dayTime), true};
}

// ff-coded value of an SEI message header (a run of 0xFF bytes, each adding 255, then the rest).
std::optional<std::size_t> ReadSeiValue(Bytes rbsp, std::size_t& pos)
{
    std::size_t value = 0;
    while (pos < rbsp.size() && rbsp[pos] == 0xff) {
        value += 255;
        ++pos;
    }
    if (pos >= rbsp.size())
        return std::nullopt;
    return value + rbsp[pos++];
}

// The SEI messages of one NAL unit's payload with emulation prevention undone. `complete`: the
// unit ended at a start code, not at the end of the bytes.
RecordingTimeScan ScanSeiMessages(Bytes rbsp, bool complete)
{
    std::size_t pos = 1;  // the NAL header
    while (pos < rbsp.size() && !(rbsp.size() - pos == 1 && rbsp[pos] == 0x80)) {
        const auto type = ReadSeiValue(rbsp, pos);
        const auto size = type ? ReadSeiValue(rbsp, pos) : std::nullopt;
        if (!size)
            return {};
        const std::size_t available = rbsp.size() - pos;
        const bool shortened = *size > available;
        if (*type == kSeiUserDataUnregistered) {
            const RecordingTimeScan scan =
                ScanUserData(rbsp.subspan(pos, std::min(*size, available)), shortened, shortened && !complete);
            if (scan.settled)
                return scan;
        }
        if (shortened)
            return {};
        pos += *size;
    }
    return {};
}

// The bytes [begin, end) of one NAL unit; an SEI unit is read for the date.
RecordingTimeScan ScanUnit(Bytes stream, std::size_t begin, std::size_t end, bool complete)
{
    while (complete && end > begin && stream[end - 1] == 0)
        --end;  // the zero byte of a four-byte start code belongs to no unit
    if (end <= begin || (stream[begin] & 0x1f) != h264::kNalTypeSei)
        return {};
    return ScanSeiMessages(h264::Unescape(stream.subspan(begin, end - begin)), complete);
}

// Walks the NAL units of an H.264 byte stream that may still grow, looking at each byte once,
// so the date in the first few packets is found without going through the rest.
class UnitScanner {
public:
    // Scans the units completed since the last call.
    RecordingTimeScan Continue(Bytes stream)
    {
        for (;;) {
            const std::size_t code = h264::FindStartCode(stream, searchFrom_);
            if (code == stream.size()) {
                // A start code may yet begin in the last two bytes.
                searchFrom_ = std::max(searchFrom_, stream.size() >= 2 ? stream.size() - 2 : 0);
                return {};
            }
            if (unitStart_ != kNone) {
                const RecordingTimeScan scan = ScanUnit(stream, unitStart_, code, true);
                if (scan.settled)
                    return scan;
            }
            unitStart_ = code + 3;
            searchFrom_ = unitStart_;
        }
    }
    // Scans the last unit, which the end of the bytes cut off.
    RecordingTimeScan Finish(Bytes stream) const
    {
        return unitStart_ < stream.size() ? ScanUnit(stream, unitStart_, stream.size(), false) : RecordingTimeScan{};
    }

private:
    static constexpr std::size_t kNone = ~std::size_t{0};
    std::size_t unitStart_ = kNone;
    std::size_t searchFrom_ = 0;
};

// Takes the video elementary stream out of transport packets: the payloads of the first PID
// whose packetised stream carries video (stream ids 0xE0..0xEF), without their PES headers.
class VideoDemux {
public:
    // Appends what the packet adds to the video stream; false when it adds nothing.
    bool Add(const std::uint8_t* bytes, std::vector<std::uint8_t>& video)
    {
        const ts::Packet packet = ts::ReadPacket(bytes);
        if (!packet.usable || (videoPid_ && packet.pid != *videoPid_))
            return false;
        const std::uint8_t* payload = packet.payload;
        std::size_t length = packet.payloadBytes;
        if (packet.unitStart) {
            const std::optional<ts::PesHeader> pes = ts::ReadPesHeader(payload, length);
            inPes_ = pes && pes->video;
            if (!inPes_)
                return false;
            videoPid_ = packet.pid;
            payload += pes->headerBytes;
            length -= pes->headerBytes;
        }
        if (!inPes_)
            return false;
        video.insert(video.end(), payload, payload + length);
        return true;
    }

private:
    std::optional<unsigned> videoPid_;
    bool inPes_ = false;
};

RecordingTimeScan ScanTransportStream(Bytes bytes, const ts::PacketLayout& layout)
{
    std::vector<std::uint8_t> video;
    video.reserve(bytes.size());
    VideoDemux demux;
    UnitScanner units;
    for (std::size_t at = layout.first; at + ts::kPacketBytes <= bytes.size(); at += layout.stride) {
        if (!demux.Add(bytes.data() + at, video))
            continue;
        const RecordingTimeScan scan = units.Continue(video);
        if (scan.settled)
            return scan;
    }
    return units.Finish(video);
}

}  // namespace

platform::CalendarFields RecordingTime::WallClock() const
{
    platform::CalendarFields fields;
    fields.year = year;
    fields.month = month;
    fields.day = day;
    fields.hour = hour;
    fields.minute = minute;
    fields.second = second;
    return fields;
}

RecordingTimeScan ScanVideoStream(Bytes stream)
{
    UnitScanner units;
    const RecordingTimeScan scan = units.Continue(stream);
    return scan.settled ? scan : units.Finish(stream);
}

RecordingTimeScan ScanRecordingTime(Bytes bytes)
{
    if (const std::optional<ts::PacketLayout> layout = ts::DetectLayout(bytes))
        return ScanTransportStream(bytes, *layout);
    return ScanVideoStream(bytes);
}

ClipStreamFacts ReadClipStreamFacts(const std::string& clipPath, bool withDuration)
{
    ClipStreamFacts facts;
    // A descriptor, not a stream: reading thousands of clips is mostly opening them.
    const platform::FileDescriptor file = platform::OpenRegularDescriptor(clipPath);
    struct stat info {};
    if (!file || fstat(file.Get(), &info) != 0)
        return facts;
    const int fd = file.Get();
    // Only what is asked for is read: read ahead, a card would be kept busy with bytes no one
    // wants (the kernel would read a clip's start twice over).
    posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    bool failed = false;
    std::vector<std::uint8_t> bytes(kFirstRead);
    std::size_t got = platform::ReadAt(fd, bytes.data(), bytes.size(), 0, failed);
    RecordingTimeScan scan = ScanRecordingTime({bytes.data(), got});
    std::optional<VideoStart> start = withDuration ? FindVideoStart({bytes.data(), got}) : std::nullopt;
    // A file that starts in the middle of a picture (the second file of a split recording) may
    // show its first PES header only further in.
    if (!failed && (!scan.settled || (withDuration && !start)) && got == kFirstRead) {
        bytes.resize(kRecordingTimeReadLimit);
        got += platform::ReadAt(fd, bytes.data() + got, bytes.size() - got, got, failed);
        if (!scan.settled)
            scan = ScanRecordingTime({bytes.data(), got});
        if (withDuration && !start)
            start = FindVideoStart({bytes.data(), got});
    }
    // Cut short by an error (a pulled card), the bytes say nothing about the clip.
    if (failed && !scan.time)
        return facts;
    facts.read = true;
    facts.time = scan.time;
    if (scan.settled && !scan.time)
        LogEvent("Recording time in [%s] is damaged; its file time is shown", clipPath.c_str());
    if (start)
        facts.duration = ReadStreamDuration(fd, static_cast<std::uint64_t>(info.st_size), *start);
    return facts;
}

std::optional<RecordingTime> ReadRecordingTime(const std::string& clipPath)
{
    return ReadClipStreamFacts(clipPath).time;
}
