#pragma once
#include <string>

// The program's thirteen persistent settings. Each is read at every use and never cached, so a
// change made by one part of the program is seen by the very next read anywhere, on any thread.
// Every failure is silent: a read that fails leaves the caller's default, a write that fails is lost.

// `value` holds the default on entry and receives the stored text when a usable string is stored.
void ReadStringSetting(const char* name, std::string& value);
// `flag` holds the default on entry and becomes (stored number != 0) when a usable number is stored.
void ReadBoolSetting(const char* name, bool& flag);
void WriteStringSetting(const char* name, const std::string& text);
void WriteBoolSetting(const char* name, bool flag);

bool GetWriteThumbnails();
std::string GetFFmpegExe();
std::string GetFFmpegParams();

namespace settings {

// A setting is its name and its default together, so no caller repeats either.
struct BoolSetting {
    const char* name;
    bool defaultValue;

    bool Read() const
    {
        bool flag = defaultValue;
        ReadBoolSetting(name, flag);
        return flag;
    }
    void Write(bool flag) const { WriteBoolSetting(name, flag); }
};

struct StringSetting {
    const char* name;
    const char* defaultValue;

    std::string Read() const
    {
        std::string text = defaultValue;
        ReadStringSetting(name, text);
        return text;
    }
    void Write(const std::string& text) const { WriteStringSetting(name, text); }
};

inline constexpr StringSetting LastDirectory{"LastDirectory", ""};
inline constexpr BoolSetting GenerateThumbnails{"GenerateThumbnails", false};
inline constexpr BoolSetting WriteThumbnails{"WriteThumbnails", true};
inline constexpr BoolSetting UseFFmpeg{"UseFFmpeg", false};
inline constexpr StringSetting FFmpegExe{"FFmpegExe", "/usr/bin/ffmpeg"};
inline constexpr BoolSetting WriteToSubdir{"WriteToSubdir", false};
inline constexpr BoolSetting SplitDates{"SplitDates", true};
inline constexpr StringSetting FFmpegParams{"FFmpegParams", "-i \"%IN%\" -vframes 1 -s 416x234 -vcodec mjpeg %OUT%"};
// Thumbnails are taken from and given to the desktop's shared thumbnail cache (the one file
// managers keep under ~/.cache/thumbnails).
inline constexpr BoolSetting ShareThumbnails{"ShareThumbnails", true};
// A recording that the camera split across files (its card's playlist says so) is one clip.
inline constexpr BoolSetting JoinSplitRecordings{"JoinSplitRecordings", true};
// Where recordings are imported to; empty: "Camcorder" in the user's videos folder.
inline constexpr StringSetting ImportFolder{"ImportFolder", ""};
// How an imported recording is named: strftime fields of its recording time, "/" between folders.
inline constexpr StringSetting ImportNames{"ImportNames", "%Y/%Y-%m-%d/%Y-%m-%d %H-%M-%S"};
// Moving the pointer across a clip's picture runs through the recording (skimming).
inline constexpr BoolSetting SkimClips{"SkimClips", true};

// Longest stored string, terminating NUL included, that a read accepts.
inline constexpr std::size_t kMaxStringBytes = 1023;

}  // namespace settings
