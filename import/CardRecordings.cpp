#include "import/CardRecordings.h"

#include "model/AVCHDDoc.h"
#include "model/ClipFacts.h"
#include "model/ClipDetails.h"
#include "platform/Format.h"

std::uint64_t CardRecording::Size() const
{
    std::uint64_t size = 0;
    for (const std::uint64_t part : partSizes)
        size += part;
    return size;
}

std::string CardRecording::Label() const
{
    if (parts.empty())
        return {};
    const std::size_t slash = parts.front().rfind('/');
    return slash == std::string::npos ? parts.front() : parts.front().substr(slash + 1);
}

std::string CardRecording::Extension() const
{
    const std::string name = Label();
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return {};
    std::string extension = name.substr(dot);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return extension;
}

std::string CardRecording::RecordedText() const
{
    if (!recorded)
        return {};
    const RecordingTime& t = *recorded;
    const int offset = t.OffsetMinutes() < 0 ? -t.OffsetMinutes() : t.OffsetMinutes();
    return platform::FormatString("%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month, t.day, t.hour,
                                  t.minute, t.second, t.OffsetMinutes() < 0 ? '-' : '+', offset / 60, offset % 60);
}

NameTime CardRecording::TimeForName() const
{
    NameTime time;
    if (recorded) {
        std::tm& f = time.fields;
        f.tm_year = recorded->year - 1900;
        f.tm_mon = recorded->month - 1;
        f.tm_mday = recorded->day;
        f.tm_hour = recorded->hour;
        f.tm_min = recorded->minute;
        f.tm_sec = recorded->second;
        const std::int64_t wallClock = timegm(&f);  // also fills in the weekday and the day of the year
        const long offset = recorded->OffsetMinutes() * 60L;
        f.tm_gmtoff = offset;
        f.tm_isdst = recorded->daylightSaving ? 1 : 0;
        f.tm_zone = nullptr;
        time.unixSeconds = wallClock - offset;
        return time;
    }
    const time_t seconds = static_cast<time_t>(fileSeconds);
    localtime_r(&seconds, &time.fields);
    time.unixSeconds = fileSeconds;
    return time;
}

void CardRecording::ReadTime()
{
    if (timeRead || parts.empty())
        return;
    recorded = ReadClipFacts(parts.front()).time;
    timeRead = true;
}

std::optional<CardRecording> RecordingOfClip(const CClipDetails& clips, int index)
{
    const CClipDetails::ClipEntry* entry = clips.GetEntry(index);
    if (entry == nullptr)
        return std::nullopt;
    const int first = entry->continues >= 0 ? entry->continues : index;
    const CClipDetails::ClipEntry* head = clips.GetEntry(first);
    if (head == nullptr)
        return std::nullopt;
    CardRecording recording;
    std::vector<int> slots{first};
    slots.insert(slots.end(), head->continuations.begin(), head->continuations.end());
    for (const int slot : slots) {
        const CClipDetails::ClipEntry* part = clips.GetEntry(slot);
        std::string path;
        if (part == nullptr || !clips.GetClipPath(slot, path))
            return std::nullopt;
        recording.parts.push_back(path);
        recording.partSizes.push_back(part->Size());
    }
    if (head->recorded) {
        recording.recorded = head->recorded;
        recording.timeRead = true;
    }
    // The listing's time, in 100 ns since 1601.
    constexpr std::uint64_t kTicksPerSecond = 10000000, kSecondsFrom1601To1970 = 11644473600;
    if (head->lastWriteTime != platform::UnconvertibleFileTime) {
        recording.fileSeconds = static_cast<std::int64_t>(head->lastWriteTime / kTicksPerSecond) -
                                static_cast<std::int64_t>(kSecondsFrom1601To1970);
        recording.fileNanoseconds = static_cast<std::int32_t>(head->lastWriteTime % kTicksPerSecond * 100);
    }
    return recording;
}

std::vector<CardRecording> FindCardRecordings(const std::string& folder)
{
    CAVCHDDoc document;
    document.ScanFolder(folder);
    document.SetJoinedRecordings(true);
    std::vector<CardRecording> recordings;
    for (int d = 0; d < document.GetDirectoryCount(); ++d) {
        const CClipDetails& clips = *document.GetDirectory(d)->clips;
        for (int slot = 0; slot < clips.GetCount(); ++slot)
            if (!clips.IsContinuation(slot))
                if (std::optional<CardRecording> recording = RecordingOfClip(clips, slot))
                    recordings.push_back(std::move(*recording));
    }
    return recordings;
}
