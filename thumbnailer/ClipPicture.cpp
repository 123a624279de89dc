#include "thumbnailer/ClipPicture.h"

#include "imaging/JpegPicture.h"
#include "model/AVCHDDoc.h"
#include "platform/FileSystem.h"
#include "settings/Settings.h"
#include "thumbgen/FrameGrab.h"
#include "thumbgen/ThumbnailFile.h"

#include <array>
#include <cstdint>
#include <optional>
#include <utility>

namespace {

using Cancelled = std::function<bool()>;

std::string ParentOf(const std::string& folder)
{
    const std::size_t slash = folder.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
}

std::string NameOf(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

bool SameFolder(const std::string& a, const std::string& b)
{
    std::uint64_t deviceA = 0, inodeA = 0, deviceB = 0, inodeB = 0;
    return platform::DirectoryIdentity(a, deviceA, inodeA) && platform::DirectoryIdentity(b, deviceB, inodeB) &&
           deviceA == deviceB && inodeA == inodeB;
}

// The clip as the viewer's grid holds it: its folder's record and its slot there.
struct GridClip {
    boost::shared_ptr<CAVCHDDoc::VideoDirectory> folder;
    int slot = -1;
};

// The slot of the file named `name` in a folder's clip list, or -1.
int SlotOf(const CClipDetails& clips, const std::string& name)
{
    for (int slot = 0; slot < clips.GetCount(); ++slot)
        if (const CClipDetails::ClipEntry* entry = clips.GetEntry(slot); entry != nullptr && entry->name == name)
            return slot;
    return -1;
}

// Reads the clip's folder as the viewer's scan does from the top of its card: the outermost of
// the clip's folder and the four above it (a card's PRIVATE/AVCHD/BDMV/STREAM, or
// PRIVATE/M4ROOT/CLIP) whose scan reaches the clip's folder. Only the camera's picture of the
// clip's own number (or, among MP4 clips, of the clip itself) is decoded.
GridClip FindGridClip(const std::string& clipPath)
{
    const std::string clipFolder = ParentOf(clipPath), name = NameOf(clipPath);
    std::array<std::string, 5> roots;
    roots[0] = clipFolder;
    for (std::size_t up = 1; up < roots.size(); ++up)
        roots[up] = ParentOf(roots[up - 1]);
    CAVCHDDoc::ClipFolderRead how;
    how.joinRecordings = settings::JoinSplitRecordings.Read();
    how.showProblems = false;  // a damaged thumbnail file gives no camera picture, as in the grid
    how.onlyThumbnailSlot = CClipDetails::NumberedSlotOf(name).value_or(CThumbnailSet::kAllSlots);
    how.onlyPictureOf = name;
    for (auto root = roots.rbegin(); root != roots.rend(); ++root) {
        if (root != roots.rbegin() && *root == *std::prev(root))
            continue;  // the top of the file system, reached early
        for (const boost::shared_ptr<CAVCHDDoc::VideoDirectory>& folder : CAVCHDDoc::ReadClipTrees(*root, how)) {
            if (!SameFolder(folder->clips->GetDirectory(), clipFolder))
                continue;
            if (const int slot = SlotOf(*folder->clips, name); slot >= 0)
                return GridClip{folder, slot};
        }
    }
    return {};
}

std::unique_ptr<CRgbImage> CameraPictureOf(const GridClip& clip)
{
    CThumbnailSet* thumbnails = clip.folder ? clip.folder->thumbnails.get() : nullptr;
    ThumbnailEntry* entry = thumbnails != nullptr ? thumbnails->GetEntry(clip.slot) : nullptr;
    if (entry == nullptr)
        return nullptr;
    return entry->picture ? std::move(entry->picture) : entry->jpeg.Decode();
}

std::unique_ptr<CRgbImage> FromThumbnailFile(const std::string& clipPath, std::string& problem)
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
    return CameraPictureOf(FindGridClip(clipPath));
}

ClipPicture FindClipPicture(const std::string& clipPath, const Cancelled& cancelled)
{
    // A file that continues a split recording starts without a key frame: where the grid joins
    // it to its recording, it is pictured as the recording is, by the recording's first file.
    GridClip clip = FindGridClip(clipPath);
    std::string pictured = clipPath;
    if (clip.folder) {
        const CClipDetails& clips = *clip.folder->clips;
        if (const CClipDetails::ClipEntry* entry = clips.GetEntry(clip.slot);
            entry != nullptr && clips.IsContinuation(clip.slot) && clips.GetClipPath(entry->continues, pictured))
            clip = FindGridClip(pictured);  // with the camera's picture of the first file
    }
    ClipPicture found;
    if ((found.picture = CameraPictureOf(clip)))
        return found;
    if ((found.picture = FromThumbnailFile(pictured, found.problem)))
        return found;
    found.picture = FromFirstFrame(pictured, cancelled, found.problem);
    if (found.picture)
        found.problem.clear();
    return found;
}
