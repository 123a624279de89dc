#pragma once
#include "model/RecordingTime.h"

#include <string>
#include <string_view>

// What a clip file of any kind tells about itself, read as the background reader and the
// listing read it:
// - a transport stream (.MTS, .m2ts): the camera's date in its video and its duration (see
//   ReadClipStreamFacts);
// - an MP4 or QuickTime clip (.MP4, .MOV): the camera's XML description beside it (C0001M01.XML
//   beside C0001.MP4: its creation date with the camera's zone, its length in frames and the
//   camera's model), else the movie header inside the file (its creation time in UTC and its
//   length). The file itself is not read when its description gives both time and length.
// A description or movie header that cannot be read is logged once and passed over.
ClipStreamFacts ReadClipFacts(const std::string& clipPath, bool withDuration = false);

// The description a camera writes beside an MP4 clip: the clip's name without its extension and
// "M01.XML" ("C0001M01.XML" for "C0001.MP4"), "m01.xml" for a name in lower case.
std::string ClipDescriptionName(std::string_view clipName, bool lowerCase);
