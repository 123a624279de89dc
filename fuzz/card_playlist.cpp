// Arbitrary bytes as a card's playlist: read, and when read, taken by a clip list of ten
// stream files. Whatever the bytes say, a reading is whole and consistent, and a join only ever
// puts a file after the one before it on the card.
#include "model/CardPlaylist.h"
#include "model/ClipDetails.h"

#include <cstdio>
#include <cstdlib>

namespace {

const CClipDetails& TenClips()
{
    static const CClipDetails clips = [] {
        std::vector<platform::DirEntry> listing;
        for (int number = 0; number <= 10; ++number) {
            if (number == 7)
                continue;  // a file the camera made but the card no longer holds
            platform::DirEntry entry;
            char name[16];
            std::snprintf(name, sizeof name, "%05d.MTS", number);
            entry.name = name;
            entry.hasDetails = true;
            entry.size = 1000;
            listing.push_back(entry);
        }
        return CClipDetails(false, "/card/STREAM", listing);
    }();
    return clips;
}

void Check(bool holds)
{
    if (!holds)
        std::abort();
}

void CheckJoins(const CClipDetails& clips)
{
    for (int slot = 0; slot < clips.GetCount(); ++slot) {
        const std::vector<int> parts = clips.RecordingParts(slot);
        for (std::size_t i = 1; i < parts.size(); ++i) {
            Check(parts[i] == parts[i - 1] + 1);  // each file follows the one before it
            Check(clips.IsContinuation(parts[i]) && clips.GetEntry(parts[i])->continues == slot);
        }
        const auto [part, of] = clips.PartOfRecording(slot);
        Check(part >= 1 && part <= of);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string problem;
    const std::optional<CardPlaylist> playlist = ParseCardPlaylist({data, size}, problem);
    Check(playlist.has_value() == problem.empty());
    if (!playlist)
        return 0;
    for (const PlayItem& item : playlist->items)
        Check(item.clipName.size() == 5 && item.outTime >= item.inTime);
    for (const PlayListMark& mark : playlist->marks)
        Check(mark.playItem < playlist->items.size());
    CClipDetails clips = TenClips();
    clips.SetJoinedRecordings(true);
    if (clips.ApplyPlaylist(*playlist, problem))
        CheckJoins(clips);
    return 0;
}
