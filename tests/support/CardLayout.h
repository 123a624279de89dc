#pragma once
#include <string>
#include <vector>

namespace testing_support {

// Writes camcorder card layouts below a folder. Stream files are small dummies: the scan never
// opens them.
struct CardOptions {
    std::vector<std::string> clips = {"00000.MTS", "00001.MTS", "00002.MTS"};
    bool privateFolder = true;       // PRIVATE/AVCHD or AVCHD at the root
    std::string avchdName = "AVCHD";
    bool thumbnailFolder = true;     // AVCHDTN with THUMB.TDT + THUMB.TID
    int thumbnailBlocks = 2;         // camera thumbnails for slots 0..n-1 (0: no thumbnail file)
    bool lowerCase = false;          // names as a card mounted with lower-case names shows them
    bool playlist = true;            // BDMV/PLAYLIST/00000.MPL naming each clip as a recording
};

// Returns the STREAM folder's path.
std::string WriteCard(const std::string& root, const CardOptions& options = {});

// Writes dummy stream files into a folder.
void WriteClips(const std::string& folder, const std::vector<std::string>& names);

}  // namespace testing_support
