#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// A card's playlist (BDMV/PLAYLIST/00000.MPL) as a camcorder writes it: header, application
// info, the play list with one play item per stream file (its stream tables empty) and an entry
// mark at the start of each recording.
struct PlaylistItem {
    std::string clip;        // five digits
    int connection = 1;      // 1 starts a recording, 6 continues the previous item's
    std::uint32_t inTime = 0;     // 45 kHz
    std::uint32_t outTime = 45000;
};
std::string PlaylistBytes(const std::vector<PlaylistItem>& items);
// Writes it as <bdmv>/PLAYLIST/00000.MPL.
void WritePlaylist(const std::string& bdmv, const std::vector<PlaylistItem>& items);

// A recording the camera split at the card's size limit, made as a camera makes it: one real
// H.264 stream in M2TS (groups of 12 pictures, a colour of its own for each second), cut by
// bytes at 192-byte packets in the middle of a group, so every file after the first starts
// without a key frame. The play items carry each file's IN and OUT times from ffprobe.
struct SplitRecording {
    std::vector<std::string> files;   // in order
    std::vector<PlaylistItem> items;  // the first starts the recording, the rest continue it
};
// Writes the files <folder>/<first>.MTS, <first + 1>.MTS ... one per colour ("red", "blue").
SplitRecording MakeSplitRecording(const std::string& folder, int first, const std::vector<std::string>& colours);

}  // namespace testing_support
