#include "thumbgen/SharedThumbnails.h"

#include "imaging/JpegPicture.h"
#include "imaging/PngEncoder.h"
#include "imaging/RgbImage.h"
#include "log/EventLog.h"
#include "platform/DesktopApps.h"
#include "platform/FileSystem.h"
#include "platform/GLibOwners.h"
#include "platform/ReplacingFile.h"
#include "platform/UserDirectories.h"
#include "settings/Settings.h"
#include "thumbgen/FrameGrab.h"
#include "thumbgen/ThumbnailQueue.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr const char* kSizeFolders[] = {"x-large", "large", "normal"};  // largest first
constexpr const char* kSoftware = "Viewmere";

using platform::GText;
using Pixbuf = platform::GObjectOwner<GdkPixbuf>;
using Error = platform::GErrorOwner;

// Read at every use, as the settings are, so a changed environment is seen at once.
std::string ThumbnailsFolder()
{
    const std::string cache = platform::UserCacheDirectory();
    return cache.empty() ? std::string() : cache + "/thumbnails";
}

struct ClipFacts {
    std::string uri;
    long long mtime = 0;
    unsigned long long size = 0;
};

bool ReadClipFacts(const std::string& clipPath, ClipFacts& facts)
{
    struct stat info {};
    if (::stat(clipPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    facts.uri = SharedThumbnailUri(clipPath);
    facts.mtime = static_cast<long long>(info.st_mtime);
    facts.size = static_cast<unsigned long long>(info.st_size);
    return !facts.uri.empty();
}

// A cached thumbnail belongs to the clip as it is now when it names the clip's modification
// time (and its URI, where it carries one: an MD5 collision must not show another file).
bool IsValidFor(GdkPixbuf* pixbuf, const ClipFacts& facts)
{
    const gchar* mtime = gdk_pixbuf_get_option(pixbuf, "tEXt::Thumb::MTime");
    if (mtime == nullptr || std::to_string(facts.mtime) != mtime)
        return false;
    const gchar* uri = gdk_pixbuf_get_option(pixbuf, "tEXt::Thumb::URI");
    return uri == nullptr || facts.uri == uri;
}

Pixbuf LoadPng(const std::string& path)
{
    // Only a regular file of a thumbnail's size is read: a FIFO would block the worker and a
    // huge picture would cost more than the grab it saves.
    if (!platform::IsRegularFile(path))
        return nullptr;
    int width = 0, height = 0;
    if (gdk_pixbuf_get_file_info(path.c_str(), &width, &height) == nullptr || width <= 0 || height <= 0 ||
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > CRgbImage::kMaxThumbnailPixels)
        return nullptr;
    GError* error = nullptr;
    Pixbuf pixbuf(gdk_pixbuf_new_from_file(path.c_str(), &error));
    Error owned(error);
    return pixbuf;
}

// The size that fits into width x height with the picture's proportions.
void FittedSize(int sourceWidth, int sourceHeight, int& width, int& height)
{
    const double scale = std::min(static_cast<double>(width) / sourceWidth, static_cast<double>(height) / sourceHeight);
    width = std::max(1, static_cast<int>(sourceWidth * scale + 0.5));
    height = std::max(1, static_cast<int>(sourceHeight * scale + 0.5));
}

// Top-down RGB(A) rows into the bottom-up BGR layout; transparency is laid over black.
std::unique_ptr<CRgbImage> ToRgbImage(GdkPixbuf* pixbuf)
{
    const int width = gdk_pixbuf_get_width(pixbuf), height = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
    if (gdk_pixbuf_get_bits_per_sample(pixbuf) != 8 || channels < 3)
        return nullptr;
    auto picture = std::make_unique<CRgbImage>();
    picture->width = width;
    picture->height = height;
    picture->stride = static_cast<std::int32_t>(CRgbImage::StrideFor(width));
    picture->pixels = imaging::AllocatePixels(static_cast<std::size_t>(picture->stride) * static_cast<std::size_t>(height));
    if (!picture->pixels)
        return nullptr;
    const guchar* rows = gdk_pixbuf_read_pixels(pixbuf);
    const int rowStride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < height; ++y) {
        const guchar* source = rows + static_cast<std::size_t>(y) * static_cast<std::size_t>(rowStride);
        std::uint8_t* target = picture->pixels.get() + picture->OffsetOf(0, y);
        for (int x = 0; x < width; ++x, source += channels, target += 3) {
            const unsigned a = alpha ? source[3] : 255u;
            target[0] = static_cast<std::uint8_t>(source[2] * a / 255u);
            target[1] = static_cast<std::uint8_t>(source[1] * a / 255u);
            target[2] = static_cast<std::uint8_t>(source[0] * a / 255u);
        }
    }
    // The padding of each row is zeroed, so equal pictures are equal bytes.
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = picture->pixels.get() + picture->OffsetOf(0, y);
        std::fill(row + static_cast<std::size_t>(width) * 3u, row + picture->stride, 0);
    }
    return picture;
}

// Makes the cache's folders that are missing, private to the user as the standard asks.
bool MakePrivateFolders(const std::string& thumbnails, const std::string& sizeFolder)
{
    const std::size_t cacheEnd = thumbnails.rfind('/');
    for (const std::string& folder : {thumbnails.substr(0, cacheEnd), thumbnails, thumbnails + "/" + sizeFolder})
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    return platform::IsDirectory(thumbnails + "/" + sizeFolder);
}

bool SavePng(const CRgbImage& picture, const std::string& target, const ClipFacts& facts, std::string& problem)
{
    return WritePngFile(picture, target,
                        {{"Thumb::URI", facts.uri},
                         {"Thumb::MTime", std::to_string(facts.mtime)},
                         {"Thumb::Size", std::to_string(facts.size)},
                         {"Software", kSoftware}},
                        problem);
}

// One line for the first failure: a cache that cannot be written stays so for every clip.
void ReportWriteFailure(const std::string& folder, const std::string& problem)
{
    static std::atomic<bool> reported{false};
    if (!reported.exchange(true))
        LogEvent("Could not write to the shared thumbnail cache [%s]: %s", folder.c_str(), problem.c_str());
}

}  // namespace

bool WritePngFile(const CRgbImage& picture, const std::string& target,
                  const std::vector<std::pair<std::string, std::string>>& texts, std::string& problem)
{
    if (!picture.HasPicture() || picture.width <= 0 || picture.height <= 0) {
        problem = "there is no picture";
        return false;
    }
    const std::vector<std::uint8_t> png = imaging::EncodePng(picture, texts);
    if (png.empty()) {
        problem = "the picture could not be encoded";
        return false;
    }
    if (platform::ReplaceFileWith(target, png, 0600))  // the cache's files are the user's alone
        return true;
    problem = std::strerror(errno);
    return false;
}

std::string SharedThumbnailUri(const std::string& clipPath)
{
    return platform::FileUri(clipPath);
}

std::string SharedThumbnailPath(const std::string& uri, const char* sizeFolder)
{
    const std::string folder = ThumbnailsFolder();
    if (folder.empty() || uri.empty())
        return {};
    GText md5(g_compute_checksum_for_string(G_CHECKSUM_MD5, uri.c_str(), static_cast<gssize>(uri.size())));
    return folder + "/" + sizeFolder + "/" + md5.get() + ".png";
}

std::unique_ptr<CRgbImage> FindSharedThumbnail(const std::string& clipPath, int width, int height, int smallestWidth,
                                               int smallestHeight)
{
    ClipFacts facts;
    if (!ReadClipFacts(clipPath, facts))
        return nullptr;
    for (const char* sizeFolder : kSizeFolders) {
        const Pixbuf pixbuf = LoadPng(SharedThumbnailPath(facts.uri, sizeFolder));
        if (!pixbuf || !IsValidFor(pixbuf.get(), facts))
            continue;
        // One that would have to be enlarged would show blurred, on every visit, where a grab
        // gives a sharp picture once.
        if (gdk_pixbuf_get_width(pixbuf.get()) < std::min(width, smallestWidth) &&
            gdk_pixbuf_get_height(pixbuf.get()) < std::min(height, smallestHeight))
            continue;
        int fittedWidth = width, fittedHeight = height;
        FittedSize(gdk_pixbuf_get_width(pixbuf.get()), gdk_pixbuf_get_height(pixbuf.get()), fittedWidth, fittedHeight);
        const Pixbuf scaled(gdk_pixbuf_scale_simple(pixbuf.get(), fittedWidth, fittedHeight, GDK_INTERP_BILINEAR));
        if (scaled)
            return ToRgbImage(scaled.get());
    }
    return nullptr;
}

bool WriteSharedThumbnail(const std::string& clipPath, const CRgbImage& picture)
{
    ClipFacts facts;
    const std::string folder = ThumbnailsFolder();
    if (folder.empty() || !ReadClipFacts(clipPath, facts))
        return false;
    // The picture as it is for the large displays, and fitted to 256 pixels for the readers of
    // a normal-density display, which ask only for "large".
    std::string problem;
    for (const auto& [sizeFolder, side] : {std::pair{"x-large", 512}, std::pair{"large", 256}}) {
        // A picture that fits already is written as it is, without a scaled copy.
        const bool fits = picture.HasPicture() && picture.width <= side && picture.height <= side;
        const std::unique_ptr<CRgbImage> fitted = fits ? nullptr : picture.FittedInto(side, side);
        const CRgbImage* written = fits ? &picture : fitted.get();
        if (!MakePrivateFolders(folder, sizeFolder))
            problem = std::strerror(errno);
        else if (written == nullptr)
            problem = "the picture could not be scaled";
        else if (SavePng(*written, SharedThumbnailPath(facts.uri, sizeFolder), facts, problem))
            continue;
        ReportWriteFailure(folder, problem);
        return false;
    }
    return true;
}

bool LoadSharedThumbnail(ThumbnailQueue& queue, const std::string& clipPath)
{
    if (!settings::ShareThumbnails.Read())
        return false;
    // On a display scaled by two the entry is fitted to the picture size made there (x-large's
    // 512 x 288 smoothly enlarged), so it shows as sharp as it can; one of the grid's size is
    // enough.
    const int scale = GrabbedPictureScale();
    std::unique_ptr<CRgbImage> picture =
        FindSharedThumbnail(clipPath, kGrabbedThumbnailWidth * scale, kGrabbedThumbnailHeight * scale,
                            kGrabbedThumbnailWidth, kGrabbedThumbnailHeight);
    if (!picture)
        return false;
    // Kept compressed like every other generated thumbnail.
    CJpegPicture compressed;
    if (!compressed.Compress(*picture))
        return false;
    ThumbnailResult result(std::move(compressed));
    result.scale = GrabbedPictureScaleOf(picture->width, picture->height);
    queue.StoreResult(clipPath, std::move(result));
    LogEvent("Loaded shared thumbnail for [%s]", clipPath.c_str());
    return true;
}

void ShareGrabbedThumbnail(const std::string& clipPath, const CRgbImage& picture)
{
    if (settings::ShareThumbnails.Read())
        WriteSharedThumbnail(clipPath, picture);
}

void ShareGrabbedThumbnail(const std::string& clipPath, const CJpegPicture& picture)
{
    if (!settings::ShareThumbnails.Read())
        return;
    if (const std::unique_ptr<CRgbImage> decoded = picture.Decode())
        WriteSharedThumbnail(clipPath, *decoded);
}
