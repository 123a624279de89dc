#pragma once
#include "import/ImportNames.h"
#include "model/RecordingTime.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CClipDetails;

// One recording as the camera made it: the files it spans in order (a recording the camera
// split at its card's file-size limit is two or more, one transport stream cut at packet
// boundaries; an MP4 clip is always one), their sizes, and its time.
struct CardRecording {
    std::vector<std::string> parts;
    std::vector<std::uint64_t> partSizes;
    std::optional<RecordingTime> recorded;  // from the stream (or an MP4's description or header), once read
    bool timeRead = false;
    std::int64_t fileSeconds = 0;  // the first file's modification time, Unix seconds
    std::int32_t fileNanoseconds = 0;

    std::uint64_t Size() const;
    // The first file's name ("00003.MTS"), for messages.
    std::string Label() const;
    // The first file's extension in lower case (".mts"), "" when it has none.
    std::string Extension() const;
    // The camera's recording time in ISO 8601 with its offset ("2008-12-31T23:16:24+01:00"), ""
    // when the stream carries none.
    std::string RecordedText() const;
    // The time a name is made from: the camera's wall clock, else the file's time in the
    // computer's zone.
    NameTime TimeForName() const;
    // Reads the recording time from the first file, once, as the grid reads it.
    void ReadTime();
};

// The recordings below a folder, in the grid's order, each split recording as one (as the card's
// playlist joins them, whatever the grid's setting). Nothing when the folder holds no clips.
std::vector<CardRecording> FindCardRecordings(const std::string& folder);

// The recording a clip of a list belongs to, joined: a file that continues a recording gives its
// whole recording. Nothing for an empty slot.
std::optional<CardRecording> RecordingOfClip(const CClipDetails& clips, int index);
