#include "thumbgen/ThumbnailFile.h"

#include "imaging/JpegPicture.h"
#include "log/EventLog.h"
#include "platform/FileSystem.h"
#include "settings/Settings.h"
#include "thumbgen/SharedThumbnails.h"
#include "thumbgen/ThumbnailQueue.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <utility>

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

// A thumbnail file last written before its clip was: the clip was replaced under the same name
// (a card formatted in the camera starts again at 00000.MTS), so the picture is another clip's.
bool OlderThanItsClip(const std::string& fileName, const std::string& clipPath)
{
    struct stat file {}, clip {};
    if (stat(fileName.c_str(), &file) != 0 || stat(clipPath.c_str(), &clip) != 0)
        return false;
    return file.st_mtim.tv_sec < clip.st_mtim.tv_sec ||
           (file.st_mtim.tv_sec == clip.st_mtim.tv_sec && file.st_mtim.tv_nsec < clip.st_mtim.tv_nsec);
}

}  // namespace

bool ReadThumbnailFile(const std::string& clipPath, CJpegPicture& picture, std::string& fileName)
{
    fileName = ThumbnailFilePath(clipPath, false);
    if (!platform::IsRegularFile(fileName))
        return false;
    if (OlderThanItsClip(fileName, clipPath)) {
        LogEvent("Ignored thumbnail file [%s]: it is older than its clip", fileName.c_str());
        return false;
    }
    std::string problem;
    if (!picture.ReadFile(fileName, CRgbImage::kMaxThumbnailPixels, problem)) {
        LogEvent("Ignored thumbnail file [%s]: %s", fileName.c_str(), problem.c_str());
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
    const std::string fileName = ThumbnailFilePath(clipPath, true);
    const std::string partial = fileName + ".part";
    errno = 0;
    if (picture.SaveJpegFile(partial) && std::rename(partial.c_str(), fileName.c_str()) == 0)
        return true;
    const int error = errno;
    std::remove(partial.c_str());
    ReportWriteFailure(fileName, error);
    return false;
}

bool WriteThumbnailFile(const std::string& clipPath, const CJpegPicture& picture)
{
    const std::string fileName = ThumbnailFilePath(clipPath, true);
    const std::string partial = fileName + ".part";
    errno = 0;
    if (platform::WriteWholeFile(partial, picture.bytes) && std::rename(partial.c_str(), fileName.c_str()) == 0)
        return true;
    const int error = errno;
    std::remove(partial.c_str());
    ReportWriteFailure(fileName, error);
    return false;
}

bool CopyThumbnailFile(const std::string& jpegPath, const std::string& clipPath)
{
    const std::string fileName = ThumbnailFilePath(clipPath, true);
    if (platform::CopyFileReplacing(jpegPath, fileName))
        return true;
    ReportWriteFailure(fileName, errno);
    return false;
}
