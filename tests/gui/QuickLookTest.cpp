// The quick look as a person uses it: keys and clicks through the X server, and what the screen
// then shows of real clips played through the media framework.
#include "gui/GuiTestSupport.h"
#include "gui/RealInput.h"
#include "settings/Settings.h"
#include "support/CardPlaylists.h"
#include "support/Clips.h"
#include "support/Processes.h"
#include "view/QuickLook.h"

#include <unistd.h>

#include <gtest/gtest.h>

using namespace gui_testing;
using namespace testing_support;
using namespace std::chrono_literals;

namespace {

wxPoint CellCentre(CChildView* view, std::size_t item)
{
    const FmtRect& r = view->GridLayout().Items().at(item)->GetRect();
    return wxPoint(r.left + r.Width() / 2, r.top - view->ScrollPosition(wxVERTICAL) + r.Height() / 2);
}

// What the quick look shows at a fraction of its picture's height, in the middle.
wxColour Shown(CQuickLook* look, double down = 0.5)
{
    const wxRect r = look->Picture()->GetScreenRect();
    return ScreenPixel(wxPoint(r.x + r.width / 2, r.y + static_cast<int>(r.height * down)));
}

bool Near(const wxColour& c, int red, int green, int blue)
{
    return std::abs(c.Red() - red) < 60 && std::abs(c.Green() - green) < 60 && std::abs(c.Blue() - blue) < 60;
}

wxPoint Middle(CQuickLook* look)
{
    const wxSize size = look->Picture()->GetClientSize();
    return wxPoint(size.x / 2, size.y / 2);
}

std::string Name(const wxColour& c)
{
    return c.GetAsString(wxC2S_HTML_SYNTAX).utf8_string();
}

}  // namespace

TEST(QuickLookTest, SpacePlaysTheClipUnderThePointerAClickPausesLeftAndRightStepEscapeLetsGoOfTheCard)
{
    SplitRecording recording;
    FrameFixture::Options options;
    options.beforeStart = [&](const TempDir& dir) {
        const std::string bdmv = dir / "card/PRIVATE/AVCHD/BDMV";
        MakeDirs(bdmv + "/STREAM");
        // A recording of six files, a second of its own colour each, with sound; a file that is
        // no clip; a clip of one file, red over blue.
        recording = MakeSplitRecording(bdmv + "/STREAM", 0, {"red", "blue", "lime", "yellow", "magenta", "cyan"});
        WritePlaylist(bdmv, recording.items);
        ASSERT_EQ(Shell("cp " + ShellQuote(TestClips().text) + " " + ShellQuote(bdmv + "/STREAM/00006.MTS")), 0);
        ASSERT_EQ(Shell("cp " + ShellQuote(TestClips().redOverBlue) + " " + ShellQuote(bdmv + "/STREAM/00007.MTS")), 0);
        settings::LastDirectory.Write(dir / "card");
        settings::SplitDates.Write(false);
    };
    FrameFixture f(options);
    const std::string card = f.dir / "card";
    Pump(20s, [&] { return f.view->GridLayout().Items().size() == 4; });
    ASSERT_EQ(f.view->GridLayout().Items().size(), 4u);  // the caption, the recording, the text file, the clip

    // Space on the recording: it plays, every file in order.
    RealInput input;
    input.PointAt(f.view, CellCentre(f.view, 1));
    input.Key(WXK_SPACE);
    Pump(5s, [&] { return f.view->QuickLook() != nullptr && f.view->QuickLook()->Looking(); });
    CQuickLook* look = f.view->QuickLook();
    ASSERT_TRUE(look != nullptr && look->Looking());
    EXPECT_EQ(look->Files(), recording.files);
    Pump(10s, [&] { return Near(Shown(look), 255, 0, 0); });
    EXPECT_TRUE(Near(Shown(look), 255, 0, 0)) << Name(Shown(look));
    Pump(5s, [&] { return Near(Shown(look), 0, 0, 255); });
    EXPECT_TRUE(Near(Shown(look), 0, 0, 255)) << Name(Shown(look));

    // A click pauses: the picture stands still. Another plays on.
    input.ClickAt(look->Picture(), Middle(look));
    Pump(400ms);
    const wxColour still = Shown(look);
    Pump(1500ms);
    EXPECT_EQ(Name(Shown(look)), Name(still));
    EXPECT_TRUE(look->GetTitle().EndsWith(" (paused)")) << look->GetTitle();
    input.ClickAt(look->Picture(), Middle(look));
    Pump(3s, [&] { return Shown(look) != still; });
    EXPECT_NE(Name(Shown(look)), Name(still));

    // Right: the next clip, which cannot be played and says why; then the one after it.
    const wxRect place = look->GetScreenRect();
    input.Key(WXK_RIGHT);
    Pump(5s, [&] { return !look->Message().empty() && look->Message().Contains("cannot be played"); });
    EXPECT_EQ(look->Files(), std::vector<std::string>{card + "/PRIVATE/AVCHD/BDMV/STREAM/00006.MTS"});
    EXPECT_TRUE(look->Message().StartsWith("00006.MTS cannot be played: ")) << look->Message();
    int lit = 0;  // the reason's letters, on black
    const wxImage middle = ScreenShot(wxRect(look->Picture()->GetScreenPosition() + wxPoint(0, look->Picture()->GetClientSize().y / 2 - 15),
                                             wxSize(look->Picture()->GetClientSize().x, 30)));
    for (int y = 0; y < middle.GetHeight(); ++y)
        for (int x = 0; x < middle.GetWidth(); ++x)
            lit += middle.GetRed(x, y) > 200 && middle.GetGreen(x, y) > 200 && middle.GetBlue(x, y) > 200;
    EXPECT_GT(lit, 50);
    input.Key(WXK_RIGHT);
    Pump(10s, [&] { return Near(Shown(look, 0.25), 255, 0, 0) && Near(Shown(look, 0.75), 0, 0, 255); });
    EXPECT_TRUE(Near(Shown(look, 0.25), 255, 0, 0) && Near(Shown(look, 0.75), 0, 0, 255))
        << Name(Shown(look, 0.25)) << " over " << Name(Shown(look, 0.75));

    // Left twice: the recording again, from its start.
    input.Key(WXK_LEFT);
    Pump(5s, [&] { return look->Files().size() == 1 && look->Files()[0].ends_with("00006.MTS"); });
    input.Key(WXK_LEFT);
    Pump(10s, [&] { return look->Files() == recording.files && Near(Shown(look), 255, 0, 0); });
    EXPECT_TRUE(Near(Shown(look), 255, 0, 0)) << Name(Shown(look));
    EXPECT_EQ(look->GetScreenRect(), place);

    // Escape puts it away, and nothing of the card is open any more: it can be unmounted.
    input.Key(WXK_ESCAPE);
    Pump(3s, [&] { return !look->Looking(); });
    EXPECT_FALSE(look->Looking());
    EXPECT_EQ(OpenFilesBelow({getpid()}, card), std::vector<std::string>{});

    // Space again opens it where it was; Space puts it away.
    input.PointAt(f.view, CellCentre(f.view, 3));
    input.Key(WXK_SPACE);
    Pump(5s, [&] { return look->Looking() && Near(Shown(look, 0.25), 255, 0, 0); });
    EXPECT_TRUE(look->Looking());
    EXPECT_EQ(look->GetScreenRect(), place);
    input.Key(WXK_SPACE);
    Pump(3s, [&] { return !look->Looking(); });
    EXPECT_FALSE(look->Looking());
    EXPECT_EQ(OpenFilesBelow({getpid()}, card), std::vector<std::string>{});
}
