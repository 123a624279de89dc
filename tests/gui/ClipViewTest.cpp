#include "gui/GuiTestSupport.h"
#include "log/EventLog.h"
#include "res/Resources.h"
#include "settings/Settings.h"
#include "support/Clips.h"
#include "support/CardLayout.h"
#include "support/JpegFixtures.h"
#include "support/MdpmClips.h"
#include "view/Playlist.h"

#include <wx/image.h>
#include <wx/settings.h>
#include <wx/statusbr.h>

#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace gui_testing;
using namespace testing_support;
using namespace std::chrono_literals;

namespace {

// Opens a folder of `count` loose clips through the Open Folder command.
void OpenClips(FrameFixture& f, const std::string& name, int count)
{
    for (int i = 0; i < count; ++i)
        WriteFile(f.dir / (name + "/clip" + std::to_string(1000 + i) + ".MTS"), "x");
    f.view->nextFolder = f.dir / name;
    f.view->OpenFolder();
}

// Gives slot `slot` of the first directory a picture of one colour.
void GivePicture(FrameFixture& f, int slot, int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b,
                 bool withPixels = true)
{
    auto picture = std::make_unique<CRgbImage>();
    if (withPixels) {
        picture->width = width;
        picture->height = height;
        picture->stride = static_cast<int>(CRgbImage::StrideFor(width));
        picture->pixels = imaging::AllocatePixels(static_cast<std::size_t>(picture->stride) * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                std::uint8_t* p = picture->pixels.get() + picture->OffsetOf(x, y);
                p[0] = b, p[1] = g, p[2] = r;
            }
    } else {
        picture->width = width;
        picture->height = height;
    }
    f.view->Document().GetDirectory(0)->thumbnails->SetImage(slot, std::move(picture));
}

wxMouseEvent Mouse(wxEventType type, wxPoint at, bool shift = false, bool control = false)
{
    wxMouseEvent event(type);
    event.SetPosition(at);
    event.m_shiftDown = shift;
    event.m_controlDown = control;
    event.m_leftDown = type == wxEVT_LEFT_DOWN || type == wxEVT_MOTION;
    return event;
}

void Send(CChildView* view, wxEvent&& event)
{
    event.SetEventObject(view);
    view->ProcessWindowEvent(event);
}

// Client point at the middle of item `i` of the layout.
wxPoint Centre(CChildView* view, std::size_t i)
{
    const FmtRect& r = view->GridLayout().Items().at(i)->GetRect();
    return wxPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2 - view->ScrollPosition(wxVERTICAL));
}

wxColour PixelAt(const wxImage& image, int x, int y)
{
    return wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
}

}  // namespace

TEST(ClipViewTest, ScrollCodesKeysAndWheelOnTallContent)
{
    FrameFixture f;
    OpenClips(f, "tall", 160);
    for (int slot = 0; slot < 160; ++slot)
        GivePicture(f, slot, 416, 2000, 0, 0, 0, false);  // no pixels needed to lay out
    f.view->RefreshGrid();
    Pump(100ms);
    CChildView* v = f.view;
    const int total = v->GridLayout().height;
    const int page = v->pageSize.y;
    ASSERT_GT(total, 70000 + page);
    EXPECT_EQ(v->GetScrollRange(wxVERTICAL), total + 1);
    EXPECT_EQ(v->GetScrollThumb(wxVERTICAL), page);

    v->OnScrollCode(wxVERTICAL, wxEVT_SCROLLWIN_LINEDOWN, 0);
    EXPECT_EQ(v->ScrollPosition(wxVERTICAL), 10);
    v->OnScrollCode(wxVERTICAL, wxEVT_SCROLLWIN_PAGEDOWN, 0);
    EXPECT_EQ(v->ScrollPosition(wxVERTICAL), 10 + page);
    v->OnScrollCode(wxVERTICAL, wxEVT_SCROLLWIN_THUMBTRACK, 70000);  // beyond 16 bits
    EXPECT_EQ(v->ScrollPosition(wxVERTICAL), 70000);
    v->OnScrollCode(wxVERTICAL, wxEVT_SCROLLWIN_LINEUP, 0);
    EXPECT_EQ(v->ScrollPosition(wxVERTICAL), 69990);
    v->OnScrollCode(wxVERTICAL, wxEVT_SCROLLWIN_BOTTOM, 0);
    EXPECT_EQ(v->ScrollPosition(wxVERTICAL), total - page);
    v->OnScrollCode(wxVERTICAL, wxEVT_SCROLLWIN_TOP, 0);
    EXPECT_EQ(v->ScrollPosition(wxVERTICAL), 0);
    v->OnScrollCode(wxHORIZONTAL, wxEVT_SCROLLWIN_BOTTOM, 0);  // no horizontal content
    EXPECT_EQ(v->ScrollPosition(wxHORIZONTAL), 0);

    auto key = [&](int code) {
        wxKeyEvent event(wxEVT_KEY_DOWN);
        event.m_keyCode = code;
        Send(v, std::move(event));
        return v->ScrollPosition(wxVERTICAL);
    };
    EXPECT_EQ(key(WXK_END), total - page);
    EXPECT_EQ(key(WXK_HOME), 0);
    EXPECT_EQ(key(WXK_DOWN), 10);
    EXPECT_EQ(key(WXK_PAGEDOWN), 10 + page);
    EXPECT_EQ(key(WXK_PAGEUP), 10);
    EXPECT_EQ(key(WXK_UP), 0);
    EXPECT_EQ(key(WXK_LEFT), 0);

    auto wheel = [&](int rotation, bool shift, bool control) {
        wxMouseEvent event(wxEVT_MOUSEWHEEL);
        event.m_wheelRotation = rotation;
        event.m_wheelDelta = 120;
        event.m_linesPerAction = 3;
        event.m_shiftDown = shift;
        event.m_controlDown = control;
        Send(v, std::move(event));
        return v->ScrollPosition(wxVERTICAL);
    };
    EXPECT_EQ(wheel(-120, false, false), 30);  // one notch towards the user: 3 lines of 10 pixels
    EXPECT_EQ(wheel(-240, false, false), 90);
    EXPECT_EQ(wheel(-120, true, false), 90);   // ignored with Shift
    EXPECT_EQ(wheel(-120, false, true), 90);   // and with Control
    EXPECT_EQ(wheel(120, false, false), 60);
}

TEST(ClipViewTest, PaintingComposesCaptionsCellsAndPictures)
{
    FrameFixture f;
    settings::SplitDates.Write(false);
    OpenClips(f, "paint", 3);
    GivePicture(f, 0, 416, 234, 10, 200, 30);
    f.view->RefreshGrid();
    Pump(100ms);
    CChildView* v = f.view;
    const wxSize client = v->GetClientSize();
    wxImage image = v->ComposeBuffer(wxRect(wxPoint(0, 0), client)).ConvertToImage();

    const FmtRect caption = v->GridLayout().Items().at(0)->GetRect();
    EXPECT_EQ(PixelAt(image, caption.right - 3, 15), wxColour(255, 255, 128));
    const FmtRect cell = v->GridLayout().Items().at(1)->GetRect();
    EXPECT_EQ(PixelAt(image, cell.left + 1, cell.top + 1), wxColour(204, 192, 224));
    EXPECT_EQ(PixelAt(image, cell.left + 4, cell.top + 4), wxColour(10, 200, 30));      // picture at cell + 4
    EXPECT_EQ(PixelAt(image, cell.left + 419, cell.top + 237), wxColour(10, 200, 30));  // its last pixel
    EXPECT_EQ(PixelAt(image, cell.left + 420, cell.top + 4), wxColour(204, 192, 224));
    const FmtRect placeholder = v->GridLayout().Items().at(2)->GetRect();
    EXPECT_EQ(placeholder.Width(), 416);
    EXPECT_EQ(placeholder.Height(), 100);
    EXPECT_EQ(PixelAt(image, client.x - 2, client.y - 2), wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE));

    // Selected cells change colour; the picture stays.
    Send(v, Mouse(wxEVT_LEFT_DOWN, Centre(v, 1)));
    Send(v, Mouse(wxEVT_LEFT_UP, Centre(v, 1)));
    image = v->ComposeBuffer(wxRect(wxPoint(0, 0), client)).ConvertToImage();
    EXPECT_EQ(PixelAt(image, cell.left + 1, cell.top + 1), wxColour(192, 128, 255));
    EXPECT_EQ(PixelAt(image, cell.left + 10, cell.top + 10), wxColour(10, 200, 30));

    // A buffer for part of the window paints the same pixels there.
    const wxImage part = v->ComposeBuffer(wxRect(cell.left, cell.top, 50, 50)).ConvertToImage();
    EXPECT_EQ(PixelAt(part, 1, 1), wxColour(192, 128, 255));
    EXPECT_EQ(PixelAt(part, 4, 4), wxColour(10, 200, 30));
}

TEST(ClipViewTest, MouseSelectionRules)
{
    FrameFixture f;
    settings::SplitDates.Write(false);
    OpenClips(f, "select", 4);
    for (int slot = 0; slot < 3; ++slot)
        GivePicture(f, slot, 100, 60, 1, 2, 3, false);  // slot 3 keeps no entry: never selectable
    f.view->RefreshGrid();
    Pump(100ms);
    CChildView* v = f.view;
    const auto& items = v->GridLayout().Items();
    auto selected = [&] {
        std::string s;
        for (std::size_t i = 1; i < items.size(); ++i)
            s += items[i]->IsSelected() ? '1' : '0';
        return s;
    };
    auto click = [&](wxPoint at, bool shift, bool control) {
        Send(v, Mouse(wxEVT_LEFT_DOWN, at, shift, control));
        Send(v, Mouse(wxEVT_LEFT_UP, at, shift, control));
    };
    click(Centre(v, 1), false, false);
    EXPECT_EQ(selected(), "1000");
    click(Centre(v, 3), false, true);  // Control adds
    EXPECT_EQ(selected(), "1010");
    click(Centre(v, 1), false, true);  // Control on a selected clip removes it
    EXPECT_EQ(selected(), "0010");
    click(Centre(v, 1), true, false);  // Shift selects from the nearest selected
    EXPECT_EQ(selected(), "1110");
    click(Centre(v, 4), false, false);  // a clip without a thumbnail cannot be selected
    EXPECT_EQ(selected(), "0000");
    click(Centre(v, 0), false, false);  // a caption selects its clips
    EXPECT_EQ(selected(), "1110");
    click(wxPoint(v->GetClientSize().x - 3, 200), false, true);  // Control on empty space: no change
    EXPECT_EQ(selected(), "1110");
    click(wxPoint(v->GetClientSize().x - 3, 200), false, false);  // a plain click there clears
    EXPECT_EQ(selected(), "0000");

    // Right button over a clip with nothing selected selects it; with a selection it stays.
    Send(v, Mouse(wxEVT_RIGHT_DOWN, Centre(v, 2)));
    EXPECT_EQ(selected(), "0100");
    Send(v, Mouse(wxEVT_RIGHT_DOWN, Centre(v, 3)));
    EXPECT_EQ(selected(), "0100");
}

TEST(ClipViewTest, DragStartsAfterFivePixelsOrHalfASecond)
{
    FrameFixture f;
    OpenClips(f, "drag", 2);
    GivePicture(f, 0, 100, 60, 1, 2, 3, false);
    f.view->RefreshGrid();
    Pump(100ms);
    CChildView* v = f.view;
    const wxPoint at = Centre(v, 1);
    Send(v, Mouse(wxEVT_LEFT_DOWN, at));
    EXPECT_TRUE(v->DragPending());
    Send(v, Mouse(wxEVT_MOTION, at + wxPoint(4, 0)));
    Send(v, Mouse(wxEVT_MOTION, at + wxPoint(0, -4)));
    EXPECT_TRUE(f.view->drags.empty());
    Send(v, Mouse(wxEVT_MOTION, at + wxPoint(3, 4)));  // 5 pixels away
    ASSERT_EQ(f.view->drags.size(), 1u);
    EXPECT_EQ(f.view->drags[0], std::vector<std::string>{f.dir / "drag/clip1000.MTS"});
    EXPECT_FALSE(v->DragPending());
    Send(v, Mouse(wxEVT_LEFT_UP, at));

    // Holding the button still for 500 ms arms the drag; the next motion starts it.
    Send(v, Mouse(wxEVT_LEFT_DOWN, at));
    Pump(2s, [&] { return v->DragArmed(); });
    EXPECT_TRUE(f.view->drags.empty() || f.view->drags.size() == 1u);
    Send(v, Mouse(wxEVT_MOTION, at + wxPoint(1, 0)));
    EXPECT_EQ(f.view->drags.size(), 2u);
    Send(v, Mouse(wxEVT_LEFT_UP, at));

    // A press that is released first starts nothing.
    Send(v, Mouse(wxEVT_LEFT_DOWN, at));
    Send(v, Mouse(wxEVT_LEFT_UP, at));
    Pump(700ms);
    EXPECT_EQ(f.view->drags.size(), 2u);
}

TEST(ClipViewTest, PlayingThroughTheDesktopsProgram)
{
    FrameFixture f;
    RecordingDesktop desktop(f.dir);
    f.view->useDesktop = true;

    // Play All with no folder open: an empty list, opened all the same.
    wxCommandEvent playAll(wxEVT_MENU, res::kCmdPlayAll);
    f.frame->ProcessWindowEvent(playAll);
    const std::string playlist = f.dir / ("tmp/viewmere-" + std::to_string(getuid()) + "/AVCHD.wpl");
    EXPECT_EQ(ReadFile(playlist), MakePlaylistText({}));
    EXPECT_EQ(desktop.WaitForRecord(), playlist + "\n");

    // Play Clip: the clip under the context point, by its own bytes.
    WriteFile(desktop.record, "");
    OpenClips(f, "Anna & Tom", 2);
    f.view->RefreshGrid();
    Pump(100ms);
    Send(f.view, Mouse(wxEVT_LEFT_DCLICK, Centre(f.view, 1)));
    EXPECT_EQ(desktop.WaitForRecord(), f.dir / "Anna & Tom/clip1000.MTS\n");
}

TEST(ClipViewTest, EndToEndGeneratedThumbnailsArriveAndCellsGrow)
{
    FrameFixture::Options options;
    options.realThumbnails = true;
    std::string card;
    options.beforeStart = [&](const TempDir& dir) {
        card = dir / "card";
        MakeDirs(card);
        for (const std::string& clip : {TestClips().interlaced1080, TestClips().anamorphic1440, TestClips().progressive720})
            ASSERT_EQ(Shell("cp " + ShellQuote(clip) + " " + ShellQuote(card + "/")), 0);
        settings::LastDirectory.Write(card);
        settings::GenerateThumbnails.Write(true);
    };
    FrameFixture f(options);
    wxStatusBar* status = f.frame->GetStatusBar();
    std::vector<wxString> texts;
    auto noteText = [&] {
        if (texts.empty() || texts.back() != status->GetStatusText(1))
            texts.push_back(status->GetStatusText(1));
    };
    // The folder opens 100 ms after start with placeholder cells.
    Pump(3s, [&] {
        noteText();
        return f.view->GridLayout().Items().size() == 4;
    });
    ASSERT_EQ(f.view->GridLayout().Items().size(), 4u);
    Pump(30s, [&] {
        noteText();
        return status->GetStatusText(1).StartsWith("Idle (1 folder") &&
               f.view->GridLayout().Items().at(3)->GetRect().Height() == 240;
    });
    EXPECT_EQ(status->GetStatusText(1), "Idle (1 folder, 3 clips)");
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(f.view->GridLayout().Items()[i]->GetRect().Width(), 392);   // 384 + 8
        EXPECT_EQ(f.view->GridLayout().Items()[i]->GetRect().Height(), 240);  // 216 + 24
    }
    ASSERT_FALSE(texts.empty());
    EXPECT_TRUE(texts.front() == "Idle" || texts.front().StartsWith("Generating thumbnails ("));
    for (const wxString& text : texts)
        EXPECT_FALSE(text == "Generating thumbnails (0 remaining)");
    for (const char* clip : {"00000.MTS", "00001.MTS", "00002.m2ts"})
        EXPECT_TRUE(wxFileExists(wxString::FromUTF8(card + "/" + clip + ".viewmere.jpg"))) << clip;
}

TEST(ClipViewTest, OptionsQueueMissingThumbnailsAndReLayOutOnADateSplitChange)
{
    FrameFixture f;
    OpenClips(f, "opts", 3);
    f.view->RefreshGrid();
    Pump(100ms);
    const std::size_t before = f.view->GridLayout().Items().size();
    EXPECT_EQ(f.view->Document().GetPendingCount(), 0);
    // The dialog's OK: generation on, dates no longer split.
    f.view->SetOptionsDialogRunner([](wxWindow*) {
        settings::GenerateThumbnails.Write(true);
        settings::SplitDates.Write(false);
        return true;
    });
    wxCommandEvent options(wxEVT_MENU, res::kCmdOptions);
    f.frame->ProcessWindowEvent(options);
    // The view's generator makes nothing here, so the queue empties as it is worked.
    Pump(500ms);
    std::vector<std::string> all;
    f.view->GridLayout().CollectAllPaths(all);
    EXPECT_EQ(all.size(), 3u);
    EXPECT_EQ(f.view->GridLayout().Items().size(), before);  // one caption either way
    const auto* caption = dynamic_cast<const CFmtCaption*>(f.view->GridLayout().Items().at(0));
    ASSERT_NE(caption, nullptr);
    EXPECT_EQ(caption->Text(), f.dir / "opts");  // the path alone: laid out again without dates
}

TEST(ClipViewTest, ACopiedCardShowsItsRecordingDatesAsCaptionsKeepingScrollAndSelection)
{
    FrameFixture f;
    // A camera card copied so that every file has the copy's time; the clips' own dates differ.
    const std::string card = f.dir / "copied";
    CardOptions camera;
    camera.clips = {"00000.MTS", "00001.MTS", "00002.MTS", "00003.MTS", "00004.MTS", "00005.MTS"};
    camera.thumbnailBlocks = 6;
    const std::string stream = WriteCard(card, camera);
    MakeDatedClip(stream + "/00000.MTS", 0x02, 2008, 12, 31, 23, 16, 24);
    MakeDatedClip(stream + "/00002.MTS", 0x02, 2009, 1, 1, 11, 1, 2);
    MakeDatedClip(stream + "/00004.MTS", 0x02, 2009, 1, 2, 12, 3, 4);
    auto clip = [&](int slot) { return stream + "/0000" + std::to_string(slot) + ".MTS"; };
    for (int slot : {1, 3, 5})
        ASSERT_EQ(Shell("cp " + ShellQuote(clip(slot - 1)) + " " + ShellQuote(clip(slot))), 0);
    for (int slot = 0; slot < 6; ++slot)
        SetModificationTime(clip(slot), 1600000000);
    f.frame->SetSize(wxSize(560, 600));  // one cell per row: the grid scrolls
    Pump(200ms);

    RecordingView* v = f.view;
    auto captions = [&] {
        std::vector<std::string> texts;
        for (const auto& item : v->GridLayout().Items())
            if (const auto* caption = dynamic_cast<const CFmtCaption*>(item))
                texts.push_back(caption->Text());
        return texts;
    };
    auto cellOf = [&](int slot) {
        return v->GridLayout().FindClip(v->Document().GetDirectory(0)->clips.get(), static_cast<std::uint32_t>(slot));
    };
    v->nextFolder = card;
    v->OpenFolder();
    ASSERT_EQ(captions(), std::vector<std::string>{card + " (13-Sep-2020)"});  // the copy's date, for now
    // The user has selected clip 3 and scrolled it to 40 pixels below the top of the view.
    v->GridLayout().SetSelected(const_cast<CFmtClip*>(cellOf(3)), v, true, false);
    v->ScrollTo(wxVERTICAL, cellOf(3)->GetRect().top - 40);
    ASSERT_EQ(cellOf(3)->GetRect().top - v->ScrollPosition(wxVERTICAL), 40);

    // The times arrive within a collection or two; the window lays itself out again.
    Pump(10s, [&] { return captions().size() == 3; });
    EXPECT_EQ(captions(), (std::vector<std::string>{card + " (31-Dec-2008)", card + " (1-Jan-2009)",
                                                    card + " (2-Jan-2009)"}));
    std::string label;
    v->Document().GetDirectory(0)->clips->FormatCaption(0, label);
    EXPECT_NE(label.find("23:16:24 31-Dec-2008"), std::string::npos) << label;  // the camera's own clock
    EXPECT_EQ(cellOf(3)->GetRect().top - v->ScrollPosition(wxVERTICAL), 40);
    for (int slot = 0; slot < 6; ++slot)
        EXPECT_EQ(cellOf(slot)->IsSelected(), slot == 3) << slot;
}
