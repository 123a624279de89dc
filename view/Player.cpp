#include "view/Player.h"

#include "log/EventLog.h"
#include "platform/DesktopApps.h"
#include "platform/FileSystem.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/Utf8.h"
#include "view/Playlist.h"

#include <algorithm>

namespace {

constexpr const char* kCaption = "Viewmere";

void Warn(const std::string& text)
{
    platform::ShowMessageBox(text, kCaption, platform::MessageBoxIcon::Warning);
}

// The clips' type by the first clip's name; a name that says nothing, or something other than
// video, counts as a camcorder's stream.
std::string ClipType(const std::string& path)
{
    const std::string type = platform::MimeTypeOfName(path);
    return type.rfind("video/", 0) == 0 ? type : kClipMimeType;
}

void ReportLaunch(const platform::DesktopLaunch& launch, const std::string& what,
                  const std::vector<std::string>& paths = {})
{
    if (launch.started && launch.firstFileOnly) {
        const std::size_t rest = paths.size() - 1;
        LogEvent("Playing [%s] with %s, which takes one file at a time; %zu more file%s not played",
                 paths.front().c_str(), launch.program.c_str(), rest, rest == 1 ? " is" : "s are");
        return;
    }
    if (launch.started) {
        LogEvent("Playing %s with %s", what.c_str(), launch.program.c_str());
        return;
    }
    LogEvent("Failed to start %s to play %s: %s", launch.program.c_str(), what.c_str(), launch.error.c_str());
    Warn(platform::FormatString("Could not start %s to play the clips.\n\n%s", launch.program.c_str(),
                                launch.error.c_str()));
}

void ReportNoPlayer(const std::string& type)
{
    LogEvent("No program is registered for %s or for %s; nothing was played", kPlaylistMimeType, type.c_str());
    Warn(platform::FormatString("There is no program to play the clips.\n\nInstall a video player, or choose one "
                                "for video clips (%s) in the desktop's settings.",
                                type.c_str()));
}

// A playlist names its clips in XML text, which cannot hold a name that is not UTF-8.
bool PlaylistNamesEveryClip(const std::vector<std::string>& paths)
{
    return std::all_of(paths.begin(), paths.end(),
                       [](const std::string& path) { return platform::DisplayUtf8(path) == path; });
}

}  // namespace

void PlayClipsWithUsersPlayer(const std::vector<std::string>& paths)
{
    std::string playlist;
    WritePlaylistFile(paths, playlist);  // a failure is not reported; the player is asked anyway
    const std::string type = paths.empty() ? std::string(kClipMimeType) : ClipType(paths.front());
    // Clips the playlist cannot name go to the video player by their file URIs where there is one.
    if (!playlist.empty() && platform::HasProgramFor(kPlaylistMimeType) &&
        (PlaylistNamesEveryClip(paths) || !platform::HasProgramFor(type))) {
        ReportLaunch(platform::OpenWithProgramFor(kPlaylistMimeType, {playlist}), "[" + playlist + "]");
        return;
    }
    if (paths.empty())
        return;  // no playlist player, and nothing to hand to another
    if (!platform::HasProgramFor(type)) {
        ReportNoPlayer(type);
        return;
    }
    const std::string what = platform::FormatString("%zu clip%s", paths.size(), paths.size() == 1 ? "" : "s");
    ReportLaunch(platform::OpenWithProgramFor(type, paths), what, paths);
}

void PlayClipWithUsersPlayer(const std::vector<std::string>& files)
{
    if (files.empty())
        return;
    const std::string type = ClipType(files.front());
    // A recording the camera split plays in one player, every part in order: a video player that
    // takes one file a run gets the parts through the playlist, as Play Selection gives them.
    if (files.size() > 1 && !platform::TakesSeveralFiles(type) && platform::HasProgramFor(kPlaylistMimeType)) {
        PlayClipsWithUsersPlayer(files);
        return;
    }
    if (!platform::HasProgramFor(type)) {
        ReportNoPlayer(type);
        return;
    }
    const std::string what = files.size() == 1 ? "[" + files.front() + "]"
                                               : platform::FormatString("[%s] and the %zu files that continue it",
                                                                        files.front().c_str(), files.size() - 1);
    ReportLaunch(platform::OpenWithProgramFor(type, files), what, files);
}

bool ReportMissingClips(const std::vector<std::string>& paths)
{
    int missing = 0;
    const std::string* first = nullptr;
    for (const std::string& path : paths)
        if (!platform::FileExists(path) && ++missing == 1)
            first = &path;
    if (missing == 0)
        return false;
    LogEvent("%d clip%s no longer there, among them [%s]; the card may have been removed", missing,
             missing == 1 ? " is" : "s are", first->c_str());
    if (missing == 1)
        Warn(platform::FormatString("The clip [%s] is no longer there.\n\nThe card that holds it may have been "
                                    "removed.",
                                    first->c_str()));
    else
        Warn(platform::FormatString("%d of the clips are no longer there, among them [%s].\n\nThe card that holds "
                                    "them may have been removed.",
                                    missing, first->c_str()));
    return true;
}
