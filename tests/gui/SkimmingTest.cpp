// Skimming as a person meets it: the pointer moved across a clip's picture through the X server,
// and what the screen then shows.
#include "app/OptionsDlg.h"
#include "gui/GuiTestSupport.h"
#include "gui/RealInput.h"
#include "res/Resources.h"
#include "settings/Settings.h"
#include "support/CardPlaylists.h"
#include "support/Clips.h"
#include "support/LogCapture.h"

#include <wx/statusbr.h>

#include <gtest/gtest.h>

using namespace gui_testing;
using namespace testing_support;
using namespace std::chrono_literals;

namespace {

const std::vector<std::string> kColours{"red", "lime", "blue", "yellow", "magenta", "cyan"};
const wxColour kNamed[] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}, {255, 0, 255}, {0, 255, 255}};
const wxColour kBar(255, 190, 0);

bool Near(const wxColour& a, const wxColour& b)
{
    return std::abs(a.Red() - b.Red()) < 60 && std::abs(a.Green() - b.Green()) < 60 && std::abs(a.Blue() - b.Blue()) < 60;
}

// Where the picture of layout item `item` is (client coordinates): the grid's first clip is item 1.
wxRect PictureOf(CChildView* view, std::size_t item)
{
    const FmtRect& r = view->GridLayout().Items().at(item)->GetRect();
    const int border = CFmtLayout::kPictureBorder;
    return wxRect(r.left + border, r.top + border - view->ScrollPosition(wxVERTICAL), 384, 216);
}

std::string Name(const wxColour& colour)
{
    return colour.GetAsString(wxC2S_CSS_SYNTAX).utf8_string();
}

// Points at the place that stands for frame `index` of 16, low on the picture (a tool tip comes
// up below the pointer), and waits until a spot high on the picture shows `expected`.
::testing::AssertionResult Skims(FrameFixture& f, RealInput& input, std::size_t item, int index,
                                 const wxColour& expected, std::chrono::milliseconds limit = 5s)
{
    const wxRect picture = PictureOf(f.view, item);
    input.PointAt(f.view, wxPoint(picture.x + (picture.width - 1) * index / 15, picture.y + 170));
    const wxPoint spot(picture.x + picture.width / 2, picture.y + 30);
    wxColour shown;
    Pump(limit, [&] { return Near(shown = ClientPixel(f.view, spot), expected); });
    if (Near(shown, expected))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "frame " << index << " shows " << Name(shown) << ", not " << Name(expected);
}

// A card with a clip of six colours, a second each (a key frame every 0.2 s), and a recording
// split across two files, red and blue, as the camera's playlist says.
void MakeCard(const std::string& card)
{
    const std::string bdmv = card + "/PRIVATE/AVCHD/BDMV";
    MakeDirs(bdmv + "/STREAM");
    ASSERT_EQ(Shell("cp " + ShellQuote(ColourSequenceClip(kColours)) + " " + ShellQuote(bdmv + "/STREAM/00000.MTS")), 0);
    const SplitRecording split = MakeSplitRecording(bdmv + "/STREAM", 1, {"red", "blue"});
    std::vector<PlaylistItem> items{{"00000", 1, 0, 6 * 45000}};
    items.insert(items.end(), split.items.begin(), split.items.end());
    WritePlaylist(bdmv, items);
}

FrameFixture::Options OpenCard(const std::string& card, const std::string& keptStrips = "")
{
    FrameFixture::Options options;
    options.realThumbnails = true;
    options.beforeStart = [card, keptStrips](const TempDir& dir) {
        settings::LastDirectory.Write(card);
        settings::GenerateThumbnails.Write(true);
        settings::SplitDates.Write(false);
        if (!keptStrips.empty()) {
            ASSERT_EQ(Shell("mkdir -p " + ShellQuote(dir / "cache/viewmere") + " && cp -r " + ShellQuote(keptStrips) +
                            " " + ShellQuote(dir / "cache/viewmere/strips")),
                      0);
        }
    };
    return options;
}

void WaitForThumbnails(FrameFixture& f)
{
    wxStatusBar* status = f.frame->GetStatusBar();
    Pump(60s, [&] { return f.view->GridLayout().Items().size() == 3 && status->GetStatusText(1).StartsWith("Idle"); });
    ASSERT_EQ(f.view->GridLayout().Items().size(), 3u);
    Pump(300ms);
}

}  // namespace

TEST(SkimmingTest, ThePointerRunsThroughRecordingsWhoseStripsAreKeptForTheNextVisit)
{
    const TempDir card;  // outlives the windows: a strip is kept for its clips' paths
    MakeCard(card.Path());
    const TempDir kept;
    RealInput input;
    {
        FrameFixture f(OpenCard(card.Path()));
        WaitForThumbnails(f);
        const wxRect picture = PictureOf(f.view, 1);
        const wxPoint spot(picture.x + picture.width / 2, picture.y + 30), bar(picture.x + 1, picture.GetBottom() - 1);
        EXPECT_TRUE(Near(ClientPixel(f.view, spot), kNamed[0]));  // the thumbnail: the first frame
        // Across the picture, left to right: frame i of 16 stands for 0.4 i s of the 6 s.
        for (const int index : {4, 1, 6, 9, 11, 14}) {  // not red first: the thumbnail is red
            const wxColour expected = kNamed[index * 4 / 10];
            EXPECT_TRUE(Skims(f, input, 1, index, expected));
            EXPECT_TRUE(Near(ClientPixel(f.view, bar), kBar)) << index << ": " << Name(ClientPixel(f.view, bar));
        }
        // The bar runs to 5.6 s of the 6: past 85 % of the width, short of its end.
        const wxPoint along(picture.x + picture.width * 85 / 100, bar.y), end(picture.GetRight() - 2, bar.y);
        Pump(5s, [&] { return Near(ClientPixel(f.view, along), kBar) && !Near(ClientPixel(f.view, end), kBar); });
        EXPECT_TRUE(Near(ClientPixel(f.view, along), kBar)) << Name(ClientPixel(f.view, along));
        EXPECT_FALSE(Near(ClientPixel(f.view, end), kBar)) << Name(ClientPixel(f.view, end));
        // Left, the picture shows the thumbnail again, without the bar.
        input.PointAt(f.view, wxPoint(f.view->GetClientSize().x - 10, f.view->GetClientSize().y - 10));
        Pump(2s, [&] { return Near(ClientPixel(f.view, spot), kNamed[0]); });
        EXPECT_TRUE(Near(ClientPixel(f.view, spot), kNamed[0])) << Name(ClientPixel(f.view, spot));
        EXPECT_TRUE(Near(ClientPixel(f.view, bar), kNamed[0])) << Name(ClientPixel(f.view, bar));

        // The recording split across two files: its start in the first, its end in the second.
        EXPECT_TRUE(Skims(f, input, 2, 15, kNamed[2]));
        EXPECT_TRUE(Skims(f, input, 2, 0, kNamed[0]));

        // Both strips are kept on disk once whole.
        std::vector<platform::DirEntry> files;
        Pump(20s, [&] { return platform::ListDirectory(f.dir / "cache/viewmere/strips", files) && files.size() == 2; });
        EXPECT_EQ(files.size(), 2u);
        ASSERT_EQ(Shell("cp -r " + ShellQuote(f.dir / "cache/viewmere/strips") + " " + ShellQuote(kept / "strips")), 0);
    }

    // Another run: the kept strips skim at once, and none is made again.
    FrameFixture f(OpenCard(card.Path(), kept / "strips"));
    WaitForThumbnails(f);
    TakeLogMessages();
    EXPECT_TRUE(Skims(f, input, 1, 9, kNamed[3], 1s));
    EXPECT_TRUE(Skims(f, input, 2, 15, kNamed[2], 1s));
    EXPECT_FALSE(Contains(TakeLogMessages(), "Making a strip"));

    // Skimming ticked off in the options, the picture stays the thumbnail under the pointer.
    bool shown = false;
    std::unique_ptr<BackgroundCommand> untick;
    wxTimer watch;
    watch.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        for (wxWindow* top : wxTopLevelWindows)
            if (auto* dialog = dynamic_cast<COptionsDlg*>(top); dialog != nullptr && dialog->IsShown() && !shown) {
                shown = true;
                const wxPoint box = dialog->FindWindow(res::kIdSkimClips)->GetScreenRect().GetPosition() + wxPoint(6, 6);
                const wxPoint ok = dialog->FindWindow(wxID_OK)->GetScreenRect().GetPosition() + wxPoint(10, 6);
                untick = std::make_unique<BackgroundCommand>(
                    "sleep 0.3; xdotool mousemove " + std::to_string(box.x) + " " + std::to_string(box.y) +
                    " sleep 0.2 click 1 sleep 0.3 mousemove " + std::to_string(ok.x) + " " + std::to_string(ok.y) +
                    " sleep 0.2 click 1");
            }
    });
    watch.Start(100);
    input.PointAt(f.view, PictureOf(f.view, 1).GetTopLeft() + wxPoint(10, 170));
    input.Key(WXK_F2);
    Pump(10s, [&] { return shown && untick->Finished() && !settings::SkimClips.Read(); });
    watch.Stop();
    EXPECT_FALSE(settings::SkimClips.Read());
    EXPECT_TRUE(Skims(f, input, 1, 14, kNamed[0], 1s));
}
