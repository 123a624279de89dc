#include "support/CardLayout.h"

#include "support/CardPlaylists.h"
#include "support/JpegFixtures.h"
#include "support/TempDir.h"

#include <algorithm>
#include <cctype>

namespace testing_support {
namespace {

std::string Cased(std::string name, bool lower)
{
    if (lower)
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    return name;
}

}  // namespace

void WriteClips(const std::string& folder, const std::vector<std::string>& names)
{
    MakeDirs(folder);
    for (const std::string& name : names)
        WriteFile(folder + "/" + name, "dummy stream");
}

std::string WriteCard(const std::string& root, const CardOptions& o)
{
    std::string avchd = root;
    if (o.privateFolder)
        avchd += "/" + Cased("PRIVATE", o.lowerCase);
    avchd += "/" + Cased(o.avchdName, o.lowerCase);
    const std::string stream = avchd + "/" + Cased("BDMV", o.lowerCase) + "/" + Cased("STREAM", o.lowerCase);
    std::vector<std::string> clips;
    for (const std::string& clip : o.clips)
        clips.push_back(Cased(clip, o.lowerCase));
    WriteClips(stream, clips);
    if (o.playlist) {
        std::vector<PlaylistItem> items;
        for (const std::string& clip : o.clips)
            if (clip.size() > 5 && clip[5] == '.')
                items.push_back(PlaylistItem{clip.substr(0, 5)});
        WritePlaylist(avchd + "/" + Cased("BDMV", o.lowerCase), items);
    }
    if (o.thumbnailBlocks > 0) {
        const std::string thumbDir = o.thumbnailFolder ? avchd + "/" + Cased("AVCHDTN", o.lowerCase) : avchd;
        std::vector<std::string> jpegs;
        std::vector<std::pair<int, int>> records;
        for (int k = 0; k < o.thumbnailBlocks; ++k) {
            jpegs.push_back(SolidJpeg(416, 240, static_cast<std::uint8_t>(40 * k), 200, 100));
            records.push_back({k, k});
        }
        WriteFile(thumbDir + "/" + Cased("THUMB.TDT", o.lowerCase), PackBlocks(jpegs));
        WriteFile(thumbDir + "/" + Cased("THUMB.TID", o.lowerCase), IndexFile(records));
    }
    return stream;
}

}  // namespace testing_support
