#include "thumbnailer/ClipPicture.h"

#include "imaging/JpegPicture.h"
#include "model/CardPlaylist.h"
#include "model/ClipDetails.h"
#include "model/ThumbnailSet.h"
#include "platform/FileSystem.h"
#include "thumbgen/FrameGrab.h"
#include "thumbgen/ThumbnailFile.h"

#include <array>
#include <cstdint>
#include <exception>
#include <optional>
#include <utility>

namespace {

using Cancelled = std::function<bool()>;

std::string ParentOf(const std::string& folder)
{
    const std::size_t slash = folder.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
}

bool SameFolder(const std::string& a, const std::string& b)
{
    std::uint64_t deviceA = 0, inodeA = 0, deviceB = 0, inodeB = 0;
    return platform::DirectoryIdentity(a, deviceA, inodeA) && platform::DirectoryIdentity(b, deviceB, inodeB) &&
           deviceA == deviceB && inodeA == inodeB;
}

// The clip folder the viewer's scan reaches from an AVCHD folder: its BDMV, then STREAM, each
// step taken where that folder is present.
std::string ClipFolderBelow(const std::string& avchd)
{
    std::string folder = avchd;
    for (const char* name : {"BDMV", "STREAM"})
        if (const auto child = platform::FindChildIgnoreCase(folder, name); child && platform::IsDirectory(*child))
            folder = *child;
    return folder;
}

// The slot of a clip in its folder's numbered clip list, or -1.
int NumberedSlotOf(const std::string& clipFolder, const std::string& name)
{
    const CClipDetails clips(true, clipFolder);
    for (int slot = 0; slot < clips.GetCount(); ++slot)
        if (const CClipDetails::ClipEntry* entry = clips.GetEntry(slot); entry != nullptr && entry->name == name)
            return slot;
    return -1;
}

// The first file of the recording a clip belongs to: the clip itself, unless its card's playlist
// says it continues a recording the camera split across files (as the viewer joins them).
std::string RecordingStartOf(const std::string& clipPath)
{
    const std::string clipFolder = ParentOf(clipPath);
    const std::string bdmv = ParentOf(clipFolder);
    const std::string name = clipPath.substr(clipPath.rfind('/') + 1);
    const std::optional<std::string> playlists = platform::FindChildIgnoreCase(bdmv, "PLAYLIST");
    if (!platform::EqualsIgnoreCase(clipFolder.substr(clipFolder.rfind('/') + 1), "STREAM") ||
        !platform::EqualsIgnoreCase(bdmv.substr(bdmv.rfind('/') + 1), "BDMV") || !playlists)
        return clipPath;
    CardPlaylist playlist;
    std::string file, problem;
    CClipDetails clips(false, clipFolder);
    if (ReadCardPlaylist(*playlists, playlist, file, problem) != PlaylistRead::Read ||
        !clips.ApplyPlaylist(playlist, problem))
        return clipPath;
    for (int slot = 0; slot < clips.GetCount(); ++slot) {
        const CClipDetails::ClipEntry* entry = clips.GetEntry(slot);
        std::string start;
        if (entry != nullptr && entry->name == name && entry->continues >= 0 && clips.GetClipPath(entry->continues, start))
            return start;
    }
    return clipPath;
}

std::unique_ptr<CRgbImage> FromCamera(const std::string& clipPath, const Cancelled&, std::string& problem)
{
    std::unique_ptr<CRgbImage> picture = CameraThumbnailOf(clipPath);
    if (!picture)
        problem = "no camera thumbnail";
    return picture;
}

std::unique_ptr<CRgbImage> FromThumbnailFile(const std::string& clipPath, const Cancelled&, std::string& problem)
{
    CJpegPicture jpeg;
    std::string fileName;
    std::unique_ptr<CRgbImage> picture = ReadThumbnailFile(clipPath, jpeg, fileName) ? jpeg.Decode() : nullptr;
    if (!picture)
        problem = "no thumbnail file";
    return picture;
}

std::unique_ptr<CRgbImage> FromFirstFrame(const std::string& clipPath, const Cancelled& cancelled, std::string& problem)
{
    const std::unique_ptr<platform::DeviceBitmap> frame = GrabFirstFrame(clipPath, cancelled, &problem);
    auto picture = std::make_unique<CRgbImage>();
    if (!frame || !picture->FromBitmap(*frame))
        return nullptr;
    return picture;
}

}  // namespace

std::unique_ptr<CRgbImage> CameraThumbnailOf(const std::string& clipPath)
{
    const std::string clipFolder = ParentOf(clipPath);
    const std::string name = clipPath.substr(clipPath.rfind('/') + 1);
    // Outermost first: the card opened at its top reaches the clips through all three.
    for (const std::string& avchd : {ParentOf(ParentOf(clipFolder)), ParentOf(clipFolder), clipFolder}) {
        if (!SameFolder(ClipFolderBelow(avchd), clipFolder))
            continue;
        const std::string dataFile = CThumbnailSet::FindDataFile(avchd.back() == '/' ? avchd : avchd + "/");
        if (dataFile.empty())
            continue;
        // Where the set holds a picture for the slot, the viewer numbers the clips as here.
        const int slot = NumberedSlotOf(clipFolder, name);
        if (slot < 0)
            return nullptr;
        try {
            CThumbnailSet thumbnails(dataFile, CThumbnailSet::kMaxFolderPixels, slot);
            ThumbnailEntry* entry = thumbnails.GetEntry(slot);
            if (entry == nullptr)
                return nullptr;
            return entry->picture ? std::move(entry->picture) : entry->jpeg.Decode();
        } catch (const std::exception&) {
            return nullptr;  // the clip's own block is damaged: the viewer shows no camera picture either
        }
    }
    return nullptr;
}

ClipPicture FindClipPicture(const std::string& clipPath, const Cancelled& cancelled)
{
    using Step = std::unique_ptr<CRgbImage> (*)(const std::string&, const Cancelled&, std::string&);
    static constexpr std::array<Step, 3> kSteps = {FromCamera, FromThumbnailFile, FromFirstFrame};
    // A file that continues a split recording starts without a key frame: it is pictured as its
    // recording is, by the recording's first file.
    const std::string pictured = RecordingStartOf(clipPath);
    ClipPicture found;
    for (const Step step : kSteps)
        if ((found.picture = step(pictured, cancelled, found.problem))) {
            found.problem.clear();
            break;
        }
    return found;
}
