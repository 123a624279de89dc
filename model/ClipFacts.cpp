#include "model/ClipFacts.h"

#include "log/EventLog.h"
#include "model/CameraXml.h"
#include "model/ClipDetails.h"
#include "model/Mp4Movie.h"
#include "platform/FileSystem.h"

#include <sys/stat.h>

#include <ctime>
#include <optional>

namespace {

std::optional<RecordingTime> UtcTime(std::int64_t unixSeconds)
{
    const std::time_t seconds = static_cast<std::time_t>(unixSeconds);
    std::tm fields {};
    if (gmtime_r(&seconds, &fields) == nullptr)
        return std::nullopt;
    RecordingTime time;
    time.year = fields.tm_year + 1900;
    time.month = fields.tm_mon + 1;
    time.day = fields.tm_mday;
    time.hour = fields.tm_hour;
    time.minute = fields.tm_min;
    time.second = fields.tm_sec;
    return time;  // zone 0: the movie header's time is UTC
}

// The description beside a clip, where there is one: its name in the case of the clip's own.
std::optional<ClipDescription> DescriptionOf(const std::string& clipPath)
{
    const std::size_t slash = clipPath.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : clipPath.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? clipPath : clipPath.substr(slash + 1);
    for (const bool lower : {false, true}) {
        const std::string path = folder + ClipDescriptionName(name, lower);
        if (!platform::FileExists(path))
            continue;
        std::string problem;
        std::optional<ClipDescription> description = ReadClipDescription(path, problem);
        if (!description)
            LogEvent("Clip description [%s] cannot be read (%s); the clip's own header is used", path.c_str(),
                     problem.c_str());
        return description;
    }
    return std::nullopt;
}

ClipStreamFacts ReadVideoFileFacts(const std::string& clipPath)
{
    ClipStreamFacts facts;
    const platform::FileDescriptor file = platform::OpenRegularDescriptor(clipPath);
    struct stat info {};
    if (!file || fstat(file.Get(), &info) != 0)
        return facts;
    const std::optional<ClipDescription> description = DescriptionOf(clipPath);
    if (description) {
        facts.time = description->created;
        facts.duration = description->duration;
        facts.camera = description->device;
        facts.timeSource = facts.time ? TimeSource::Description : TimeSource::None;
    }
    if (facts.time && facts.duration) {
        facts.read = true;
        return facts;
    }
    std::string problem;
    bool failed = false;
    const std::optional<Mp4MovieHeader> movie =
        ReadMp4MovieHeader(file.Get(), static_cast<std::uint64_t>(info.st_size), problem, failed);
    // Cut short by an error (a pulled card), the file says nothing about the clip.
    if (failed && !facts.time)
        return facts;
    facts.read = true;
    if (!movie) {
        if (!failed)
            LogEvent("Movie header of [%s] cannot be read (%s)%s", clipPath.c_str(), problem.c_str(),
                     facts.time ? "" : "; its file time is shown");
        return facts;
    }
    if (!facts.time && movie->createdUnixSeconds && (facts.time = UtcTime(*movie->createdUnixSeconds)))
        facts.timeSource = TimeSource::Movie;
    if (!facts.duration)
        facts.duration = movie->durationSeconds;
    return facts;
}

}  // namespace

std::string ClipDescriptionName(std::string_view clipName, bool lowerCase)
{
    const std::size_t dot = clipName.rfind('.');
    return std::string(clipName.substr(0, dot)) + (lowerCase ? "m01.xml" : "M01.XML");
}

ClipStreamFacts ReadClipFacts(const std::string& clipPath, bool withDuration)
{
    const std::size_t slash = clipPath.rfind('/');
    if (CClipDetails::IsVideoFileName(slash == std::string::npos ? clipPath : clipPath.substr(slash + 1)))
        return ReadVideoFileFacts(clipPath);
    ClipStreamFacts facts = ReadClipStreamFacts(clipPath, withDuration);
    if (facts.time)
        facts.timeSource = TimeSource::Stream;
    return facts;
}
