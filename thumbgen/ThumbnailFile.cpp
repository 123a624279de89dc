#include "thumbgen/ThumbnailFile.h"

#include "imaging/JPEGException.h"
#include "log/EventLog.h"
#include "settings/Settings.h"
#include "thumbgen/ThumbnailQueue.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>

namespace {
constexpr const char* kSuffix = ".viewmere.jpg";
constexpr const char* kSubdirectory = "Viewmere";

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
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

bool LoadThumbnailFile(ThumbnailQueue& queue, const std::string& clipPath)
{
    const std::string fileName = ThumbnailFilePath(clipPath, false);
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(fileName.c_str(), "rb"));
    if (!file)
        return false;
    auto picture = std::make_unique<CRgbImage>();
    try {
        picture->DecodeJpeg(file.get());
    } catch (const CJPEGException& error) {
        LogEvent("Ignored thumbnail file [%s]: %s", fileName.c_str(), error.what());
        return false;
    }
    file.reset();
    queue.StoreResult(clipPath, ThumbnailResult{nullptr, std::move(picture)});
    LogEvent("Loaded thumbnail file [%s]", fileName.c_str());
    return true;
}
