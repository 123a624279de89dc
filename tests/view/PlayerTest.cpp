// Playing with the player the user has, against desktops set up by the test: .desktop files and
// mimeapps.list under XDG_DATA_HOME and XDG_CONFIG_HOME, and the system's MIME database alone
// (no system programs), each run in a process of its own.
#include "support/Clips.h"
#include "support/TempDir.h"
#include "view/Playlist.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

class PlayerTest : public ::testing::Test {
protected:
    PlayerTest()
    {
        MakeDirs(dir_ / "sys");
        MakeDirs(dir_ / "tmp");
        symlink("/usr/share/mime", (dir_ / "sys/mime").c_str());
        const std::string script = dir_ / "record.sh";
        // One "run <program>" line per start, then a line per file it was given.
        WriteFile(script, "#!/bin/sh\n{ printf 'run %s\\n' \"$1\"; shift; for f; do printf '%s\\n' \"$f\"; done; } >> " +
                              ShellQuote(record_) + "\n");
        chmod(script.c_str(), 0755);
        clips_ = {dir_ / "Anna & Tom/00000.MTS", dir_ / "Anna & Tom/00001.m2ts"};
        for (const std::string& clip : clips_)
            WriteFile(clip, "x");
    }

    // A program for a type, as the desktop records one that was installed or chosen for it (an
    // association, not a default); `exec` stands in for the recording script.
    void Register(const std::string& id, const std::string& name, const std::string& type,
                  const std::string& extraLines = {}, const std::string& files = "%F")
    {
        WriteFile(dir_ / ("data/applications/" + id + ".desktop"),
                  "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + (dir_ / "record.sh") + " " + id +
                      " " + files + "\nMimeType=" + type + ";\n" + extraLines);
        associations_ += type + "=" + id + ".desktop;\n";
        WriteFile(dir_ / "config/mimeapps.list", "[Added Associations]\n" + associations_);
    }

    // What the run printed.
    std::string Play(const std::string& how, const std::vector<std::string>& paths, const std::string& env = {})
    {
        std::string command = env + " HOME=" + ShellQuote(dir_ / "home") + " XDG_DATA_HOME=" + ShellQuote(dir_ / "data") +
                              " XDG_CONFIG_HOME=" + ShellQuote(dir_ / "config") + " XDG_DATA_DIRS=" +
                              ShellQuote(dir_ / "sys") + " TMPDIR=" + ShellQuote(dir_ / "tmp") + " " + ShellQuote(PLAY_CHECK) + " " + how;
        for (const std::string& path : paths)
            command += " " + ShellQuote(path);
        EXPECT_EQ(Shell(command + " > " + ShellQuote(dir_ / "out.txt")), 0);
        return ReadFile(dir_ / "out.txt");
    }

    // What the programs were given, once they have been started.
    std::string Record()
    {
        for (int i = 0; i < 200 && ReadFile(record_).empty(); ++i)
            std::this_thread::sleep_for(50ms);
        std::this_thread::sleep_for(100ms);
        const std::string text = ReadFile(record_);
        WriteFile(record_, "");
        return text;
    }

    std::string Playlist() const { return dir_ / ("tmp/viewmere-" + std::to_string(getuid()) + "/AVCHD.wpl"); }

    TempDir dir_;
    std::string record_ = dir_ / "record.txt";
    std::vector<std::string> clips_;
    std::string associations_;
};

}  // namespace

TEST_F(PlayerTest, AWplHandlerGetsThePlaylist)
{
    Register("wpl", "List Player", "application/vnd.ms-wpl");
    Register("video", "Clip Player", "video/mp2t");
    const std::string out = Play("list", clips_);
    EXPECT_EQ(out, "LOG: Playing [" + Playlist() + "] with List Player\n");
    EXPECT_EQ(Record(), "run wpl\n" + Playlist() + "\n");
    EXPECT_EQ(ReadFile(Playlist()), MakePlaylistText(clips_));

    // A name that is not UTF-8 cannot be written into the playlist: the clips go to the video
    // player, which is given them by their file URIs.
    const std::string odd = dir_ / "caf\xe9.MTS";
    WriteFile(odd, "x");
    EXPECT_EQ(Play("list", {clips_[0], odd}), "LOG: Playing 2 clips with Clip Player\n");
    EXPECT_EQ(Record(), "run video\n" + clips_[0] + "\n" + odd + "\n");
}

TEST_F(PlayerTest, WithOnlyAVideoHandlerAllClipsGoToItAtOnce)
{
    Register("video", "Clip Player", "video/mp2t");
    EXPECT_EQ(Play("list", clips_), "LOG: Playing 2 clips with Clip Player\n");
    EXPECT_EQ(Record(), "run video\n" + clips_[0] + "\n" + clips_[1] + "\n");
    EXPECT_EQ(ReadFile(Playlist()), MakePlaylistText(clips_));  // written all the same

    EXPECT_EQ(Play("clip", {clips_[1]}), "LOG: Playing [" + clips_[1] + "] with Clip Player\n");
    EXPECT_EQ(Record(), "run video\n" + clips_[1] + "\n");
}

TEST_F(PlayerTest, WithoutAnyPlayerOrWhenItCannotStartOneBoxAndALogLineSaySo)
{
    const std::string noPlayer =
        "BOX: There is no program to play the clips.\n\nInstall a video player, or choose one for video clips "
        "(video/mp2t) in the desktop's settings.\n"
        "LOG: No program is registered for application/vnd.ms-wpl or for video/mp2t; nothing was played\n";
    EXPECT_EQ(Play("list", clips_), noPlayer);
    EXPECT_EQ(ReadFile(Playlist()), MakePlaylistText(clips_));
    EXPECT_EQ(Play("clip", {clips_[0]}), noPlayer);

    // A player that cannot be started (it runs in a terminal, and there is none): Play Clip
    // says why.
    Register("broken", "Broken Player", "video/mp2t", "Terminal=true\n");
    const std::string out = Play("clip", {clips_[0]}, "PATH=" + ShellQuote(dir_ / "no-programs"));
    EXPECT_EQ(out.rfind("BOX: Could not start Broken Player to play the clips.\n\n", 0), 0u) << out;
    EXPECT_NE(out.find("LOG: Failed to start Broken Player to play [" + clips_[0] + "]: "), std::string::npos) << out;
    EXPECT_TRUE(ReadFile(record_).empty());
}

// A player that takes one file a run (%f, %u) would be started once for every part of a split
// recording, all playing at once: a recording starts one player with every part in order,
// through the playlist where there is a program for it, else with its first file alone.
TEST_F(PlayerTest, ASplitRecordingStartsOnePlayerWhateverFilesItTakes)
{
    Register("video", "Clip Player", "video/mp2t", {}, "%u");
    EXPECT_EQ(Play("clip", clips_), "LOG: Playing [" + clips_[0] +
                                        "] with Clip Player, which takes one file at a time; 1 more file is not played\n");
    EXPECT_EQ(Record(), "run video\n" + clips_[0] + "\n");
    EXPECT_EQ(Play("list", clips_), "LOG: Playing [" + clips_[0] +
                                        "] with Clip Player, which takes one file at a time; 1 more file is not played\n");
    EXPECT_EQ(Record(), "run video\n" + clips_[0] + "\n");

    Register("wpl", "List Player", "application/vnd.ms-wpl", {}, "%f");
    EXPECT_EQ(Play("clip", clips_), "LOG: Playing [" + Playlist() + "] with List Player\n");
    EXPECT_EQ(Record(), "run wpl\n" + Playlist() + "\n");
    EXPECT_EQ(ReadFile(Playlist()), MakePlaylistText(clips_));
}
