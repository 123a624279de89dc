#include "model/VideoClipFolder.h"

#include "imaging/JpegPicture.h"
#include "log/EventLog.h"
#include "model/CameraXml.h"

#include <optional>

namespace {

bool IsNameChar(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

std::string_view NameOf(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view Stem(std::string_view name)
{
    return name.substr(0, name.rfind('.'));
}

// The JPEG layer's text on one line of the log: its line breaks become spaces.
std::string OneLine(const std::string& text)
{
    std::string line;
    for (const char c : text)
        if (c != '\r' && c != '\n')
            line += c;
        else if (!line.empty() && line.back() != ' ')
            line += ' ';
    return line;
}

// A path the card's list gives, relative to M4ROOT ("./THMBNL/C0001T01.JPG"), as the file
// system spells it; "" when it leaves M4ROOT, is absolute or names nothing there.
std::string ResolveInside(const std::string& m4root, std::string_view uri)
{
    if (uri.starts_with("./"))
        uri.remove_prefix(2);
    std::string path = platform::WithoutTrailingSlash(m4root);
    for (int steps = 0; !uri.empty() && steps < 4; ++steps) {
        const std::size_t slash = uri.find('/');
        const std::string_view part = uri.substr(0, slash);
        if (part.empty() || part == "." || part == "..")
            return {};
        const std::optional<std::string> found = platform::FindChildIgnoreCase(path, part);
        if (!found)
            return {};
        path = *found;
        uri = slash == std::string_view::npos ? std::string_view() : uri.substr(slash + 1);
    }
    return uri.empty() ? path : std::string();
}

// Where the camera keeps the pictures of its clips, read once and only when one is asked for
// that does not have its usual name.
class PictureFinder {
public:
    PictureFinder(const std::string& m4root, const std::vector<platform::DirEntry>& listing) : m4root_(m4root)
    {
        const platform::DirEntry* folder = platform::FindDirectoryIgnoreCase(listing, "THMBNL");
        if (folder == nullptr || !folder->isDirectory)
            return;
        thumbnailFolder_ = m4root + folder->name + "/";
        platform::ListDirectory(thumbnailFolder_, thumbnails_, [](std::string_view) { return false; });
        const platform::DirEntry* profile = platform::FindEntryIgnoreCase(listing, "MEDIAPRO.XML");
        if (profile != nullptr && !profile->isDirectory)
            profilePath_ = m4root + profile->name;
    }

    // The picture of the clip of this name, or "".
    std::string PictureOf(std::string_view clipName)
    {
        if (thumbnailFolder_.empty())
            return {};
        const std::string usual = std::string(Stem(clipName)) + "T01.JPG";
        if (const platform::DirEntry* file = platform::FindEntryIgnoreCase(thumbnails_, usual);
            file != nullptr && !file->isDirectory)
            return thumbnailFolder_ + file->name;
        for (const MediaProfileClip& clip : Profile())
            if (platform::EqualsIgnoreCase(NameOf(clip.clip), clipName) && !clip.picture.empty())
                return ResolveInside(m4root_, clip.picture);
        return {};
    }

private:
    const std::vector<MediaProfileClip>& Profile()
    {
        if (!profileRead_ && !profilePath_.empty()) {
            std::string problem;
            if (std::optional<std::vector<MediaProfileClip>> read = ReadMediaProfile(profilePath_, problem))
                profile_ = std::move(*read);
            else
                LogEvent("The card's list of clips [%s] cannot be read (%s)", profilePath_.c_str(), problem.c_str());
        }
        profileRead_ = true;
        return profile_;
    }

    std::string m4root_;
    std::string thumbnailFolder_;
    std::vector<platform::DirEntry> thumbnails_;
    std::string profilePath_;
    bool profileRead_ = false;
    std::vector<MediaProfileClip> profile_;
};

}  // namespace

bool IsCameraFolderName(std::string_view name)
{
    if (name.size() != 8)
        return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (i < 3 ? (name[i] < '0' || name[i] > '9') : !IsNameChar(name[i]))
            return false;
    return true;
}

bool IsVideoClipFolder(std::string_view parent, std::string_view name)
{
    return (platform::EqualsIgnoreCase(parent, "M4ROOT") && platform::EqualsIgnoreCase(name, "CLIP")) ||
           (platform::EqualsIgnoreCase(parent, "DCIM") && IsCameraFolderName(name));
}

void LoadCameraPictures(const std::string& m4root, const std::vector<platform::DirEntry>& listing,
                        const CClipDetails& clips, CThumbnailSet& pictures, const std::string& onlyClip)
{
    PictureFinder finder(m4root, listing);
    std::uint64_t pixels = 0;
    for (int slot = 0; slot < clips.GetCount(); ++slot) {
        const CClipDetails::ClipEntry* entry = clips.GetEntry(slot);
        if (entry == nullptr || (!onlyClip.empty() && entry->name != onlyClip))
            continue;
        const std::string path = finder.PictureOf(entry->name);
        if (path.empty())
            continue;
        if (pixels >= CThumbnailSet::kMaxFolderPixels) {
            LogEvent("The camera pictures of [%s] read so far hold %llu pixels, the most one folder may hold; the "
                     "rest are not read.",
                     m4root.c_str(), static_cast<unsigned long long>(pixels));
            return;
        }
        CJpegPicture picture;
        std::string problem;
        if (!picture.ReadFile(path, CRgbImage::kMaxThumbnailPixels, problem, kMaxCameraPictureBytes)) {
            LogEvent("Camera picture [%s] cannot be read (%s); the clip is pictured as one without it", path.c_str(),
                     OneLine(problem).c_str());
            continue;
        }
        pixels += static_cast<std::uint64_t>(picture.width) * static_cast<std::uint64_t>(picture.height);
        pictures.SetJpeg(slot, std::move(picture));
    }
}
