// The desktop's thumbnailer, run from its entry's Exec line as a file manager runs it, with no
// display: the camera's picture where the card has one, else the clip's thumbnail file, else
// its first frame; for anything else one line on standard error, no file, and never a hang.
#include "imaging/RgbImage.h"
#include "model/AVCHDDoc.h"
#include "platform/DesktopApps.h"
#include "support/CardLayout.h"
#include "support/Clips.h"
#include "support/JpegFixtures.h"
#include "support/TempDir.h"
#include "thumbnailer/ClipPicture.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <fstream>
#include <regex>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

// The entry's value for a key ("Exec", "MimeType").
std::string EntryValue(const std::string& key)
{
    std::ifstream entry(THUMBNAILER_ENTRY);
    for (std::string line; std::getline(entry, line);)
        if (line.rfind(key + "=", 0) == 0)
            return line.substr(key.size() + 1);
    return {};
}

struct ExecRun {
    int status = -1;
    std::string errors;
    std::chrono::steady_clock::duration took{};
};

// The Exec line with its fields filled in, found on the PATH as the desktop finds it, without a
// display. `extra` goes in front of the arguments (the test's hang option).
ExecRun RunExecLine(const TempDir& dir, const std::string& uri, const std::string& output, const std::string& extra = "")
{
    std::string command = EntryValue("Exec");
    for (const auto& [field, value] : {std::pair{"%s", std::string("256")}, std::pair{"%u", ShellQuote(uri)},
                                       std::pair{"%o", ShellQuote(output)}})
        command.replace(command.find(field), 2, value);
    command.insert(command.find(' '), extra);
    const std::string errors = dir / "errors.txt";
    const auto start = std::chrono::steady_clock::now();
    const int status = Shell("env -u DISPLAY -u WAYLAND_DISPLAY PATH=" + ShellQuote(PROGRAM_FOLDER) + ":\"$PATH\" " +
                             command + " 2> " + ShellQuote(errors));
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(errors), std::chrono::steady_clock::now() - start};
}

struct Png {
    int width = 0, height = 0;
    std::array<int, 3> RgbAt(double fx, double fy) const
    {
        const int x = static_cast<int>(fx * width), y = static_cast<int>(fy * height);
        const std::uint8_t* p = pixels.data() + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * channels;
        return {p[0], p[1], p[2]};
    }
    std::vector<std::uint8_t> pixels;
    int stride = 0, channels = 0;
};

Png ReadPng(const std::string& path)
{
    Png png;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
    if (pixbuf == nullptr)
        return png;
    png.width = gdk_pixbuf_get_width(pixbuf);
    png.height = gdk_pixbuf_get_height(pixbuf);
    png.stride = gdk_pixbuf_get_rowstride(pixbuf);
    png.channels = gdk_pixbuf_get_n_channels(pixbuf);
    const guint8* bytes = gdk_pixbuf_read_pixels(pixbuf);
    png.pixels.assign(bytes, bytes + static_cast<std::size_t>(png.stride) * (png.height - 1) +
                                 static_cast<std::size_t>(png.width) * png.channels);
    g_object_unref(pixbuf);
    return png;
}

void ExpectNear(const std::array<int, 3>& seen, const std::array<int, 3>& wanted)
{
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(seen[i], wanted[i], 40) << "channel " << i;
}

void Copy(const std::string& from, const std::string& to)
{
    ASSERT_EQ(Shell("cp " + ShellQuote(from) + " " + ShellQuote(to)), 0);
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
    Copy(clips.interlaced1080, stream + "/00000.MTS");
    Copy(clips.progressive720, stream + "/00001.MTS");
    WriteFile(stream + "/00001.MTS.viewmere.jpg", SolidJpeg(384, 216, 200, 40, 220));
    Copy(clips.redOverBlue, stream + "/00002.MTS");

    const std::string output = dir / "out/thumbnail.png";
    MakeDirs(dir / "out");
    struct Case {
        std::string clip;
        int width, height;
        std::array<int, 3> top, bottom;
    };
    for (const Case& c : {Case{"00000.MTS", 256, 148, {0, 200, 100}, {0, 200, 100}},
                          Case{"00001.MTS", 256, 144, {200, 40, 220}, {200, 40, 220}},
                          Case{"00002.MTS", 256, 144, {255, 0, 0}, {0, 0, 255}}}) {
        SCOPED_TRACE(c.clip);
        const ExecRun run = RunExecLine(dir, platform::FileUri(stream + "/" + c.clip), output);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.errors, "");
        EXPECT_LT(run.took, 10s);
        const Png png = ReadPng(output);
        EXPECT_EQ(png.width, c.width);
        EXPECT_EQ(png.height, c.height);
        if (png.width > 0) {
            ExpectNear(png.RgbAt(0.5, 0.2), c.top);
            ExpectNear(png.RgbAt(0.5, 0.8), c.bottom);
        }
        std::remove(output.c_str());
    }

    // Nothing it cannot picture gives a file; each says why in one line, well within the limit.
    WriteFile(dir / "garbage.MTS", "not a stream at all");
    ASSERT_EQ(mkfifo((dir / "fifo.MTS").c_str(), 0600), 0);
    Copy(clips.interlaced1080, dir / "00009 STUCK.MTS");
    for (const auto& [uri, extra] :
         {std::pair{platform::FileUri(dir / "garbage.MTS"), ""}, std::pair{platform::FileUri(dir / "fifo.MTS"), ""},
          std::pair{platform::FileUri(dir / "missing.MTS"), ""}, std::pair{std::string("http://host/00000.MTS"), ""},
          std::pair{platform::FileUri(dir / "00009 STUCK.MTS"), " --hang-on STUCK"}}) {
        SCOPED_TRACE(uri);
        const ExecRun run = RunExecLine(dir, uri, output, extra);
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(std::regex_match(run.errors, std::regex("viewmere-thumbnailer: [^\n]+\n"))) << run.errors;
        EXPECT_LT(run.took, 10s);
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
    // Cards as cameras and copies leave them: lower-case names, the thumbnails beside BDMV,
    // no PRIVATE folder, a clip whose name has no number, a clip past the camera's pictures.
    std::vector<CardOptions> cards(4);
    cards[1].lowerCase = true;
    cards[2].thumbnailFolder = false;
    cards[2].privateFolder = false;
    cards[3].clips = {"00001.MTS", "MOVIE.MTS", "00007.MTS"};
    cards[3].thumbnailBlocks = 3;
    for (std::size_t i = 0; i < cards.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string root = dir / ("card" + std::to_string(i));
        const std::string stream = WriteCard(root, cards[i]);
        CAVCHDDoc doc([](ThumbnailQueue&, const std::string&) {});
        doc.ScanFolder(root);
        ASSERT_EQ(doc.GetDirectoryCount(), 1);
        const auto directory = doc.GetDirectory(0);
        int pictured = 0;
        for (int slot = 0; slot < directory->clips->GetCount(); ++slot) {
            std::string clip;
            if (!directory->clips->GetClipPath(slot, clip))
                continue;
            const ThumbnailEntry* shown = directory->thumbnails->GetEntry(slot);
            const std::unique_ptr<CRgbImage> given = CameraThumbnailOf(clip);
            ASSERT_EQ(given != nullptr, shown != nullptr) << clip;
            if (!given)
                continue;
            ++pictured;
            ASSERT_EQ(given->width, shown->picture->width);
            ASSERT_EQ(given->height, shown->picture->height);
            const std::size_t bytes = static_cast<std::size_t>(given->stride) * given->height;
            EXPECT_TRUE(std::equal(given->pixels.get(), given->pixels.get() + bytes, shown->picture->pixels.get())) << clip;
        }
        EXPECT_EQ(pictured, 2);  // on the last card 00001 and MOVIE, which the viewer numbers 0
    }
}
