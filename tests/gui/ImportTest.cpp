// Import Recordings as a person does it: Ctrl+I, the toolbar and the card bar with real input,
// the dialog's Import button, the progress window's Cancel; then what the person gets (the files
// at the videos folder that xdg-user-dirs names) and sees (the mark on each imported clip, its
// tool tip, the note that the card can be formatted).
#include "app/ImportController.h"
#include "app/ImportDlg.h"
#include "gui/GuiTestSupport.h"
#include "gui/RealInput.h"
#include "platform/FileSystem.h"
#include "res/Resources.h"
#include "settings/Settings.h"
#include "support/Clips.h"
#include "support/FailingFs.h"
#include "support/MessageBoxRecorder.h"
#include "platform/VolumeMonitor.h"
#include "view/CardBar.h"

#include <wx/aui/auibar.h>
#include <wx/button.h>
#include <wx/statusbr.h>

#include <gtest/gtest.h>

using namespace gui_testing;
using namespace testing_support;
using namespace std::chrono_literals;

namespace {

// Once the modal import dialog is up, checks it and presses one of its buttons with xdotool:
// the test waits inside the dialog's loop.
class AnswerDialog {
public:
    explicit AnswerDialog(int button, std::function<void(CImportDlg&)> check = {})
    {
        timer_.Bind(wxEVT_TIMER, [this, button, check](wxTimerEvent&) {
            for (wxWindow* top : wxTopLevelWindows)
                if (auto* dialog = dynamic_cast<CImportDlg*>(top); dialog != nullptr && dialog->IsShown() && !click_) {
                    timer_.Stop();
                    if (check)
                        check(*dialog);
                    const wxWindow* target = dialog->FindWindow(button);
                    const wxPoint at = target->GetScreenRect().GetPosition() + target->GetSize() / 2;
                    click_ = std::make_unique<BackgroundCommand>("sleep 0.3; xdotool mousemove " + std::to_string(at.x) +
                                                                 " " + std::to_string(at.y) + " sleep 0.2 click 1");
                }
        });
        timer_.Start(100);
    }
    bool Done() { return click_ && click_->Finished(); }

private:
    wxTimer timer_;
    std::unique_ptr<BackgroundCommand> click_;
};

void ClickButton(RealInput& input, wxButton* button)
{
    Pump(300ms);
    input.ClickAt(button, wxPoint(button->GetClientSize().x / 2, button->GetClientSize().y / 2));
}

}  // namespace

TEST(ImportGuiTest, CtrlIToolbarAndCardBarImportMarkTheClipsAndTellWhenTheCardCanBeFormatted)
{
    if (!CanMount())
        GTEST_SKIP() << "the card is served through FUSE, which needs root and /dev/fuse";
    TempDir home;
    ScopedEnv homeFolder("HOME", home.Path()), data("XDG_DATA_HOME", home / "data"), zone("TZ", "UTC");
    tzset();
    std::string card;
    FrameFixture::Options options;
    options.beforeStart = [&](const TempDir& dir) {
        WriteFile(dir / "config/user-dirs.dirs", "# written by xdg-user-dirs-update\nXDG_VIDEOS_DIR=\"$HOME/Films\"\n");
        card = dir / "card";
        const std::string stream = card + "/PRIVATE/AVCHD/BDMV/STREAM";
        MakeDirs(stream);
        ASSERT_EQ(Shell("cp " + ShellQuote(TestClips().progressive720) + " " + ShellQuote(stream + "/00000.MTS") + " && cp " +
                        ShellQuote(TestClips().interlaced1080) + " " + ShellQuote(stream + "/00001.MTS")),
                  0);
        SetModificationTime(stream + "/00000.MTS", 1300000000);
        SetModificationTime(stream + "/00001.MTS", 1300000060);
        settings::LastDirectory.Write(card);
        settings::SplitDates.Write(false);
    };
    FrameFixture f(options);
    MessageBoxRecorder boxes;
    RealInput input;
    wxStatusBar* status = f.frame->GetStatusBar();
    Pump(3s, [&] { return f.view->GridLayout().Items().size() == 3; });
    ASSERT_EQ(f.view->GridLayout().Items().size(), 3u);
    const std::string folder = home / "Films/Camcorder/2011/2011-03-13";

    // Ctrl+I: the dialog offers the videos folder and sums up; Import copies both recordings.
    input.PointAt(f.view, wxPoint(60, 60));
    std::string summary, destination;
    AnswerDialog import(wxID_OK, [&](CImportDlg& dialog) {
        destination = dialog.Destination();
        summary = dialog.SummaryText();
    });
    input.Key('I', wxMOD_CONTROL);
    Pump(30s, [&] { return import.Done() && !boxes.Boxes().empty(); });
    EXPECT_EQ(destination, home / "Films/Camcorder");
    EXPECT_EQ(summary.rfind("2 recordings, ", 0), 0u) << summary;
    EXPECT_NE(summary.find(" free at the destination"), std::string::npos) << summary;
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text.rfind("Imported 2 recordings", 0), 0u) << boxes.Boxes()[0].text;
    const std::string first = folder + "/2011-03-13 07-06-40.mts";
    EXPECT_EQ(ReadFile(first), ReadFile(card + "/PRIVATE/AVCHD/BDMV/STREAM/00000.MTS"));
    EXPECT_TRUE(platform::FileExists(folder + "/2011-03-13 07-07-40.mts"));
    EXPECT_EQ(settings::ImportFolder.Read(), home / "Films/Camcorder");

    // Each cell carries the mark; pointed at, it names the file; away from the grid, the status
    // bar says that the card can be formatted.
    for (std::size_t item = 1; item <= 2; ++item) {
        const FmtRect& cell = f.view->GridLayout().Items().at(item)->GetRect();
        const wxPoint inMark(cell.right - 1 - 17, cell.top - f.view->ScrollPosition(wxVERTICAL) + 12);
        Pump(3s, [&] { return ClientPixel(f.view, inMark) == wxColour(0, 150, 70); });
        EXPECT_EQ(ClientPixel(f.view, inMark), wxColour(0, 150, 70)) << item;
    }
    const FmtRect& cell = f.view->GridLayout().Items().at(1)->GetRect();
    input.PointAt(f.view, wxPoint(cell.left + 40, cell.top + 40));
    Pump(3s, [&] { return status->GetStatusText(0).utf8_string().ends_with("; imported as " + first); });
    EXPECT_TRUE(status->GetStatusText(0).utf8_string().ends_with("; imported as " + first)) << status->GetStatusText(0);
    EXPECT_EQ(f.view->GetToolTipText(), status->GetStatusText(0));
    input.PointAtScreen(f.frame->ToolBar()->GetScreenRect().GetBottomRight() + wxPoint(40, -5));
    const wxString formattable = "All 2 recordings of this folder are imported and verified: the card can be formatted.";
    Pump(3s, [&] { return status->GetStatusText(0) == formattable; });
    EXPECT_EQ(status->GetStatusText(0), formattable);

    // The toolbar's button opens the dialog too; Cancel imports nothing.
    wxAuiToolBar* tools = f.frame->ToolBar();
    EXPECT_TRUE(tools->GetToolEnabled(res::kCmdImport));
    AnswerDialog cancel(wxID_CANCEL);
    const wxRect button = tools->GetToolRect(res::kCmdImport);
    input.ClickAt(tools, button.GetPosition() + button.GetSize() / 2);
    Pump(10s, [&] { return cancel.Done(); });
    EXPECT_TRUE(cancel.Done());
    Pump(300ms);
    EXPECT_EQ(boxes.Boxes().size(), 1u);

    // The card inserted, with a new recording, and read slowly: Import on its bar, then Cancel
    // in the progress window while the new recording is copied. Nothing is left behind.
    ASSERT_EQ(Shell("head -c 30000000 /dev/urandom > " + ShellQuote(card + "/PRIVATE/AVCHD/BDMV/STREAM/00002.MTS")), 0);
    SetModificationTime(card + "/PRIVATE/AVCHD/BDMV/STREAM/00002.MTS", 1300000120);
    const std::string mounted = f.dir / "CAMCARD";
    FailingFs fs(card, mounted);
    ASSERT_TRUE(fs.Mounted());
    f.frame->MountAdded({"CAMCARD", mounted});
    CCardBar* bar = f.frame->CardBar();
    Pump(2s, [&] { return bar->IsShownOnScreen(); });
    fs.HoldAfter(16 * 1024 * 1024);
    AnswerDialog fromBar(wxID_OK);
    ClickButton(input, bar->ImportButton());
    Pump(20s, [&] { return fromBar.Done() && fs.Holding(); });
    ASSERT_TRUE(fs.Holding());
    CImportProgressDlg* progress = f.frame->Import()->ProgressWindow();
    ASSERT_NE(progress, nullptr);
    input.PointAt(f.view, wxPoint(f.view->GetClientSize().x - 5, f.view->GetClientSize().y - 5));  // over no clip
    Pump(3s, [&] {
        return status->GetStatusText(0).StartsWith("Importing recording 1 of 1: ") &&
               progress->DetailsText().StartsWith("Recording 1 of 1: 00002.MTS");
    });
    EXPECT_TRUE(progress->DetailsText().StartsWith("Recording 1 of 1: 00002.MTS")) << progress->DetailsText();
    EXPECT_TRUE(status->GetStatusText(0).StartsWith("Importing recording 1 of 1: ")) << status->GetStatusText(0);
    EXPECT_TRUE(ToolkitSensitive(f.view));  // the grid stays usable
    ClickButton(input, progress->CancelButton());
    Pump(1s, [&] { return !progress->CancelButton()->IsEnabled(); });
    fs.Release();
    Pump(10s, [&] { return boxes.Boxes().size() == 2; });
    ASSERT_EQ(boxes.Boxes().size(), 2u);
    EXPECT_EQ(boxes.Boxes()[1].text.rfind("The import was cancelled.", 0), 0u) << boxes.Boxes()[1].text;
    EXPECT_NE(Shell("find " + ShellQuote(home / "Films") + " -name '.viewmere-import-*' | grep -q ."), 0);
    EXPECT_TRUE(bar->IsShownOnScreen());

    // Import again from the bar: the new one is copied, and the bar says the card can be formatted.
    AnswerDialog again(wxID_OK);
    ClickButton(input, bar->ImportButton());
    Pump(30s, [&] { return again.Done() && boxes.Boxes().size() == 3; });
    ASSERT_EQ(boxes.Boxes().size(), 3u);
    EXPECT_NE(boxes.Boxes()[2].text.find("Imported 1 recording (28.6 MB)"), std::string::npos) << boxes.Boxes()[2].text;
    Pump(1s);
    EXPECT_EQ(bar->Text(), "Camcorder card CAMCARD: every recording is imported and verified; the card can be formatted");
    EXPECT_FALSE(bar->ImportButton()->IsShown());
    f.frame->MountRemoved({"CAMCARD", mounted});
}
