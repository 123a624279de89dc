// The program as a person uses it: pointer and keys through the X server, and what the person
// then sees (pixels on the screen), gets (files, launched programs) or can use (windows).
#include "app/OptionsDlg.h"
#include "gui/GuiTestSupport.h"
#include "gui/RealInput.h"
#include "log/EventLogDlg.h"
#include "res/Resources.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"
#include "platform/FileSystem.h"
#include "support/CardPlaylists.h"
#include "support/Clips.h"
#include "support/LogCapture.h"
#include "view/Playlist.h"

#include <wx/aui/auibar.h>
#include <wx/dnd.h>
#include <wx/menu.h>
#include <wx/statusbr.h>

#include <gtk/gtk.h>

#include <gtest/gtest.h>

#include <memory>

// From the toolkit's X11 header, whose macros would clash with the test framework's names.
extern "C" unsigned long gdk_x11_window_get_xid(GdkWindow* window);

using namespace gui_testing;
using namespace testing_support;
using namespace std::chrono_literals;

namespace {

const wxColour kClipColour(204, 192, 224);
const wxColour kSelectedColour(192, 128, 255);

// A picture colour that no other slot, caption, border or background has (unique below 200).
wxColour ColourOfSlot(int slot)
{
    return wxColour(static_cast<unsigned char>(20 + (slot * 37) % 200), static_cast<unsigned char>(10 + slot % 40),
                    static_cast<unsigned char>(30 + (slot * 5) % 50));
}

int SlotOfColour(const wxColour& colour, int count)
{
    for (int slot = 0; slot < count; ++slot)
        if (ColourOfSlot(slot) == colour)
            return slot;
    return -1;
}

// A folder of `count` loose clips, each with a picture of its own colour, opened in the view.
void OpenColouredClips(FrameFixture& f, int count, int width = 200, int height = 120,
                       const std::string& folder = "clips")
{
    settings::SplitDates.Write(false);
    for (int i = 0; i < count; ++i)
        WriteFile(f.dir / (folder + "/clip" + std::to_string(1000 + i) + ".MTS"), "x");
    f.view->nextFolder = f.dir / folder;
    f.view->OpenFolder();
    for (int slot = 0; slot < count; ++slot) {
        auto picture = std::make_unique<CRgbImage>();
        picture->width = width;
        picture->height = height;
        picture->stride = static_cast<int>(CRgbImage::StrideFor(width));
        picture->pixels = imaging::AllocatePixels(static_cast<std::size_t>(picture->stride) * height);
        const wxColour c = ColourOfSlot(slot);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                std::uint8_t* p = picture->pixels.get() + picture->OffsetOf(x, y);
                p[0] = c.Blue(), p[1] = c.Green(), p[2] = c.Red();
            }
        f.view->Document().GetDirectory(0)->thumbnails->SetImage(slot, std::move(picture));
    }
    f.view->RefreshGrid();
    Pump(300ms);
}

std::string ClipPath(FrameFixture& f, int slot, const std::string& folder = "clips")
{
    return f.dir / (folder + "/clip" + std::to_string(1000 + slot) + ".MTS");
}

// Client rectangle of layout item `i` (0 is the caption, 1 + slot the clips).
wxRect ClientRectOf(CChildView* view, std::size_t i)
{
    const FmtRect& r = view->GridLayout().Items().at(i)->GetRect();
    return wxRect(r.left, r.top - view->ScrollPosition(wxVERTICAL), r.Width(), r.Height());
}

wxPoint PictureOf(CChildView* view, int slot)
{
    const wxRect r = ClientRectOf(view, static_cast<std::size_t>(slot) + 1);
    return wxPoint(r.x + 30, r.y + 30);
}

// What the screen shows of each clip's border: '1' in the selection colour, '0' in the plain one.
std::string BordersOnScreen(FrameFixture& f, int count)
{
    std::string s;
    for (int slot = 0; slot < count; ++slot) {
        const wxRect r = ClientRectOf(f.view, static_cast<std::size_t>(slot) + 1);
        const wxColour c = ClientPixel(f.view, r.GetTopLeft() + wxPoint(1, 1));
        s += c == kSelectedColour ? '1' : c == kClipColour ? '0' : '?';
    }
    return s;
}

// Waits until the screen shows the expected borders; what it shows then.
std::string Borders(FrameFixture& f, int count, const std::string& expected)
{
    std::string shown;
    Pump(3s, [&] { return (shown = BordersOnScreen(f, count)) == expected; });
    return shown;
}

std::vector<int> SelectedSlots(FrameFixture& f)
{
    std::vector<int> slots;
    for (const auto& item : f.view->GridLayout().Items())
        if (const auto* clip = dynamic_cast<const CFmtClip*>(item); clip != nullptr && clip->IsSelected())
            slots.push_back(static_cast<int>(clip->Index()));
    return slots;
}

// Runs `act` once a modal window of the given kind is up: the test itself waits inside the
// toolkit's modal loop until the window is closed.
template <class Window>
class WhenShown {
public:
    explicit WhenShown(std::function<void(Window&)> act) : act_(std::move(act))
    {
        timer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
            for (wxWindow* top : wxTopLevelWindows)
                if (auto* window = dynamic_cast<Window*>(top); window != nullptr && window->IsShown() && !done_) {
                    done_ = true;
                    timer_.Stop();
                    act_(*window);
                }
        });
        timer_.Start(100);
    }
    bool Done() const { return done_; }

private:
    std::function<void(Window&)> act_;
    wxTimer timer_;
    bool done_ = false;
};

// Clicks with xdotool, for input while the test waits inside a modal loop.
std::unique_ptr<BackgroundCommand> ClickLater(wxPoint screen, const std::string& then = "")
{
    return std::make_unique<BackgroundCommand>("sleep 0.3; xdotool mousemove " + std::to_string(screen.x) + " " +
                                               std::to_string(screen.y) + " sleep 0.2 click 1" + then);
}

wxPoint CentreOnScreen(wxWindow* window)
{
    return window->GetScreenRect().GetPosition() + window->GetSize() / 2;
}

GtkRange* VerticalBar(CChildView* view)
{
    return GTK_RANGE(gtk_scrolled_window_get_vscrollbar(GTK_SCROLLED_WINDOW(view->GetHandle())));
}

}  // namespace

TEST(RealInputTest, WindowsStayUsableWhenIdle)
{
    FrameFixture f;
    Pump(1s);
    for (wxWindow* window : {static_cast<wxWindow*>(f.frame), static_cast<wxWindow*>(f.view),
                             static_cast<wxWindow*>(f.frame->ToolBar()),
                             static_cast<wxWindow*>(f.frame->GetStatusBar())}) {
        EXPECT_TRUE(window->IsEnabled()) << window->GetClassInfo()->GetClassName();
        EXPECT_TRUE(ToolkitSensitive(window)) << window->GetClassInfo()->GetClassName();
    }
    // The commands without a handler still show disabled, on the toolbar too.
    EXPECT_FALSE(f.frame->ToolBar()->GetToolEnabled(wxID_CUT));
    EXPECT_TRUE(f.frame->ToolBar()->GetToolEnabled(res::kCmdToggleEventLog));
}

TEST(RealInputTest, ClicksSelectAsTheScreenShows)
{
    FrameFixture f;
    OpenColouredClips(f, 6);
    RealInput input;
    EXPECT_EQ(Borders(f, 6, "000000"), "000000");
    input.ClickAt(f.view, PictureOf(f.view, 1));
    EXPECT_EQ(Borders(f, 6, "010000"), "010000");
    input.ClickAt(f.view, PictureOf(f.view, 3), wxMOD_CONTROL);  // Control adds
    EXPECT_EQ(Borders(f, 6, "010100"), "010100");
    input.ClickAt(f.view, PictureOf(f.view, 1), wxMOD_CONTROL);  // and takes away
    EXPECT_EQ(Borders(f, 6, "000100"), "000100");
    input.ClickAt(f.view, PictureOf(f.view, 5), wxMOD_SHIFT);  // Shift selects a range
    EXPECT_EQ(Borders(f, 6, "000111"), "000111");
    input.ClickAt(f.view, ClientRectOf(f.view, 0).GetTopLeft() + wxPoint(300, 10));  // the caption: all its clips
    EXPECT_EQ(Borders(f, 6, "111111"), "111111");
    const wxSize client = f.view->GetClientSize();
    input.ClickAt(f.view, wxPoint(client.x - 5, client.y - 5));  // empty space clears
    EXPECT_EQ(Borders(f, 6, "000000"), "000000");
    EXPECT_TRUE(SelectedSlots(f).empty());
}

TEST(RealInputTest, PopupItemsByKeyboardAndDoubleClickPlayThroughTheDesktop)
{
    FrameFixture f;
    RecordingDesktop desktop(f.dir);
    f.view->useDesktop = true;
    OpenColouredClips(f, 4);
    RealInput input;
    const std::string playlist = f.dir / ("tmp/viewmere-" + std::to_string(getuid()) + "/AVCHD.wpl");

    // The popup holds the test in its loop until an item is chosen: the keys come from outside.
    // The pointer leaves the menu first, so that no item is under it.
    auto choose = [&](int slot, int downs) {
        std::string keys;
        for (int i = 0; i < downs; ++i)
            keys += " Down";
        BackgroundCommand xdotool("sleep 0.8; xdotool mousemove_relative -- -60 -60 sleep 0.2 key" + keys +
                                  " sleep 0.1 key Return");
        input.ClickAt(f.view, PictureOf(f.view, slot), wxMOD_NONE, wxMOUSE_BTN_RIGHT);
        Pump(5s, [&] { return xdotool.Finished(); });
        const std::string opened = desktop.WaitForRecord();
        WriteFile(desktop.record, "");
        return opened;
    };
    // Right button with nothing selected selects the clip; Play Clip plays the one under it.
    EXPECT_EQ(choose(2, 1), ClipPath(f, 2) + "\n");
    EXPECT_EQ(SelectedSlots(f), std::vector<int>{2});
    input.ClickAt(f.view, PictureOf(f.view, 3), wxMOD_SHIFT);
    EXPECT_EQ(choose(3, 2), playlist + "\n");  // Play Selection
    EXPECT_EQ(ReadFile(playlist), MakePlaylistText({ClipPath(f, 2), ClipPath(f, 3)}));
    EXPECT_EQ(choose(0, 3), playlist + "\n");  // Play All
    EXPECT_EQ(ReadFile(playlist), MakePlaylistText({ClipPath(f, 0), ClipPath(f, 1), ClipPath(f, 2), ClipPath(f, 3)}));

    input.DoubleClickAt(f.view, PictureOf(f.view, 1));
    EXPECT_EQ(desktop.WaitForRecord(), ClipPath(f, 1) + "\n");
}

TEST(RealInputTest, FunctionKeysAndControlO)
{
    FrameFixture f;
    RealInput input;
    input.PointAt(f.view, wxPoint(60, 60));  // keys go to the window under the pointer

    input.Key(WXK_F4);
    Pump(2s, [&] { return f.frame->EventLog() != nullptr && f.frame->EventLog()->IsShown(); });
    ASSERT_NE(f.frame->EventLog(), nullptr);
    EXPECT_TRUE(f.frame->EventLog()->IsShown());
    // F4 again, with the log window's text clicked, hides it.
    input.PointAtScreen(CentreOnScreen(f.frame->EventLog()));
    input.Press();
    input.Release();
    input.Key(WXK_F4);
    Pump(2s, [&] { return !f.frame->EventLog()->IsShown(); });
    EXPECT_FALSE(f.frame->EventLog()->IsShown());
    input.PointAt(f.view, wxPoint(60, 60));

    // Ctrl+O: the folder chosen is shown and remembered.
    WriteFile(f.dir / "card/00000.MTS", "x");
    f.view->nextFolder = f.dir / "card";
    input.Key('O', wxMOD_CONTROL);
    Pump(2s, [&] { return f.view->folderDialogs == 1; });
    EXPECT_EQ(f.view->folderDialogs, 1);
    EXPECT_EQ(settings::LastDirectory.Read(), f.dir / "card");
    ASSERT_EQ(f.view->GridLayout().Items().size(), 2u);

    // F2: the options dialog, closed with Escape, which writes nothing.
    std::unique_ptr<BackgroundCommand> escape;
    WhenShown<COptionsDlg> close([&](COptionsDlg& dialog) {
        const wxPoint at = CentreOnScreen(&dialog);
        escape = std::make_unique<BackgroundCommand>("sleep 0.3; xdotool mousemove " + std::to_string(at.x) + " " +
                                                     std::to_string(at.y) + " sleep 0.2 key Escape");
    });
    input.Key(WXK_F2);
    Pump(5s, [&] { return close.Done() && escape->Finished(); });
    EXPECT_TRUE(close.Done());
    EXPECT_EQ(ReadFile(settings::SettingsFilePath()).find("GenerateThumbnails"), std::string::npos);
}

TEST(RealInputTest, MenusAndToolbarWithTheMouse)
{
    FrameFixture f;
    RealInput input;
    auto openMenu = [&](const char* title) {
        wxMenuBar* bar = f.frame->GetMenuBar();
        wxMenu* menu = bar->GetMenu(static_cast<size_t>(bar->FindMenu(title)));
        GtkWidget* item = nullptr;
        for (GList* child = gtk_container_get_children(GTK_CONTAINER(bar->GetHandle())); child != nullptr;
             child = child->next)
            if (gtk_menu_item_get_submenu(GTK_MENU_ITEM(child->data)) == menu->m_menu)
                item = GTK_WIDGET(child->data);
        EXPECT_NE(item, nullptr) << title;
        input.PointAtScreen(ScreenRectOf(item).GetPosition() + wxPoint(8, 8));
        input.Press();
        input.Release();
        Pump(2s, [&] { return gtk_widget_get_mapped(menu->m_menu); });
        return menu;
    };
    auto pick = [&](wxMenu* menu, int id) {
        const wxRect rect = ScreenRectOf(menu->FindItem(id)->GetMenuItem());
        input.PointAtScreen(rect.GetPosition() + wxPoint(20, rect.height / 2));
        Pump(200ms);
        input.Press();
        input.Release();
    };

    // View > Status Bar hides the bar.
    pick(openMenu("View"), res::kCmdViewStatusBar);
    Pump(1s, [&] { return !f.frame->GetStatusBar()->IsShown(); });
    EXPECT_FALSE(f.frame->GetStatusBar()->IsShown());

    // Edit > Options shows the dialog; its Cancel button closes it.
    std::unique_ptr<BackgroundCommand> cancel;
    WhenShown<COptionsDlg> close([&](COptionsDlg& dialog) {
        cancel = ClickLater(CentreOnScreen(dialog.FindWindow(wxID_CANCEL)));
    });
    pick(openMenu("Edit"), res::kCmdOptions);
    Pump(5s, [&] { return close.Done() && cancel->Finished(); });
    EXPECT_TRUE(close.Done());

    // The toolbar's Event Log button.
    wxAuiToolBar* tools = f.frame->ToolBar();
    const wxRect button = tools->GetToolRect(res::kCmdToggleEventLog);
    input.ClickAt(tools, button.GetPosition() + button.GetSize() / 2);
    Pump(2s, [&] { return f.frame->EventLog() != nullptr && f.frame->EventLog()->IsShown(); });
    ASSERT_NE(f.frame->EventLog(), nullptr);
    EXPECT_TRUE(f.frame->EventLog()->IsShown());

    // A log window that is destroyed is made anew when it is next asked for.
    f.frame->EventLog()->Destroy();
    Pump(1s);
    EXPECT_EQ(f.frame->EventLog(), nullptr);
    input.ClickAt(tools, button.GetPosition() + button.GetSize() / 2);
    Pump(2s, [&] { return f.frame->EventLog() != nullptr && f.frame->EventLog()->IsShown(); });
    EXPECT_NE(f.frame->EventLog(), nullptr);
}

namespace {

// Clicks a clip picture found on the screen and says which clip the screen showed there and
// which clip the click selected.
struct Probe {
    int seen = -1;
    int selected = -1;
};

Probe ClickWhatTheScreenShows(FrameFixture& f, RealInput& input, int count)
{
    // Two clicks on one spot in quick succession are a double click, which plays the clip
    // instead of selecting it: the next probe clicks elsewhere.
    static wxPoint lastClick(-1, -1);
    const wxSize client = f.view->GetClientSize();
    const wxImage shot = ScreenShot(wxRect(f.view->ClientToScreen(wxPoint(0, 0)), client));
    for (int y = client.y / 2; y < client.y - 4; y += 7)
        for (int x = 40; x < client.x - 40; x += 53) {
            const int slot = SlotOfColour(wxColour(shot.GetRed(x, y), shot.GetGreen(x, y), shot.GetBlue(x, y)), count);
            if (slot < 0 || wxPoint(x, y) == lastClick)
                continue;
            lastClick = wxPoint(x, y);
            input.ClickAt(f.view, wxPoint(x, y));
            std::vector<int> selected;
            Pump(2s, [&] { return (selected = SelectedSlots(f)) == std::vector<int>{slot}; });
            return {slot, selected.size() == 1 ? selected[0] : -1};
        }
    return {};
}

}  // namespace

TEST(RealInputTest, EveryWayOfScrollingKeepsBarContentAndClicksInStep)
{
    FrameFixture f;
    constexpr int kClips = 160;
    OpenColouredClips(f, kClips);
    CChildView* v = f.view;
    RealInput input;
    GtkRange* bar = VerticalBar(v);
    const wxRect barRect = ScreenRectOf(bar);
    const int page = v->pageSize.y;
    const int bottom = v->GridLayout().height - page;
    ASSERT_GT(bottom, 3 * page);

    // Waits for the position a person expects (if any), then checks that the bar shows it and
    // that a click on what the screen shows selects that clip.
    auto inStep = [&](const char* how, int expected = -1) {
        SCOPED_TRACE(how);
        Pump(expected < 0 ? 300ms : 3s, [&] { return v->ScrollPosition(wxVERTICAL) == expected; });
        Pump(100ms);
        EXPECT_EQ(v->GetScrollPos(wxVERTICAL), v->ScrollPosition(wxVERTICAL));
        EXPECT_EQ(static_cast<int>(gtk_range_get_value(bar)), v->ScrollPosition(wxVERTICAL));
        const Probe probe = ClickWhatTheScreenShows(f, input, kClips);
        EXPECT_GE(probe.seen, 0);
        EXPECT_EQ(probe.seen, probe.selected);
        return v->ScrollPosition(wxVERTICAL);
    };
    auto slider = [&] {
        int start = 0, end = 0;
        gtk_range_get_slider_range(bar, &start, &end);
        return wxPoint(barRect.x + barRect.width / 2, barRect.y + (start + end) / 2);
    };
    const wxPoint barEnd(barRect.x + barRect.width / 2, barRect.GetBottom() - 2);

    // The thumb, dragged down.
    const wxPoint grip = slider();
    input.PointAtScreen(grip);
    input.Press();
    for (int dy = 20; dy <= 120; dy += 20)
        input.PointAtScreen(grip + wxPoint(0, dy));
    input.Release();
    const int dragged = inStep("thumb drag");
    EXPECT_GT(dragged, 0);

    // The trough below the thumb.
    const wxPoint thumb = slider();
    input.PointAtScreen(wxPoint(thumb.x, (thumb.y + barEnd.y) / 2 + 10));
    input.Press();
    input.Release();
    EXPECT_GT(inStep("trough"), dragged);

    // Keys over the view.
    input.PointAt(v, wxPoint(v->GetClientSize().x / 2, 10));
    input.Key(WXK_HOME);
    EXPECT_EQ(inStep("Home", 0), 0);
    input.Key(WXK_PAGEDOWN);
    EXPECT_EQ(inStep("Page Down", page), page);
    input.Key(WXK_PAGEDOWN);
    input.Key(WXK_PAGEUP);
    EXPECT_EQ(inStep("Page Down, Page Up", page), page);
    input.Key(WXK_DOWN);
    EXPECT_EQ(inStep("Down", page + 10), page + 10);
    input.Key(WXK_UP);
    EXPECT_EQ(inStep("Up", page), page);
    input.Key(WXK_END);
    EXPECT_EQ(inStep("End", bottom), bottom);
    input.Key(WXK_HOME);
    EXPECT_EQ(inStep("Home again", 0), 0);

    // Held still while keys and the wheel scroll the grid, the pointer is over other clips: the
    // status bar and the tip tell of the one under it each time.
    wxStatusBar* status = f.frame->GetStatusBar();
    const wxPoint still = PictureOf(v, 1) + wxPoint(0, 20);
    input.PointAt(v, still);
    auto tellsOfClipUnderPointer = [&](const char* how) {
        SCOPED_TRACE(how);
        std::string expected;
        Pump(3s, [&] {
            const auto* clip = dynamic_cast<const CFmtClip*>(v->GridLayout().HitTest(
                still.x + v->ScrollPosition(wxHORIZONTAL), still.y + v->ScrollPosition(wxVERTICAL)));
            expected = clip != nullptr ? clip->Clips()->FormatDetails(static_cast<int>(clip->Index())) : std::string();
            return status->GetStatusText(0).utf8_string() == expected;
        });
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(status->GetStatusText(0).utf8_string(), expected);
        EXPECT_EQ(v->GetToolTipText(), status->GetStatusText(0));
    };
    tellsOfClipUnderPointer("pointed at");
    const wxString pointedAt = status->GetStatusText(0);
    input.Key(WXK_PAGEDOWN);
    tellsOfClipUnderPointer("Page Down");
    EXPECT_NE(status->GetStatusText(0), pointedAt);
    input.Wheel(-4);
    tellsOfClipUnderPointer("wheel");
    input.Key(WXK_HOME);
    tellsOfClipUnderPointer("Home");
    EXPECT_EQ(status->GetStatusText(0), pointedAt);

    // The wheel: three lines of 10 pixels a notch; with Shift or Control nothing moves.
    input.PointAt(v, wxPoint(v->GetClientSize().x / 2, 10));
    input.Wheel(-3);
    EXPECT_EQ(inStep("wheel down", 90), 90);
    input.Wheel(-2, wxMOD_SHIFT);
    EXPECT_EQ(inStep("Shift+wheel", 90), 90);
    input.Wheel(-2, wxMOD_CONTROL);
    EXPECT_EQ(inStep("Control+wheel", 90), 90);
    input.Wheel(1);
    EXPECT_EQ(inStep("wheel up", 60), 60);
}

namespace {

// A window of another program in spirit: it takes dropped files.
class DropWindow : public wxFrame {
public:
    DropWindow() : wxFrame(nullptr, wxID_ANY, "drop here", wxPoint(100, 760), wxSize(400, 250))
    {
        SetDropTarget(new Target(this));
        Show();
    }
    std::vector<std::string> dropped;

private:
    struct Target : wxFileDropTarget {
        explicit Target(DropWindow* owner) : owner_(owner) {}
        bool OnDropFiles(wxCoord, wxCoord, const wxArrayString& files) override
        {
            for (const wxString& file : files)
                owner_->dropped.push_back(file.utf8_string());
            return true;
        }
        DropWindow* owner_;
    };
};

}  // namespace

TEST(RealInputTest, DragsStartByMovingFivePixelsOrAfterHoldingStill)
{
    FrameFixture f;
    OpenColouredClips(f, 3);
    f.view->realDrag = true;
    auto* target = new DropWindow;
    Pump(300ms);
    RealInput input;
    const wxPoint into = CentreOnScreen(target);
    // The drag loop holds the test until the drop: the rest of the gesture comes from outside.
    auto finishDragLater = [&] {
        return std::make_unique<BackgroundCommand>(
            "sleep 0.4; xdotool mousemove " + std::to_string(into.x - 20) + " " + std::to_string(into.y) +
            " sleep 0.3 mousemove " + std::to_string(into.x) + " " + std::to_string(into.y) + " sleep 0.3 mouseup 1");
    };

    // Four pixels are not enough; five are.
    const wxPoint at = PictureOf(f.view, 1);
    input.PointAt(f.view, at);
    input.Press();
    input.PointAt(f.view, at + wxPoint(4, 0));
    EXPECT_TRUE(f.view->drags.empty());
    auto finish = finishDragLater();
    input.PointAt(f.view, at + wxPoint(3, 4));
    Pump(5s, [&] { return finish->Finished() && !target->dropped.empty(); });
    EXPECT_EQ(target->dropped, std::vector<std::string>{ClipPath(f, 1)});

    // Held still for half a second, the next motion starts it.
    target->dropped.clear();
    input.PointAt(f.view, at);
    input.Press();
    Pump(2s, [&] { return f.view->DragArmed(); });
    EXPECT_TRUE(f.view->DragArmed());
    finish = finishDragLater();
    Pump(5s, [&] { return finish->Finished() && !target->dropped.empty(); });
    EXPECT_EQ(target->dropped, std::vector<std::string>{ClipPath(f, 1)});
    EXPECT_EQ(f.view->drags.size(), 2u);
    target->Destroy();
}

TEST(RealInputTest, AViewScrolledToTheEndStaysThereWhileThumbnailsArrive)
{
    constexpr int kClips = 30;
    FrameFixture::Options options;
    options.realThumbnails = true;
    options.beforeStart = [](const TempDir& dir) {
        const std::string card = dir / "card";
        MakeDirs(card);
        for (int i = 0; i < kClips; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "/%05d.MTS", i);
            ASSERT_EQ(Shell("cp " + ShellQuote(TestClips().progressive720) + " " + ShellQuote(card + name)), 0);
        }
        settings::LastDirectory.Write(card);
        settings::GenerateThumbnails.Write(true);
    };
    FrameFixture f(options);
    f.frame->SetSize(wxSize(560, 500));  // one cell per row
    RecordingView* v = f.view;
    Pump(3s, [&] { return v->GridLayout().Items().size() == kClips + 1; });
    RealInput input;
    input.ClickAt(v, wxPoint(60, 60));  // the grid takes the keys once clicked
    input.Key(WXK_END);
    Pump(3s, [&] { return v->ScrollPosition(wxVERTICAL) > 0; });
    ASSERT_GT(v->ScrollPosition(wxVERTICAL), 0);
    // Every cell above grows as its picture arrives; the view follows the end it was sent to.
    wxStatusBar* status = f.frame->GetStatusBar();
    Pump(60s, [&] { return status->GetStatusText(1).StartsWith("Idle"); });
    Pump(300ms);
    EXPECT_GE(v->ScrollPosition(wxVERTICAL) + v->pageSize.y, v->GridLayout().height);

    // Another folder (Ctrl+O) opens at its top.
    v->nextFolder = f.dir / "card";
    input.Key('O', wxMOD_CONTROL);
    Pump(3s, [&] { return v->ScrollPosition(wxVERTICAL) == 0; });
    EXPECT_EQ(v->ScrollPosition(wxVERTICAL), 0);
}

TEST(RealInputTest, ASplitRecordingIsOneCellWithItsFirstPictureThatPlaysDragsAndTellsItsLength)
{
    SplitRecording recording;
    FrameFixture::Options options;
    options.realThumbnails = true;
    options.beforeStart = [&](const TempDir& dir) {
        const std::string bdmv = dir / "card/PRIVATE/AVCHD/BDMV";
        MakeDirs(bdmv + "/STREAM");
        ASSERT_EQ(Shell("cp " + ShellQuote(TestClips().interlaced1080) + " " + ShellQuote(bdmv + "/STREAM/00000.MTS")), 0);
        recording = MakeSplitRecording(bdmv + "/STREAM", 1, {"red", "blue"});
        // A file named like a clip that holds no video: no picture can be made of it.
        ASSERT_EQ(Shell("cp " + ShellQuote(TestClips().text) + " " + ShellQuote(bdmv + "/STREAM/00003.MTS")), 0);
        std::vector<PlaylistItem> items{{"00000", 1, 0, 45000}};
        items.insert(items.end(), recording.items.begin(), recording.items.end());
        WritePlaylist(bdmv, items);
        settings::LastDirectory.Write(dir / "card");
        settings::GenerateThumbnails.Write(true);
        settings::SplitDates.Write(false);
    };
    FrameFixture f(options);
    RecordingDesktop desktop(f.dir);
    f.view->useDesktop = true;
    f.view->realDrag = true;
    wxStatusBar* status = f.frame->GetStatusBar();
    auto items = [&] { return f.view->GridLayout().Items().size(); };
    Pump(60s, [&] { return items() == 4 && status->GetStatusText(1).StartsWith("Idle"); });
    ASSERT_EQ(items(), 4u);  // the caption, the clip of one file, the recording of two and the text file
    Pump(300ms);

    // The recording shows its first file's first picture; nothing was made for the second file.
    const wxPoint picture = ClientRectOf(f.view, 2).GetTopLeft() + wxPoint(60, 60);
    const wxColour shown = ClientPixel(f.view, picture);
    EXPECT_TRUE(shown.Red() > 200 && shown.Green() < 60 && shown.Blue() < 60) << shown.GetAsString().utf8_string();
    EXPECT_TRUE(platform::FileExists(recording.files[0] + ".viewmere.jpg"));
    EXPECT_FALSE(platform::FileExists(recording.files[1] + ".viewmere.jpg"));

    // Pointed at, it tells its length, its files and its time, in the status bar and, over its
    // label (a tip over the picture would cover the frames skimmed), a tool tip.
    RealInput input;
    const wxRect cell = ClientRectOf(f.view, 2);
    input.PointAt(f.view, wxPoint(cell.x + cell.width / 2, cell.GetBottom() - 8));
    Pump(3s, [&] { return status->GetStatusText(0).StartsWith("00001.MTS: 0:02, 2 files, "); });
    EXPECT_TRUE(status->GetStatusText(0).StartsWith("00001.MTS: 0:02, 2 files, ")) << status->GetStatusText(0);
    EXPECT_EQ(f.view->GetToolTipText(), status->GetStatusText(0));

    // Pointed at, the file without a picture tells why, in the words of the log.
    const std::string bad = f.dir / "card/PRIVATE/AVCHD/BDMV/STREAM/00003.MTS";
    const std::string logged = "No first frame from [" + bad + "]: ";
    std::string reason;
    for (const std::string& line : TakeLogMessages())
        if (line.rfind(logged, 0) == 0)
            reason = line.substr(logged.size());
    ASSERT_FALSE(reason.empty());
    input.PointAt(f.view, ClientRectOf(f.view, 3).GetTopLeft() + wxPoint(60, 60));
    Pump(3s, [&] { return status->GetStatusText(0).StartsWith("00003.MTS: "); });
    EXPECT_TRUE(status->GetStatusText(0).utf8_string().ends_with("; no picture: " + reason)) << status->GetStatusText(0);
    EXPECT_EQ(f.view->GetToolTipText(), status->GetStatusText(0));

    // A double click plays both files, in order.
    input.DoubleClickAt(f.view, picture);
    EXPECT_EQ(desktop.WaitForRecord(), recording.files[0] + "\n" + recording.files[1] + "\n");

    // Dragged to another program's window, it gives both files.
    auto* target = new DropWindow;
    Pump(300ms);
    const wxPoint into = CentreOnScreen(target);
    input.PointAt(f.view, picture);
    input.Press();
    BackgroundCommand finish("sleep 0.4; xdotool mousemove " + std::to_string(into.x - 20) + " " +
                             std::to_string(into.y) + " sleep 0.3 mousemove " + std::to_string(into.x) + " " +
                             std::to_string(into.y) + " sleep 0.3 mouseup 1");
    input.PointAt(f.view, picture + wxPoint(8, 0));
    Pump(5s, [&] { return finish.Finished() && !target->dropped.empty(); });
    EXPECT_EQ(target->dropped, recording.files);
    target->Destroy();

    // Options: with the join ticked off, every file is a cell of its own.
    std::unique_ptr<BackgroundCommand> untick;
    WhenShown<COptionsDlg> dialog([&](COptionsDlg& options) {
        const wxPoint ok = CentreOnScreen(options.FindWindow(wxID_OK));
        untick = ClickLater(CentreOnScreen(options.FindWindow(res::kIdJoinSplitRecordings)),
                            " sleep 0.3 mousemove " + std::to_string(ok.x) + " " + std::to_string(ok.y) +
                                " sleep 0.2 click 1");
    });
    input.PointAt(f.view, picture);
    input.Key(WXK_F2);
    Pump(10s, [&] { return dialog.Done() && untick->Finished() && items() == 5; });
    EXPECT_EQ(items(), 5u);
    EXPECT_FALSE(settings::JoinSplitRecordings.Read());
}

TEST(RealInputTest, KeysScrollTheGridRightAfterTheWindowOpensWithoutAClick)
{
    FrameFixture f;
    constexpr int kClips = 160;
    OpenColouredClips(f, kClips);
    CChildView* v = f.view;
    RealInput input;
    // The first picture on the screen below the middle of the view is that of the clip the
    // layout has there.
    auto screenMatchesLayout = [&] {
        for (int y = v->GetClientSize().y / 2; y < v->GetClientSize().y - 4; y += 7)
            if (const int slot = SlotOfColour(ClientPixel(v, wxPoint(40, y)), kClips); slot >= 0) {
                const auto* clip = dynamic_cast<const CFmtClip*>(v->GridLayout().HitTest(40, v->ScrollPosition(wxVERTICAL) + y));
                return clip != nullptr && static_cast<int>(clip->Index()) == slot;
            }
        return false;
    };
    const int page = v->pageSize.y, bottom = v->GridLayout().height - page;
    input.PointAt(v, wxPoint(v->GetClientSize().x / 2, v->GetClientSize().y / 2));  // no click
    for (const auto& [key, expected] : {std::pair{WXK_PAGEDOWN, page}, std::pair{WXK_END, bottom}, std::pair{WXK_HOME, 0}}) {
        input.Key(key);
        Pump(3s, [&] { return v->ScrollPosition(wxVERTICAL) == expected && screenMatchesLayout(); });
        EXPECT_EQ(v->ScrollPosition(wxVERTICAL), expected) << key;
        EXPECT_TRUE(screenMatchesLayout()) << key;
    }
    EXPECT_TRUE(SelectedSlots(f).empty());
}

TEST(RealInputTest, TheSelectionIsDraggedWithAnyModifierCopiedForAFileManagerAndPlayedByKeys)
{
    FrameFixture f;
    RecordingDesktop desktop(f.dir);
    f.view->useDesktop = true;
    f.view->realDrag = true;
    const std::string folder = "clips & \"co\" \xc3\xa9";  // an address must escape each of these
    OpenColouredClips(f, 6, 200, 120, folder);
    auto* target = new DropWindow;
    Pump(300ms);
    RealInput input;
    std::vector<std::string> all;
    for (int slot = 0; slot < 6; ++slot)
        all.push_back(ClipPath(f, slot, folder));
    auto pasted = [&](const std::string& format) {  // the files another program gets from the clipboard
        BackgroundCommand xclip("xclip -o -selection clipboard -t " + format + " > " + ShellQuote(f.dir / "pasted"));
        Pump(5s, [&] { return xclip.Finished(); });
        std::string text = ReadFile(f.dir / "pasted");
        if (format != "text/uri-list")  // GNOME's: "copy", then an address a line
            text = text.rfind("copy\n", 0) == 0 ? text.substr(5) : "";
        std::vector<std::string> files;
        gchar** uris = g_uri_list_extract_uris(text.c_str());
        for (gchar** uri = uris; *uri != nullptr; ++uri) {
            gchar* file = g_filename_from_uri(*uri, nullptr, nullptr);
            files.push_back(file != nullptr ? file : "?");
            g_free(file);
        }
        g_strfreev(uris);
        return files;
    };

    input.PointAt(f.view, wxPoint(f.view->GetClientSize().x - 20, f.view->GetClientSize().y - 20));
    input.Key('A', wxMOD_CONTROL);
    ASSERT_EQ(Borders(f, 6, "111111"), "111111");
    input.Key('C', wxMOD_CONTROL);
    EXPECT_EQ(pasted("text/uri-list"), all);
    EXPECT_EQ(pasted("x-special/gnome-copied-files"), all);

    // Pressed on a selected clip with no modifier, with Shift (a move to the toolkit) or with
    // Shift and Control (a link), the drag gives every selected file, and the selection stays.
    const wxPoint from = f.view->ClientToScreen(PictureOf(f.view, 5)), into = CentreOnScreen(target);
    auto at = [](wxPoint p) { return " mousemove " + std::to_string(p.x) + " " + std::to_string(p.y) + " sleep 0.3"; };
    for (const std::string keys : {"", "shift", "shift+ctrl"}) {
        target->dropped.clear();
        BackgroundCommand gesture("xdotool" + at(from) + (keys.empty() ? "" : " keydown " + keys) + " mousedown 1" +
                                  at(from + wxPoint(12, 0)) + at(into - wxPoint(20, 0)) + at(into) + " mouseup 1" +
                                  (keys.empty() ? "" : " keyup " + keys));
        Pump(10s, [&] { return gesture.Finished() && !target->dropped.empty(); });
        EXPECT_EQ(target->dropped, all) << keys;
        EXPECT_EQ(Borders(f, 6, "111111"), "111111") << keys;
    }
    target->Destroy();

    // Released where it was pressed, a press on a selected clip is a click: that clip alone. The
    // toolbar's Copy takes the selection as it now is; Return plays it.
    input.ClickAt(f.view, PictureOf(f.view, 2));
    EXPECT_EQ(Borders(f, 6, "001000"), "001000");
    input.ClickAt(f.view, PictureOf(f.view, 4), wxMOD_CONTROL);
    wxAuiToolBar* tools = f.frame->ToolBar();
    Pump(2s, [&] { return tools->GetToolEnabled(wxID_COPY); });
    input.ClickAt(tools, tools->GetToolRect(wxID_COPY).GetPosition() + wxPoint(8, 8));
    EXPECT_EQ(pasted("text/uri-list"), (std::vector<std::string>{all[2], all[4]}));
    input.PointAt(f.view, PictureOf(f.view, 0));
    input.Key(WXK_RETURN);
    const std::string playlist = f.dir / ("tmp/viewmere-" + std::to_string(getuid()) + "/AVCHD.wpl");
    EXPECT_EQ(desktop.WaitForRecord(), playlist + "\n");
    EXPECT_EQ(ReadFile(playlist), MakePlaylistText({all[2], all[4]}));
}

TEST(RealInputTest, ResizingKeepsTheClipAtTheTopLeftOnTheTopRow)
{
    FrameFixture f;
    constexpr int kClips = 300;
    OpenColouredClips(f, kClips);
    CChildView* v = f.view;
    auto topRow = [&] {  // the clips the screen shows on the grid's top row, left to right
        std::vector<int> row;
        for (int y = 2; y < 200 && row.empty(); y += 3)
            if (SlotOfColour(ClientPixel(v, wxPoint(12, y)), kClips) >= 0)
                for (int x = 12; x < v->GetClientSize().x; x += 210)  // a cell and the gap after it
                    row.push_back(SlotOfColour(ClientPixel(v, wxPoint(x, y)), kClips));
        return row;
    };
    auto onTopRow = [&](int slot) {
        const std::vector<int> row = topRow();
        return std::count(row.begin(), row.end(), slot) == 1;
    };
    v->ScrollTo(wxVERTICAL, v->GridLayout().FindClipOfFile(ClipPath(f, 128))->GetRect().top - CFmtLayout::kMargin);
    Pump(3s, [&] { return onTopRow(128); });
    ASSERT_TRUE(onTopRow(128));
    // Narrower, wider and narrower again, through the X server as a window manager does it.
    const std::string window = std::to_string(gdk_x11_window_get_xid(gtk_widget_get_window(f.frame->GetHandle())));
    for (int width : {900, 1400, 700}) {
        ASSERT_EQ(Shell("xdotool windowsize " + window + " " + std::to_string(width) + " 650"), 0);
        Pump(3s, [&] { return f.frame->GetSize().x == width && onTopRow(128); });
        EXPECT_TRUE(f.frame->GetSize().x == width && onTopRow(128)) << width << ": " << ::testing::PrintToString(topRow());
    }
}
