#pragma once
#include "model/RecordingTime.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The XML files a camera that records XAVC S writes beside its MP4 clips (below PRIVATE/M4ROOT):
// each clip's own description, CLIP/C0001M01.XML beside CLIP/C0001.MP4, and the card's list of
// clips, MEDIAPRO.XML. Both are read with the XML reader (no DTD, no entities) after a size check.

// What a clip's description (its root element NonRealTimeMeta) says. Any of it may be missing.
struct ClipDescription {
    // CreationDate: the camera's wall clock and the offset from UTC it was set to
    // ("2016-01-03T06:10:57-04:00"), as an AVCHD camera's stream time is shown.
    std::optional<RecordingTime> created;
    // Duration (frames) at the rate of the LtcChangeTable (tcFps frames a second, twice as many
    // with halfStep="true"), less 1 in 1001 where the VideoFrame's formatFps says the rate is a
    // 1000/1001 one ("59.94p").
    std::optional<double> duration;
    // Device: its manufacturer and modelName ("Sony ILCE-7M3"), control characters dropped.
    std::string device;
};

// A description from its bytes; nothing, with the reason in `problem`, when they are no readable
// XML or their root is not a clip's description. A field whose value is malformed or impossible
// (a 31 February, a rate of 0) is left out, never guessed.
std::optional<ClipDescription> ParseClipDescription(std::span<const std::uint8_t> document, std::string& problem);

// One clip of the card's list: the clip's uri and its picture's (the RelevantInfo of type JPG),
// as written, relative to the M4ROOT folder ("./CLIP/C0001.MP4", "./THMBNL/C0001T01.JPG").
struct MediaProfileClip {
    std::string clip;
    std::string picture;
};
std::optional<std::vector<MediaProfileClip>> ParseMediaProfile(std::span<const std::uint8_t> document,
                                                               std::string& problem);

// A clip's description is a few KB, the card's list some hundred bytes a clip.
inline constexpr std::size_t kMaxClipDescriptionBytes = 1024 * 1024;
inline constexpr std::size_t kMaxMediaProfileBytes = 16 * 1024 * 1024;

// The same from files; a file larger than its limit is not read.
std::optional<ClipDescription> ReadClipDescription(const std::string& path, std::string& problem);
std::optional<std::vector<MediaProfileClip>> ReadMediaProfile(const std::string& path, std::string& problem);

// An xs:dateTime with its offset from UTC ("2016-01-03T06:10:57-04:00", "...Z", a fraction of
// a second allowed and dropped), or nothing when it is malformed, impossible or has no offset.
std::optional<RecordingTime> ParseDateTimeWithOffset(std::string_view text);
