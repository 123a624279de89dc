// The built program itself, started as a user starts it, on a display: ended by signals, and
// run against a card full of hostile files.
#include "app/ViewmereApp.h"
#include "gui/RealInput.h"
#include "imaging/RgbImage.h"
#include "platform/FileSystem.h"
#include "settings/Settings.h"
#include "support/CardLayout.h"
#include "support/Clips.h"
#include "support/JpegFixtures.h"
#include "support/MdpmClips.h"
#include "support/Processes.h"
#include "support/TempDir.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

extern char** environ;

using namespace testing_support;
using namespace std::chrono_literals;

namespace {


bool WaitFor(std::chrono::milliseconds limit, const std::function<bool()>& done)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// The viewer, started with the test's environment (its settings home and temporary folder).
class Program {
public:
    // With `errors`, what the program writes to stderr goes to that file.
    explicit Program(const std::string& workingFolder, const char* argument = nullptr, const std::string& errors = {})
    {
        const char* argv[] = {VIEWMERE_PROGRAM, argument, nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
        if (!errors.empty())
            posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&pid_, VIEWMERE_PROGRAM, &actions, nullptr, const_cast<char**>(argv), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Program()
    {
        if (pid_ > 0 && !ended_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    int Pid() const { return pid_; }
    bool StillRunning()
    {
        if (ended_)
            return false;
        ended_ = waitpid(pid_, &status_, WNOHANG) == pid_;
        return !ended_;
    }
    // Sends the signal and waits for the program to end; its wait status, or -1.
    int EndWith(int signal)
    {
        kill(pid_, signal);
        return WaitFor(15s, [&] { return !StillRunning(); }) ? status_ : -1;
    }

private:
    pid_t pid_ = -1;
    int status_ = 0;
    bool ended_ = false;
};

std::string PrivateTemp(const TempDir& dir)
{
    return dir / ("tmp/viewmere-" + std::to_string(getuid()));
}

std::vector<std::string> FilesUnder(const std::string& root, const std::string& pattern)
{
    const std::string list = root + "/found.txt";
    Shell("find " + ShellQuote(root) + " -name " + ShellQuote(pattern) + " ! -name found.txt > " + ShellQuote(list));
    std::vector<std::string> files;
    std::ifstream in(list);
    for (std::string line; std::getline(in, line);)
        files.push_back(line);
    std::remove(list.c_str());
    return files;
}

// Where the screen shows the selection's colour: the selected cell, empty when none shows.
wxRect SelectionOnScreen()
{
    const wxImage screen = gui_testing::ScreenShot(wxRect(0, 0, 1920, 1080));
    wxRect selected;
    for (int y = 0; y < screen.GetHeight(); ++y)
        for (int x = 0; x < screen.GetWidth(); ++x)
            if (screen.GetRed(x, y) == 192 && screen.GetGreen(x, y) == 128 && screen.GetBlue(x, y) == 255)
                selected = selected.IsEmpty() ? wxRect(x, y, 1, 1) : selected.Union(wxRect(x, y, 1, 1));
    return selected;
}

class ProgramTest : public ::testing::Test {
protected:
    ProgramTest()
        : config_("XDG_CONFIG_HOME", dir_ / "config"), tmp_("TMPDIR", dir_ / "tmp"), home_("HOME", dir_ / "home")
    {
        MakeDirs(dir_ / "tmp");
        MakeDirs(dir_ / "home");
    }
    TempDir dir_;
    ScopedEnv config_;
    ScopedEnv tmp_;
    ScopedEnv home_;
};

}  // namespace

TEST_F(ProgramTest, SignalsEndItAsExitDoesWithItsFFmpegAndTemporaryFiles)
{
    WriteFile(dir_ / "card/00000.MTS", "a clip");
    const std::string wrapper = dir_ / "ffmpeg-wrapper.sh";
    // A user's wrapper around ffmpeg that takes its time: it starts a child and waits for it.
    WriteFile(wrapper, "#!/bin/sh\necho $$ > " + ShellQuote(dir_ / "wrapper.pid") +
                           "\nfor a; do out=\"$a\"; done\ntouch \"$out\"\nsleep 60 &\necho $! > " +
                           ShellQuote(dir_ / "sleep.pid") + "\nwait\n");
    chmod(wrapper.c_str(), 0755);
    settings::LastDirectory.Write(dir_ / "card");
    settings::GenerateThumbnails.Write(true);
    settings::UseFFmpeg.Write(true);
    settings::FFmpegExe.Write(wrapper);

    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        // What a run that was killed left behind goes at the next start; a fresh file stays.
        MakeDirs(PrivateTemp(dir_));
        WriteFile(PrivateTemp(dir_) + "/avchd4242.jpg", "stale");
        WriteFile(PrivateTemp(dir_) + "/AVCHD.wpl.part", "stale");
        Shell("touch -d '1 hour ago' " + ShellQuote(PrivateTemp(dir_)) + "/*");
        WriteFile(PrivateTemp(dir_) + "/avchd4343.jpg", "being written by another run");
        std::remove((dir_ / "sleep.pid").c_str());

        Program program(dir_.Path());
        ASSERT_TRUE(WaitFor(20s, [&] { return !ReadFile(dir_ / "sleep.pid").empty(); }));
        const int wrapperPid = std::atoi(ReadFile(dir_ / "wrapper.pid").c_str());
        const int sleepPid = std::atoi(ReadFile(dir_ / "sleep.pid").c_str());
        EXPECT_TRUE(ProcessRunning(wrapperPid) && ProcessRunning(sleepPid));

        const int status = program.EndWith(signal);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_TRUE(WaitFor(3s, [&] { return !ProcessRunning(wrapperPid) && !ProcessRunning(sleepPid); }));
        std::vector<platform::DirEntry> left;
        platform::ListDirectory(PrivateTemp(dir_), left);
        ASSERT_EQ(left.size(), 1u);
        EXPECT_EQ(left[0].name, "avchd4343.jpg");
        std::remove((PrivateTemp(dir_) + "/avchd4343.jpg").c_str());
    }
}

TEST_F(ProgramTest, EndedWhileGrabsRunItHoldsNoClipAgainstAndTheNextStartMakesEveryThumbnail)
{
    // A card of 40 real clips without thumbnails; a logout or Ctrl+C ends the viewer mid-work.
    const std::string stream = dir_ / "card/PRIVATE/AVCHD/BDMV/STREAM";
    MakeDirs(stream);
    std::vector<std::string> clips;
    for (int i = 0; i < 40; ++i) {
        clips.push_back(stream + "/0000" + std::to_string(i / 10) + std::to_string(i % 10) + ".MTS");
        ASSERT_EQ(link(TestClips().interlaced1080.c_str(), clips.back().c_str()), 0);
    }
    const ScopedEnv cache("XDG_CACHE_HOME", dir_ / "cache");  // where failures are remembered
    settings::LastDirectory.Write(dir_ / "card");
    settings::GenerateThumbnails.Write(true);
    auto made = [&] {
        return std::count_if(clips.begin(), clips.end(),
                             [](const std::string& clip) { return platform::FileExists(clip + ".viewmere.jpg"); });
    };
    for (const int wanted : {6, 40}) {  // ended while grabs run, then started again
        Program program(dir_.Path());
        EXPECT_TRUE(WaitFor(90s, [&] { return made() >= wanted; })) << made();
        EXPECT_TRUE(wanted == 40 || made() < 40);
        const int status = program.EndWith(SIGTERM);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_TRUE(FilesUnder(dir_ / "cache", "*.failed").empty());
}

// A card whose thumbnails are all made, and a clip of which was skimmed, can be unmounted while
// the viewer stays open: neither the viewer nor its grab workers keep a clip, or any other file
// or folder of the card, open.
// Once through the grab workers, once with thumbnails made in the viewer's own process.
TEST_F(ProgramTest, ACardWhoseThumbnailsAreMadeUnmountsWhileTheViewerStaysOpen)
{
    const std::string image = dir_ / "card.img", card = dir_ / "card";
    MakeDirs(card);
    if (Shell("truncate -s 64M " + ShellQuote(image) + " && mkfs.ext4 -q -F " + ShellQuote(image) +
              " >/dev/null 2>&1 && mount -o loop " + ShellQuote(image) + " " + ShellQuote(card) + " 2>/dev/null") != 0)
        GTEST_SKIP() << "this machine does not let an image be loop-mounted";
    struct Unmount {
        std::string card;
        ~Unmount() { Shell("umount -l " + ShellQuote(card) + " 2>/dev/null"); }
    } unmount{card};
    const std::string stream = card + "/PRIVATE/AVCHD/BDMV/STREAM";
    MakeDirs(stream);
    std::vector<std::string> clips;
    for (const std::string& clip : {TestClips().interlaced1080, TestClips().progressive720, TestClips().anamorphic1440}) {
        clips.push_back(stream + "/0000" + std::to_string(clips.size()) + ".MTS");
        ASSERT_EQ(Shell("cp " + ShellQuote(clip) + " " + ShellQuote(clips.back())), 0);
    }
    settings::LastDirectory.Write(card);
    settings::GenerateThumbnails.Write(true);
    WriteFile(dir_ / "broken-worker.sh", "#!/bin/sh\nexec " + ShellQuote(GRAB_WORKER) + " --exit-at-start\n");
    ASSERT_EQ(chmod((dir_ / "broken-worker.sh").c_str(), 0700), 0);
    for (const std::string& worker : {std::string(GRAB_WORKER), dir_ / "broken-worker.sh"}) {
        SCOPED_TRACE(worker);
        const ScopedEnv workerCommand("VIEWMERE_GRAB_WORKER", worker);
        const ScopedEnv cache("XDG_CACHE_HOME", dir_ / ("cache-" + std::to_string(worker.size())));  // nothing shared
        ASSERT_EQ(Shell("mount | grep -q " + ShellQuote(card) + " || mount -o loop " + ShellQuote(image) + " " +
                        ShellQuote(card)),
                  0);
        for (const std::string& clip : clips)
            std::remove((clip + ".viewmere.jpg").c_str());
        Program program(dir_.Path());
        EXPECT_TRUE(WaitFor(60s, [&] {
            return std::all_of(clips.begin(), clips.end(),
                               [](const std::string& clip) { return platform::FileExists(clip + ".viewmere.jpg"); });
        }));
        // The pointer swept down the first clips: a strip is made of the one it rests on.
        const std::string strips = dir_ / ("cache-" + std::to_string(worker.size()) + "/viewmere/strips");
        EXPECT_EQ(Shell("for y in 150 200 250 300 350 400; do xdotool mousemove 200 $y; sleep 0.3; done"), 0);
        EXPECT_TRUE(WaitFor(20s, [&] { return !FilesUnder(strips, "*.strip").empty(); }));
        std::vector<std::string> held;
        EXPECT_TRUE(WaitFor(10s, [&] { return (held = OpenFilesBelow(ProcessTree(program.Pid()), card)).empty(); }))
            << held.front();
        EXPECT_EQ(Shell("umount " + ShellQuote(card)), 0);
        EXPECT_TRUE(program.StillRunning());
        const int status = program.EndWith(SIGTERM);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
}

TEST_F(ProgramTest, ASignalEndsItWhileAWarningBoxIsUp)
{
    // An index file too short to use: the folder scan stops on a warning box until answered.
    CardOptions camera;
    WriteCard(dir_ / "card", camera);
    WriteFile(dir_ / "card/PRIVATE/AVCHD/AVCHDTN/THUMB.TID", "abc");
    settings::LastDirectory.Write(dir_ / "card");
    Program program(dir_.Path());
    const std::string windows = dir_ / "windows.txt";
    auto titledWindows = [&] {
        Shell("xdotool search --onlyvisible --name '^Viewmere$' > " + ShellQuote(windows) + " 2>/dev/null");
        const std::string ids = ReadFile(windows);
        return std::count(ids.begin(), ids.end(), '\n');
    };
    ASSERT_TRUE(WaitFor(20s, [&] { return titledWindows() >= 2; }));  // the main window and the box
    const int status = program.EndWith(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(ProgramTest, AHostileCardNeitherStopsNorHangsItAndGoodClipsGetThumbnails)
{
    const ClipSet& clips = TestClips();
    const std::string card = dir_ / "card";
    auto copy = [&](const std::string& from, const std::string& to) {
        MakeDirs(to.substr(0, to.rfind('/')));
        ASSERT_EQ(Shell("cp " + ShellQuote(from) + " " + ShellQuote(to)), 0);
    };
    std::vector<std::string> good = {card + "/good/00000.MTS", card + "/good/00001.m2ts",
                                      card + "/odd/quote\"d $(touch HACKED) & amp\nline\xff.MTS",
                                      card + "/odd/fifo.MTS"};
    copy(clips.interlaced1080, good[0]);
    copy(clips.progressive720, good[1]);
    copy(clips.anamorphic1440, good[2]);
    copy(clips.progressive720, good[3]);
    ASSERT_EQ(mkfifo((good[3] + ".viewmere.jpg").c_str(), 0600), 0);
    const std::string onePixel = card + "/odd/onepixel.MTS";
    ASSERT_EQ(Shell("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=64x64:rate=25:duration=1 "
                    "-vf scale=1:64,format=yuv444p -c:v libx264 -preset ultrafast -f mpegts -mpegts_m2ts_mode 1 " +
                    ShellQuote(onePixel)),
              0);
    good.push_back(onePixel);
    copy(clips.empty, card + "/odd/empty.MTS");
    ASSERT_EQ(Shell("ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=440:duration=1 -c:a ac3 "
                    "-f mpegts -mpegts_m2ts_mode 1 " + ShellQuote(card + "/odd/audio.MTS")),
              0);
    // A clip that crashes the decoder every time it is tried; the grab workers are the built
    // ones behind a wrapper that keeps a copy of every request they are sent.
    const std::string crashing = card + "/odd/00009 CRASH.MTS";
    copy(clips.progressive720, crashing);
    const std::string requests = dir_ / "requests";
    WriteFile(dir_ / "worker.sh", "#!/bin/sh\ntee -a " + ShellQuote(requests) + " | " + ShellQuote(GRAB_WORKER) +
                                      " --crash-on CRASH\n");
    ASSERT_EQ(chmod((dir_ / "worker.sh").c_str(), 0700), 0);
    const ScopedEnv worker("VIEWMERE_GRAB_WORKER", dir_ / "worker.sh");
    auto timesTried = [&](const std::string& clip) {
        const std::string sent = ReadFile(requests);
        int count = 0;
        for (std::size_t at = sent.find(clip); at != std::string::npos; at = sent.find(clip, at + 1))
            ++count;
        return count;
    };
    ASSERT_EQ(symlink(".", (card + "/loop").c_str()), 0);
    ASSERT_EQ(symlink("..", (card + "/odd/up").c_str()), 0);
    // A camera folder whose thumbnail file declares a huge picture in a block that ends early.
    CardOptions camera;
    camera.clips = {"00000.MTS"};
    camera.thumbnailBlocks = 1;
    WriteCard(card + "/zz-camera", camera);
    std::string block = SolidJpeg(416, 240, 1, 2, 3, Sampling::k422);
    for (std::size_t i = 0; i + 8 < block.size(); ++i)
        if (static_cast<unsigned char>(block[i]) == 0xFF && static_cast<unsigned char>(block[i + 1]) == 0xC0) {
            block[i + 5] = block[i + 7] = static_cast<char>(8000 >> 8);
            block[i + 6] = block[i + 8] = static_cast<char>(8000 & 0xFF);
            break;
        }
    WriteFile(card + "/zz-camera/PRIVATE/AVCHD/AVCHDTN/THUMB.TDT", PackBlocks({block.substr(0, 4000)}));

    settings::LastDirectory.Write(card);
    settings::GenerateThumbnails.Write(true);
    // The warning a person would dismiss about the camera folder: Return, with the pointer over it.
    gui_testing::BackgroundCommand person(
        "for i in $(seq 60); do xdotool mousemove 860 350 key Return; sleep 1; done");

    auto thumbnailsOfGoodClips = [&] {
        int made = 0;
        for (const std::string& clip : good) {
            CRgbImage picture;
            try {
                made += picture.LoadJpegFile(clip + ".viewmere.jpg", CRgbImage::DecodeRules{CRgbImage::kMaxPixels, true});
            } catch (const std::exception&) {
            }
        }
        return made;
    };
    {
        const auto start = std::chrono::steady_clock::now();
        Program program(dir_.Path());
        EXPECT_TRUE(WaitFor(60s, [&] { return thumbnailsOfGoodClips() == static_cast<int>(good.size()); }))
            << thumbnailsOfGoodClips();
        std::this_thread::sleep_until(start + 30s);
        EXPECT_TRUE(program.StillRunning());
        EXPECT_EQ(timesTried(crashing), 1);
        EXPECT_EQ(timesTried(good[0]), 1);  // made by a worker, not in the viewer
        const int status = program.EndWith(SIGTERM);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    // Started again on the same card, from the files it wrote.
    {
        Program program(dir_.Path());
        std::this_thread::sleep_for(10s);
        EXPECT_TRUE(program.StillRunning());
        const int status = program.EndWith(SIGTERM);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_EQ(thumbnailsOfGoodClips(), static_cast<int>(good.size()));
    EXPECT_EQ(timesTried(crashing), 1);  // the failure record kept it from being tried again
    EXPECT_FALSE(platform::FileExists(crashing + ".viewmere.jpg"));
    EXPECT_TRUE(FilesUnder(card, "*.part").empty());
    EXPECT_TRUE(FilesUnder(dir_.Path(), "HACKED").empty());
    EXPECT_FALSE(platform::FileExists(card + "/odd/empty.MTS.viewmere.jpg"));
    EXPECT_FALSE(platform::FileExists(card + "/odd/audio.MTS.viewmere.jpg"));
}

TEST_F(ProgramTest, ListingVersionAndHelpWorkWithoutADisplay)
{
    const std::string card = dir_ / "card";
    MakeDirs(card);
    MakeDatedClip(card + "/00000.MTS", 0x2a, 2009, 7, 4, 9, 5, 33);  // five hours west of UTC
    WriteFile(card + "/00001.MTS", "no camera date");
    SetModificationTime(card + "/00001.MTS", 1236434709);
    const std::string size = std::to_string(ReadFile(card + "/00000.MTS").size());
    // The program with no display at all; what it printed, and its exit status.
    auto run = [&](const std::string& arguments, std::string& out, std::string& errors) {
        const int status = Shell("env -u DISPLAY -u WAYLAND_DISPLAY " + ShellQuote(VIEWMERE_PROGRAM) + " " + arguments +
                                 " > " + ShellQuote(dir_ / "out.txt") + " 2> " + ShellQuote(dir_ / "errors.txt"));
        out = ReadFile(dir_ / "out.txt");
        errors = ReadFile(dir_ / "errors.txt");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    std::string out, errors;
    EXPECT_EQ(run("--list " + ShellQuote(card), out, errors), 0);
    EXPECT_EQ(out, card + "/00000.MTS\t" + size + "\t2009-07-04T09:05:33-05:00\tstream\t1.000\t1/1\n" + card +
                       "/00001.MTS\t14\t2009-03-07T14:05:09Z\tfile\t-\t1/1\n");
    EXPECT_EQ(errors, "");

    EXPECT_EQ(run("--list " + ShellQuote(dir_ / "missing"), out, errors), 2);
    EXPECT_EQ(out, "");
    EXPECT_EQ(errors, "viewmere: cannot read folder " + dir_ / "missing" + ": No such file or directory\n");

    EXPECT_EQ(run("--version", out, errors), 0);
    EXPECT_EQ(out, "Viewmere Version 1.0.3.1\n");
    EXPECT_EQ(run("--help", out, errors), 0);
    EXPECT_NE(out.find("viewmere [FOLDER]"), std::string::npos) << out;
    EXPECT_NE(out.find("--list FOLDER"), std::string::npos) << out;
    EXPECT_NE(out.find("carriage return in it written as \\\\, \\t, \\n and \\r"), std::string::npos) << out;
    // Bad arguments: a line on standard error and exit status 2.
    for (const char* bad : {"--list", "--bogus", "--import"}) {
        EXPECT_EQ(run(bad, out, errors), 2) << bad;
        EXPECT_NE(errors.find("see viewmere --help"), std::string::npos) << errors;
    }
}

TEST_F(ProgramTest, AFolderGivenOnTheCommandLineIsOpenedAndRemembered)
{
    MakeDirs(dir_ / "elsewhere");
    const std::string card = dir_ / "my card \xe9";  // a name that is not UTF-8
    MakeDirs(card);
    ASSERT_EQ(Shell("cp " + ShellQuote(TestClips().progressive720) + " " + ShellQuote(card + "/00000.m2ts")), 0);
    settings::LastDirectory.Write(dir_ / "elsewhere");
    settings::GenerateThumbnails.Write(true);
    ASSERT_EQ(symlink(card.c_str(), (dir_ / "link").c_str()), 0);
    // Relative to the folder it was started in, with dot parts and a link: kept as it resolves.
    Program program(dir_.Path(), "./my card \xe9/../link/");
    ASSERT_GT(program.Pid(), 0);
    // Opened: its clip gets its thumbnail file.
    EXPECT_TRUE(WaitFor(30s, [&] { return platform::FileExists(card + "/00000.m2ts.viewmere.jpg"); }));
    EXPECT_EQ(settings::LastDirectory.Read(), card);
    EXPECT_TRUE(program.StillRunning());
}

TEST(FolderArgumentTest, PathsRelativePathsAndFileUrisButNoOptions)
{
    auto folder = [](std::vector<const char*> args) {
        args.insert(args.begin(), "viewmere");
        return CViewmereApp::FolderArgument(static_cast<int>(args.size()), args.data(), "/home/anna");
    };
    EXPECT_EQ(folder({"/media/anna/CARD"}), "/media/anna/CARD");
    EXPECT_EQ(folder({"clips/2009"}), "/home/anna/clips/2009");
    EXPECT_EQ(folder({"file:///media/anna/My%20Card"}), "/media/anna/My Card");
    EXPECT_EQ(folder({"."}), "/home/anna");
    EXPECT_EQ(folder({"./clips//2009/../2010/"}), "/home/anna/clips/2010");
    EXPECT_EQ(folder({"../../.."}), "/");
    EXPECT_EQ(folder({"--list"}), "");
    EXPECT_EQ(folder({}), "");
    EXPECT_EQ(folder({"a", "b"}), "");
}

TEST_F(ProgramTest, AClipGivenOpensItsCardWithTheClipSelectedAndInView)
{
    // A card of 60 clips, 00010 to 00069, each with a camera thumbnail of a red of its own.
    CardOptions camera;
    camera.clips.clear();
    camera.thumbnailBlocks = 0;
    std::vector<std::string> thumbnails;
    std::vector<std::pair<int, int>> records;
    for (int i = 0; i < 60; ++i) {
        camera.clips.push_back("000" + std::to_string(10 + i) + ".MTS");
        thumbnails.push_back(SolidJpeg(416, 240, static_cast<std::uint8_t>(10 + 4 * i), 100, 100));
        records.push_back({10 + i, i});
    }
    const std::string card = dir_ / "card", stream = WriteCard(card, camera);
    WriteFile(card + "/PRIVATE/AVCHD/AVCHDTN/THUMB.TDT", PackBlocks(thumbnails));
    WriteFile(card + "/PRIVATE/AVCHD/AVCHDTN/THUMB.TID", IndexFile(records));

    // Started as a file manager's Open With starts it, with the clip's address: the window
    // names the card, and the screen shows one selected cell, the clip's (its picture's red).
    const std::string errors = dir_ / "stderr.txt";
    Program program(dir_.Path(), ("file://" + stream + "/00060.MTS").c_str(), errors);
    EXPECT_TRUE(WaitFor(20s, [&] {
        return Shell("xdotool search --onlyvisible --name " + ShellQuote("^" + card + " - Viewmere$") + " >/dev/null") == 0;
    }));
    EXPECT_EQ(settings::LastDirectory.Read(), card);
    int shown = -1, selectedElsewhere = 0;
    WaitFor(10s, [&] {
        const wxImage screen = gui_testing::ScreenShot(wxRect(0, 0, 1920, 1080));
        wxRect cell;  // from the first pixel of the selection colour
        selectedElsewhere = 0;
        for (int y = 0; y < screen.GetHeight(); ++y)
            for (int x = 0; x < screen.GetWidth(); ++x)
                if (screen.GetRed(x, y) == 192 && screen.GetGreen(x, y) == 128 && screen.GetBlue(x, y) == 255) {
                    if (cell.IsEmpty())
                        cell = wxRect(x, y, 424, 264);
                    selectedElsewhere += !cell.Contains(x, y);
                }
        shown = cell.IsEmpty() ? -1 : 10 + (screen.GetRed(cell.x + 30, cell.y + 30) - 8) / 4;
        return shown == 60;
    });
    EXPECT_EQ(shown, 60);
    EXPECT_EQ(selectedElsewhere, 0);
    // The wheel turned away from the user scrolls the grid up: the selected cell moves down. Not
    // a scroll, from the one that opened the card on, makes the toolkit complain.
    const wxRect before = SelectionOnScreen();
    EXPECT_EQ(Shell("xdotool mousemove 300 300 click 4 sleep 0.2 click 4"), 0);
    EXPECT_TRUE(WaitFor(5s, [&] {
        const wxRect after = SelectionOnScreen();
        return after.IsEmpty() || after.y > before.y;
    })) << before.y;
    program.EndWith(SIGTERM);
    EXPECT_EQ(ReadFile(errors).find("CRITICAL"), std::string::npos) << ReadFile(errors);

    // An MP4 clip where cameras keep them opens its card too, from either kind of folder.
    const std::string mp4Card = dir_ / "mp4 card";
    MakeDirs(mp4Card + "/PRIVATE/M4ROOT/CLIP");
    MakeDirs(mp4Card + "/DCIM/100CANON");
    WriteFile(mp4Card + "/PRIVATE/M4ROOT/CLIP/C0001.MP4", "clip");
    WriteFile(mp4Card + "/DCIM/100CANON/mvi_0001.mov", "clip");
    for (const char* clip : {"/PRIVATE/M4ROOT/CLIP/C0001.MP4", "/DCIM/100CANON/mvi_0001.mov"}) {
        Program mp4(dir_.Path(), (mp4Card + clip).c_str());
        EXPECT_TRUE(WaitFor(20s, [&] {
            return Shell("xdotool search --onlyvisible --name " + ShellQuote("^" + mp4Card + " - Viewmere$") + " >/dev/null") == 0;
        })) << clip;
        EXPECT_EQ(settings::LastDirectory.Read(), mp4Card) << clip;
        mp4.EndWith(SIGTERM);
    }

    // On a card whose pictures are made after it opens, the cells grow around the clip, near the
    // card's end, which stays in view, whole: its picture comes before those of the clips after it.
    const std::string grown = dir_ / "grown/PRIVATE/AVCHD/BDMV/STREAM";
    MakeDirs(grown);
    std::vector<std::string> clips;
    for (int i = 0; i < 40; ++i) {
        clips.push_back(grown + (i < 10 ? "/0000" : "/000") + std::to_string(i) + ".MTS");
        ASSERT_EQ(link(TestClips().progressive720.c_str(), clips.back().c_str()), 0);
    }
    settings::GenerateThumbnails.Write(true);
    Program again(dir_.Path(), (grown + "/00028.MTS").c_str());
    WaitFor(60s, [&] {
        return std::all_of(clips.begin(), clips.end(), [](auto& clip) { return platform::FileExists(clip + ".viewmere.jpg"); });
    });
    std::this_thread::sleep_for(2s);  // every picture is in the grid
    const wxRect selected = SelectionOnScreen();
    EXPECT_GE(selected.height, 240) << selected.y;  // a 384 x 216 picture and its label
}
