// What the screen shows of the grid's pictures: a cell painted at once, and the built program on a
// display scaled by two.
#include "gui/GuiTestSupport.h"
#include "gui/RealInput.h"
#include "imaging/RgbImage.h"
#include "settings/Settings.h"
#include "support/Clips.h"
#include "support/JpegFixtures.h"
#include "support/TempDir.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <thread>

extern char** environ;

using namespace gui_testing;
using namespace testing_support;
using namespace std::chrono_literals;

namespace {

const wxColour kClipColour(204, 192, 224);

// 768 x 432 RGB pixels that ffmpeg makes of a clip's first frame with `filters`.
std::string FirstFrame(const std::string& clip, const std::string& filters, const std::string& into)
{
    Shell("ffmpeg -nostdin -loglevel error -y -i " + ShellQuote(clip) + " -frames:v 1 -vf " + ShellQuote(filters) +
          " -pix_fmt rgb24 -f rawvideo " + ShellQuote(into));
    return ReadFile(into);
}

// The mean difference of a channel between the screen's picture and a reference.
double MeanDifference(const wxImage& shown, const std::string& reference)
{
    if (reference.size() != static_cast<std::size_t>(shown.GetWidth() * shown.GetHeight() * 3))
        return 255;
    double sum = 0;
    for (std::size_t i = 0; i < reference.size(); ++i)
        sum += std::abs(static_cast<int>(shown.GetData()[i]) - static_cast<unsigned char>(reference[i]));
    return sum / static_cast<double>(reference.size());
}

// The left edges of the clip cells whose tops are on the first screen row that shows one.
std::vector<wxPoint> CellCorners(const wxImage& screen)
{
    for (int y = 0; y < screen.GetHeight(); ++y) {
        std::vector<wxPoint> corners;
        for (int x = 0; x < screen.GetWidth(); ++x) {
            const bool clip = wxColour(screen.GetRed(x, y), screen.GetGreen(x, y), screen.GetBlue(x, y)) == kClipColour;
            const bool before = x > 0 && wxColour(screen.GetRed(x - 1, y), screen.GetGreen(x - 1, y),
                                                  screen.GetBlue(x - 1, y)) == kClipColour;
            if (clip && !before)
                corners.emplace_back(x, y);
        }
        if (!corners.empty())
            return corners;
    }
    return {};
}

}  // namespace

// A cell whose picture changed is painted at once, straight onto the window: the X server shows
// it before the toolkit has handled any event, and nothing else moved.
TEST(PaintTest, ACellRepaintedAtOnceShowsItsNewPictureBeforeAnyEvent)
{
    FrameFixture f;
    settings::SplitDates.Write(false);
    for (const char* name : {"00000.MTS", "00001.MTS"})
        WriteFile(f.dir / (std::string("clips/") + name), "x");
    f.view->nextFolder = f.dir / "clips";
    f.view->OpenFolder();
    auto picture = [](unsigned char red, unsigned char green, unsigned char blue) {
        auto image = std::make_unique<CRgbImage>();
        image->width = 200, image->height = 120, image->stride = static_cast<int>(CRgbImage::StrideFor(200));
        image->pixels = imaging::AllocatePixels(static_cast<std::size_t>(image->stride) * 120);
        for (int y = 0; y < 120; ++y)
            for (int x = 0; x < 200; ++x) {
                std::uint8_t* p = image->pixels.get() + image->OffsetOf(x, y);
                p[0] = blue, p[1] = green, p[2] = red;
            }
        return image;
    };
    CThumbnailSet& thumbnails = *f.view->Document().GetDirectory(0)->thumbnails;
    thumbnails.SetImage(0, picture(200, 20, 20));
    thumbnails.SetImage(1, picture(20, 200, 20));
    f.view->RefreshGrid();
    Pump(500ms);
    const FmtRect cell = f.view->GridLayout().Items().at(1)->GetRect();
    const FmtRect other = f.view->GridLayout().Items().at(2)->GetRect();
    auto shown = [&](const FmtRect& r) {
        return ClientPixel(f.view, wxPoint(r.left + 40, r.top + 40 - f.view->ScrollPosition(wxVERTICAL)));
    };
    ASSERT_EQ(shown(cell), wxColour(200, 20, 20));

    thumbnails.SetImage(0, picture(20, 20, 200));
    EXPECT_EQ(shown(cell), wxColour(200, 20, 20));  // nothing painted it yet
    f.view->RepaintNow(cell);
    EXPECT_EQ(shown(cell), wxColour(20, 20, 200));
    EXPECT_EQ(shown(other), wxColour(20, 200, 20));
}

// At GDK_SCALE=2 the grid's 384 x 216 place for a picture is 768 x 432 screen pixels: a picture the
// viewer makes is made at that size and copied one to one, as sharp as the clip allows; a smaller
// one (a thumbnail file of 384 x 216) is enlarged smoothly, never by doubling its pixels.
TEST(PaintTest, OnADisplayScaledByTwoMadePicturesAreSharpAndSmallerOnesSmooth)
{
    // Two cells of 784 screen pixels side by side need the test display's full width.
    const wxSize display = wxGetDisplaySize();
    if (display.x < 1920 || display.y < 1080)
        GTEST_SKIP() << "two cells at twice the size need a display of 1920 x 1080, this one is " << display.x << " x "
                     << display.y;
    const TempDir dir;
    const ScopedEnv config("XDG_CONFIG_HOME", dir / "config"), cache("XDG_CACHE_HOME", dir / "cache"),
        tmp("TMPDIR", dir / "tmp"), home("HOME", dir / "home"), scale("GDK_SCALE", "2");
    MakeDirs(dir / "tmp");
    const std::string stream = dir / "card/PRIVATE/AVCHD/BDMV/STREAM";
    MakeDirs(stream);
    // Fine detail (cells of 4 pixels) that 768 x 432 keeps and 384 x 216 averages away.
    ASSERT_EQ(Shell("ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                    "'cellauto=s=480x270:rule=30:full=1,scale=1920:1080:flags=neighbor,format=yuv420p' -t 1 "
                    "-c:v libx264 -preset ultrafast -crf 10 -f mpegts -mpegts_m2ts_mode 1 " +
                    ShellQuote(stream + "/00000.MTS")),
              0);
    ASSERT_EQ(Shell("cp " + ShellQuote(stream + "/00000.MTS") + " " + ShellQuote(stream + "/00001.MTS")), 0);
    // The second clip's thumbnail file: steep gradients, 384 x 216.
    std::vector<std::uint8_t> gradient(384 * 216 * 3);
    for (std::size_t i = 0; i < gradient.size(); ++i)
        gradient[i] = static_cast<std::uint8_t>((i / 3 % 384) * 8 % 256);
    WriteFile(stream + "/00001.MTS.viewmere.jpg", EncodeRgbJpeg(384, 216, gradient));
    settings::LastDirectory.Write(dir / "card");
    settings::GenerateThumbnails.Write(true);
    settings::WriteThumbnails.Write(false);
    settings::SplitDates.Write(false);

    const char* argv[] = {VIEWMERE_PROGRAM, nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, VIEWMERE_PROGRAM, nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    // Both cells in a row, each with its picture: a pixel inside the first one's is no cell colour.
    wxImage screen;
    std::vector<wxPoint> cells;
    for (int i = 0; i < 120; ++i) {
        std::this_thread::sleep_for(250ms);
        screen = gui_testing::ScreenShot(wxRect(0, 0, 1920, 1080));
        cells = CellCorners(screen);
        if (cells.size() == 2 && cells[1].x - cells[0].x >= 784 &&
            wxColour(screen.GetRed(cells[0].x + 20, cells[0].y + 20), screen.GetGreen(cells[0].x + 20, cells[0].y + 20),
                     screen.GetBlue(cells[0].x + 20, cells[0].y + 20)) != kClipColour)
            break;
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    ASSERT_EQ(cells.size(), 2u);

    // The made picture, 8 screen pixels (the cell's border) inside the cell: like the clip's first
    // frame averaged down to 768 x 432, unlike one averaged to 384 x 216 and enlarged.
    const wxImage made = screen.GetSubImage(wxRect(cells[0] + wxPoint(8, 8), wxSize(768, 432)));
    const double sharp = MeanDifference(made, FirstFrame(stream + "/00000.MTS", "scale=768:432:flags=area", dir / "768.rgb"));
    const double enlarged = MeanDifference(
        made, FirstFrame(stream + "/00000.MTS", "scale=384:216:flags=area,scale=768:432:flags=bilinear", dir / "384.rgb"));
    EXPECT_LT(sharp, 12);
    EXPECT_LT(sharp * 2, enlarged) << sharp << " against " << enlarged;

    // The thumbnail file's picture: enlarged twice, smoothly, so few 2 x 2 blocks of the screen
    // are one colour (all of them are where each pixel is doubled).
    const wxImage file = screen.GetSubImage(wxRect(cells[1] + wxPoint(8, 8), wxSize(768, 432)));
    int blocks = 0, flat = 0;
    for (int y = 0; y + 1 < 432; y += 2)
        for (int x = 0; x + 1 < 768; x += 2, ++blocks) {
            const unsigned char v = file.GetRed(x, y);
            flat += file.GetRed(x + 1, y) == v && file.GetRed(x, y + 1) == v && file.GetRed(x + 1, y + 1) == v;
        }
    EXPECT_LT(flat, blocks / 3) << flat << " of " << blocks << " blocks are one colour";
}
