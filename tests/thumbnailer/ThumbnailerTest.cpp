// The desktop's thumbnailer, run from its entry's Exec line as a file manager runs it, with no
// display: the camera's picture where the card has one, else the clip's thumbnail file, else
// its first frame (for a file that continues a split recording, the recording's; for an XAVC S
// clip, the camera's JPEG); for anything else one line on standard error, no file, and never a
// hang.
#include "model/AVCHDDoc.h"
#include "platform/DesktopApps.h"
#include "settings/Settings.h"
#include "support/CardLayout.h"
#include "support/CameraCard.h"
#include "support/CardPlaylists.h"
#include "support/Clips.h"
#include "support/JpegFixtures.h"
#include "support/TempDir.h"
#include "thumbnailer/ClipPicture.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <regex>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

std::string EntryValue(const std::string& key)
{
    std::ifstream entry(THUMBNAILER_ENTRY);
    for (std::string line; std::getline(entry, line);)
        if (line.rfind(key + "=", 0) == 0)
            return line.substr(key.size() + 1);
    return {};
}

// The Exec line with its fields filled in, the program found on the PATH, no display; its exit
// status, and what it printed on standard error into `errors`. `extra` goes before the fields.
int RunExecLine(const TempDir& dir, const std::string& uri, std::string& errors, const std::string& extra = "")
{
    std::string command = EntryValue("Exec");
    for (const auto& [field, value] : {std::pair{"%s", std::string("256")}, std::pair{"%u", ShellQuote(uri)},
                                       std::pair{"%o", ShellQuote(dir / "out/thumbnail.png")}})
        command.replace(command.find(field), 2, value);
    command.insert(command.find(' '), extra);
    // Under the leak checker its statistics stay off the program's standard error.
    const int status = Shell("env -u DISPLAY -u WAYLAND_DISPLAY PATH=" + ShellQuote(PROGRAM_FOLDER) +
                             ":\"$PATH\" LSAN_OPTIONS=\"${LSAN_OPTIONS:-}:print_suppressions=0\" " + command + " 2> " +
                             ShellQuote(dir / "errors.txt"));
    errors = ReadFile(dir / "errors.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Width, height and the colour at (fx, fy) of the picture in a PNG.
std::tuple<int, int, std::array<int, 3>> PngAt(const std::string& path, double fx, double fy)
{
    GdkPixbuf* png = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
    if (png == nullptr)
        return {0, 0, {}};
    const int width = gdk_pixbuf_get_width(png), height = gdk_pixbuf_get_height(png);
    const guint8* p = gdk_pixbuf_read_pixels(png) + static_cast<int>(fy * height) * gdk_pixbuf_get_rowstride(png) +
                      static_cast<int>(fx * width) * gdk_pixbuf_get_n_channels(png);
    const std::array<int, 3> rgb{p[0], p[1], p[2]};
    g_object_unref(png);
    return {width, height, rgb};
}

bool Near(const std::array<int, 3>& a, const std::array<int, 3>& b)
{
    return std::abs(a[0] - b[0]) < 40 && std::abs(a[1] - b[1]) < 40 && std::abs(a[2] - b[2]) < 40;
}

}  // namespace

TEST(ThumbnailerTest, FromItsExecLineItGivesTheCamerasPictureTheThumbnailFileOrTheFirstFrame)
{
    TempDir dir;
    const ScopedEnv config("XDG_CONFIG_HOME", dir / "config");
    CardOptions camera;
    camera.thumbnailBlocks = 1;  // a camera picture for 00000 only: green (0, 200, 100)
    const std::string stream = WriteCard(dir / "my card & co", camera);
    const ClipSet& clips = TestClips();
    for (const auto& [from, to] : {std::pair{clips.interlaced1080, "00000.MTS"}, {clips.progressive720, "00001.MTS"},
                                   {clips.redOverBlue, "00002.MTS"}, {clips.interlaced1080, "../00009 STUCK.MTS"}})
        ASSERT_EQ(Shell("cp " + ShellQuote(from) + " " + ShellQuote(stream + "/" + to)), 0);
    WriteFile(stream + "/00001.MTS.viewmere.jpg", SolidJpeg(384, 216, 200, 40, 220));
    // 00004.MTS continues the red recording of 00003.MTS, starting blue and without a key frame.
    const SplitRecording split = MakeSplitRecording(stream, 3, {"red", "blue"});
    WritePlaylist(stream + "/..", {{"00000"}, {"00001"}, {"00002"}, split.items[0], split.items[1]});
    MakeDirs(dir / "out");
    const std::string output = dir / "out/thumbnail.png";
    struct Case {
        const char* clip;
        int width, height;
        std::array<int, 3> top, bottom;
    };
    for (const Case& c : {Case{"00000.MTS", 256, 148, {0, 200, 100}, {0, 200, 100}},
                          Case{"00001.MTS", 256, 144, {200, 40, 220}, {200, 40, 220}},
                          Case{"00002.MTS", 256, 144, {255, 0, 0}, {0, 0, 255}},
                          Case{"00004.MTS", 256, 144, {255, 0, 0}, {255, 0, 0}}}) {
        SCOPED_TRACE(c.clip);
        std::string errors;
        EXPECT_EQ(RunExecLine(dir, platform::FileUri(stream + "/" + c.clip), errors), 0);
        EXPECT_EQ(errors, "");
        const auto [width, height, top] = PngAt(output, 0.5, 0.2);
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(height, c.height);
        EXPECT_TRUE(Near(top, c.top) && Near(std::get<2>(PngAt(output, 0.5, 0.8)), c.bottom));
        std::remove(output.c_str());
    }
    // With split recordings shown file by file, as the viewer then shows them, the file that
    // continues one has a picture of its own.
    settings::JoinSplitRecordings.Write(false);
    std::string errors;
    EXPECT_EQ(RunExecLine(dir, platform::FileUri(stream + "/00004.MTS"), errors), 0);
    EXPECT_TRUE(Near(std::get<2>(PngAt(output, 0.5, 0.5)), {0, 0, 255}));
    std::remove(output.c_str());
    settings::JoinSplitRecordings.Write(true);

    // Nothing it cannot picture gives a file; each says why in one line, within the time limit
    // even when the decoder hangs.
    WriteFile(dir / "garbage.MTS", "not a stream at all");
    ASSERT_EQ(mkfifo((dir / "fifo.MTS").c_str(), 0600), 0);
    for (const auto& [uri, extra] :
         {std::pair{platform::FileUri(dir / "garbage.MTS"), ""}, {platform::FileUri(dir / "fifo.MTS"), ""},
          {platform::FileUri(dir / "missing.MTS"), ""}, {std::string("http://host/00000.MTS"), ""},
          {platform::FileUri(stream + "/../00009 STUCK.MTS"), " --hang-on STUCK"}}) {
        SCOPED_TRACE(uri);
        std::string errors;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(RunExecLine(dir, uri, errors, extra), 1);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
        EXPECT_TRUE(std::regex_match(errors, std::regex("viewmere-thumbnailer: [^\n]+\n"))) << errors;
        EXPECT_EQ(Shell("test -z \"$(ls -A " + ShellQuote(dir / "out") + ")\""), 0) << "something was left";
    }

    // The entry is for the type the desktop gives these files; the program has no toolkit.
    for (const char* name : {"00000.MTS", "clip.m2ts"}) {
        WriteFile(dir / name, "");
        ASSERT_EQ(Shell("xdg-mime query filetype " + ShellQuote(dir / name) + " > " + ShellQuote(dir / "type.txt")), 0);
        const std::string type = ReadFile(dir / "type.txt");
        EXPECT_NE(EntryValue("MimeType").find(type.substr(0, type.size() - 1) + ";"), std::string::npos) << type;
    }
    EXPECT_EQ(EntryValue("TryExec"), "viewmere-thumbnailer");
    EXPECT_NE(Shell("ldd " + ShellQuote(std::string(PROGRAM_FOLDER) + "/viewmere-thumbnailer") +
                    " | grep -E 'libwx|libgtk|libgdk-|libX11|libwayland'"),
              0);
}

TEST(ThumbnailerTest, TheCamerasPictureOfEachClipIsTheOneTheViewerShows)
{
    TempDir dir;
    const ScopedEnv config("XDG_CONFIG_HOME", dir / "config");
    // Cards as cameras and copies leave them: lower-case names; the thumbnails beside BDMV and
    // no PRIVATE folder; a clip whose name has no number (the viewer numbers it 0) and one past
    // the camera's pictures. Each card has two clips with a camera picture.
    std::vector<CardOptions> cards(4);
    cards[1].lowerCase = true;
    cards[2].thumbnailFolder = cards[2].privateFolder = false;
    cards[3].clips = {"00001.MTS", "MOVIE.MTS", "00007.MTS"};
    cards[3].thumbnailBlocks = 3;
    for (std::size_t i = 0; i < cards.size(); ++i) {
        WriteCard(dir / std::to_string(i), cards[i]);
        CAVCHDDoc doc([](ThumbnailQueue&, const std::string&) {});
        doc.ScanFolder(dir / std::to_string(i));
        const auto shown = doc.GetDirectory(0);
        int pictured = 0;
        std::string clip;
        for (int slot = 0; shown && slot < shown->clips->GetCount(); ++slot)
            if (shown->clips->GetClipPath(slot, clip)) {
                const ThumbnailEntry* entry = shown->thumbnails->GetEntry(slot);
                const std::unique_ptr<CRgbImage> given = CameraThumbnailOf(clip);
                ASSERT_EQ(given != nullptr, entry != nullptr) << clip;
                const std::unique_ptr<CRgbImage> seen = entry == nullptr ? nullptr : entry->jpeg.Decode();
                pictured += given && seen && given->height == seen->height &&
                            std::equal(given->pixels.get(), given->pixels.get() + given->stride * given->height,
                                       seen->pixels.get());
            }
        EXPECT_EQ(pictured, 2) << i;
    }
}

TEST(ThumbnailerTest, AnXavcSClipGivesTheCamerasJpegAndOtherMp4ClipsTheirFirstFrame)
{
    TempDir dir;
    const ScopedEnv config("XDG_CONFIG_HOME", dir / "config");
    const CameraCard card = WriteCameraCard(dir / "card");
    MakeDirs(dir / "out");
    const std::string output = dir / "out/thumbnail.png";
    // The camera's lime picture; the first frame of testsrc2 (its third bar yellow) for the clip
    // without one and for the H.265 QuickTime clip.
    for (const auto& [clip, colour] : {std::pair{card.xavcDescribed, std::array<int, 3>{0, 255, 0}},
                                       {card.xavcDamaged, {255, 255, 0}}, {card.dcimMovie, {255, 255, 0}}}) {
        SCOPED_TRACE(clip);
        std::string errors;
        EXPECT_EQ(RunExecLine(dir, platform::FileUri(clip), errors), 0);
        EXPECT_EQ(errors, "");
        const auto [width, height, shown] = PngAt(output, 0.42, 0.6);
        EXPECT_EQ(width, 256);
        EXPECT_EQ(height, 144);
        EXPECT_TRUE(Near(shown, colour)) << shown[0] << " " << shown[1] << " " << shown[2];
        std::remove(output.c_str());
    }
    std::string errors;
    EXPECT_EQ(RunExecLine(dir, platform::FileUri(card.dcimDamaged), errors), 1);
    EXPECT_TRUE(std::regex_match(errors, std::regex("viewmere-thumbnailer: [^\n]+\n"))) << errors;
    // The entry is for the types the desktop gives these clips.
    for (const char* name : {"C0001.MP4", "mvi_0001.mov"}) {
        WriteFile(dir / name, "");
        ASSERT_EQ(Shell("xdg-mime query filetype " + ShellQuote(dir / name) + " > " + ShellQuote(dir / "type.txt")), 0);
        const std::string type = ReadFile(dir / "type.txt");
        EXPECT_NE(EntryValue("MimeType").find(type.substr(0, type.size() - 1) + ";"), std::string::npos) << type;
    }
}
