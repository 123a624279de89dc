#pragma once
#include <string>
#include <vector>

// Playing clips with the player the user has. Many players read no WPL playlist, so the
// playlist goes to a program registered for it, and otherwise all the clips go at once to the
// desktop's program for their type, which plays them as one queue. When there is no program,
// or it cannot be started, one box says so and the log keeps a line.

// Play Selection and Play All. AVCHD.wpl is written in any case, as it always was.
void PlayClipsWithUsersPlayer(const std::vector<std::string>& paths);

// Play Clip: the desktop's program for the clip's type, given every file of the clip (the files
// of a recording the camera split, in order) to play as one queue.
void PlayClipWithUsersPlayer(const std::vector<std::string>& files);

// The clips of a card that was pulled out: one box and a log line when any of the files is no
// longer there, naming the first. True when any is missing.
bool ReportMissingClips(const std::vector<std::string>& paths);

// The type that clips are given when their name does not tell one: AVCHD streams are MPEG
// transport streams.
inline constexpr const char* kClipMimeType = "video/mp2t";
inline constexpr const char* kPlaylistMimeType = "application/vnd.ms-wpl";
