#include "thumbgen/ThumbnailFile.h"

#include "imaging/JpegComment.h"
#include "imaging/JpegPicture.h"
#include "log/EventLog.h"
#include "platform/FileSystem.h"
#include "platform/ReplacingFile.h"
#include "settings/Settings.h"
#include "thumbgen/SharedThumbnails.h"
#include "thumbgen/ThumbnailQueue.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace {
constexpr const char* kSuffix = ".viewmere.jpg";
constexpr const char* kSubdirectory = "Viewmere";

// One log line per folder and reason: a read-only card would otherwise log once per clip.
void ReportWriteFailure(const std::string& fileName, int error)
{
    static std::mutex mutex;
    static std::set<std::pair<std::string, int>> reported;
    const std::size_t slash = fileName.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : fileName.substr(0, slash);
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!reported.emplace(folder, error).second)
            return;
    }
    const std::string reason = error != 0 ? std::strerror(error) : "the picture could not be encoded";
    LogEvent("Could not write thumbnail files to [%s]: %s. The thumbnails are shown but not kept.", folder.c_str(),
             reason.c_str());
}
}  // namespace

std::string ThumbnailFilePath(const std::string& clipPath, bool createDirectory)
{
    if (!settings::WriteToSubdir.Read())
        return clipPath + kSuffix;
    const std::size_t slash = clipPath.rfind('/');
    if (slash == std::string::npos)
        return clipPath + kSuffix;
    const std::string subdirectory = clipPath.substr(0, slash + 1) + kSubdirectory;
    if (createDirectory && settings::WriteThumbnails.Read())
        ::mkdir(subdirectory.c_str(), 0777);  // an existing folder is fine; a failure shows when writing
    return subdirectory + clipPath.substr(slash) + kSuffix;
}

namespace {

// A thumbnail file records the clip it pictures, its size and time when the picture was made, in
// a JPEG comment: the file keeps its name and stays readable by every other program.
constexpr const char* kClipRecordFormat = "Viewmere clip: size %llu, modified %lld";

// Cards keep the camera's clock, and a FAT card read without a zone option reads local time as
// UTC: the same clip shows times that differ by a whole zone offset between computers, up to a
// day and two hours apart.
constexpr std::int64_t kLargestClockOffset = 26 * 3600;
constexpr std::int64_t kZoneStep = 15 * 60;

struct ClipState {
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // seconds
};

std::optional<ClipState> StateOf(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return ClipState{static_cast<std::uint64_t>(info.st_size), static_cast<std::int64_t>(info.st_mtim.tv_sec)};
}

std::optional<ClipState> RecordedClip(const CJpegPicture& picture)
{
    for (const std::string& comment : imaging::Comments(picture.bytes)) {
        unsigned long long size = 0;
        long long modified = 0;
        if (std::sscanf(comment.c_str(), kClipRecordFormat, &size, &modified) == 2)
            return ClipState{size, modified};
    }
    return std::nullopt;
}

// The same clip: its size unchanged and its time unchanged, or moved by a whole zone offset.
bool SameClip(const ClipState& recorded, const ClipState& now)
{
    const std::int64_t moved = now.modified - recorded.modified;
    return recorded.size == now.size &&
           (moved == 0 || (std::llabs(moved) <= kLargestClockOffset && moved % kZoneStep == 0));
}

// Why a thumbnail file does not picture the clip now under its name ("" when it does). A clip is
// replaced under the same name when a card formatted in the camera starts again at 00000.MTS.
// A file without the record (an older version's, another program's) is judged by its time:
// stale only when older than its clip by more than any clock offset explains.
std::string StaleBecause(const std::string& fileName, const CJpegPicture& picture, const std::string& clipPath)
{
    const std::optional<ClipState> clip = StateOf(clipPath);
    if (!clip)
        return {};
    if (const std::optional<ClipState> recorded = RecordedClip(picture))
        return SameClip(*recorded, *clip) ? std::string() : "it pictures another clip of that name";
    const std::optional<ClipState> file = StateOf(fileName);
    return file && file->modified + kLargestClockOffset < clip->modified ? "it is older than its clip" : std::string();
}

// The picture's bytes with the clip's record, as they go into its thumbnail file.
std::vector<std::uint8_t> WithClipRecord(const std::string& clipPath, const std::vector<std::uint8_t>& jpeg)
{
    const std::optional<ClipState> clip = StateOf(clipPath);
    if (!clip)
        return jpeg;
    char record[96];
    std::snprintf(record, sizeof record, kClipRecordFormat, static_cast<unsigned long long>(clip->size),
                  static_cast<long long>(clip->modified));
    return imaging::WithComment(jpeg, record);
}

}  // namespace

bool ReadThumbnailFile(const std::string& clipPath, CJpegPicture& picture, std::string& fileName)
{
    fileName = ThumbnailFilePath(clipPath, false);
    if (!platform::IsRegularFile(fileName))
        return false;
    std::string problem;
    if (!picture.ReadFile(fileName, CRgbImage::kMaxThumbnailPixels, problem)) {
        LogEvent("Ignored thumbnail file [%s]: %s", fileName.c_str(), problem.c_str());
        return false;
    }
    if (const std::string stale = StaleBecause(fileName, picture, clipPath); !stale.empty()) {
        LogEvent("Ignored thumbnail file [%s]: %s", fileName.c_str(), stale.c_str());
        picture = CJpegPicture();
        return false;
    }
    return true;
}

bool LoadThumbnailFile(ThumbnailQueue& queue, const std::string& clipPath)
{
    CJpegPicture picture;
    std::string fileName;
    if (!ReadThumbnailFile(clipPath, picture, fileName))
        return false;
    // Kept compressed, as read: decoded only while the grid shows it.
    queue.StoreResult(clipPath, ThumbnailResult(std::move(picture)));
    LogEvent("Loaded thumbnail file [%s]", fileName.c_str());
    return true;
}

bool LoadStoredThumbnail(ThumbnailQueue& queue, const std::string& clipPath)
{
    return LoadThumbnailFile(queue, clipPath) || LoadSharedThumbnail(queue, clipPath);
}

bool WriteThumbnailFile(const std::string& clipPath, const CRgbImage& picture)
{
    CJpegPicture compressed;
    if (!compressed.Compress(picture)) {
        ReportWriteFailure(ThumbnailFilePath(clipPath, false), 0);
        return false;
    }
    return WriteThumbnailFile(clipPath, compressed);
}

bool WriteThumbnailFile(const std::string& clipPath, const CJpegPicture& picture)
{
    const std::string fileName = ThumbnailFilePath(clipPath, true);
    errno = 0;
    if (platform::ReplaceFileWith(fileName, WithClipRecord(clipPath, picture.bytes))) {
        ::unlink((fileName + ".part").c_str());  // what an older version left when interrupted
        return true;
    }
    ReportWriteFailure(fileName, errno);
    return false;
}
