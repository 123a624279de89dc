#include "app/MainFrame.h"
#include "app/OptionsDlg.h"
#include "gui/GuiTestSupport.h"
#include "log/EventLog.h"
#include "log/EventLogDlg.h"
#include "res/Resources.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"

#include <wx/aui/auibar.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/menu.h>
#include <wx/radiobut.h>
#include <wx/settings.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>

#include <gtest/gtest.h>

#include <thread>

using namespace gui_testing;
using namespace std::chrono_literals;

namespace {

bool MenuEnabled(CMainFrame* frame, int id)
{
    wxMenuBar* bar = frame->GetMenuBar();
    for (size_t i = 0; i < bar->GetMenuCount(); ++i)
        bar->GetMenu(i)->UpdateUI(frame);  // what the toolkit does as a menu opens
    return bar->IsEnabled(id);
}

bool MenuChecked(CMainFrame* frame, int id)
{
    MenuEnabled(frame, id);
    return frame->GetMenuBar()->IsChecked(id);
}

bool ToolEnabled(CMainFrame* frame, int id)
{
    Pump(50ms);  // the toolbar asks for its tools' states when idle
    return frame->ToolBar()->GetToolEnabled(id);
}

void EmptyTheLog()
{
    std::string line;
    while (CEventLog::Instance().TakeLine(line)) {
    }
}

}  // namespace

TEST(MainFrameTest, CommandsWithoutHandlersShowDisabledEverywhere)
{
    FrameFixture f;
    for (int id : {int(wxID_UNDO), int(wxID_CUT), int(wxID_COPY), int(wxID_PASTE)})
        EXPECT_FALSE(MenuEnabled(f.frame, id)) << id;
    for (int id : {int(wxID_OPEN), int(wxID_EXIT), int(res::kCmdOptions), int(res::kCmdToggleEventLog),
                   int(res::kCmdViewToolbar), int(res::kCmdViewStatusBar), int(wxID_ABOUT),
                   int(res::kCmdProductWebSite), int(res::kCmdMakerWebSite)})
        EXPECT_TRUE(MenuEnabled(f.frame, id)) << id;
    for (int id : {int(wxID_CUT), int(wxID_COPY), int(wxID_PASTE)})
        EXPECT_FALSE(ToolEnabled(f.frame, id)) << id;
    for (int id : {int(wxID_OPEN), int(res::kCmdOptions), int(res::kCmdToggleEventLog), int(wxID_ABOUT)})
        EXPECT_TRUE(ToolEnabled(f.frame, id)) << id;
}

TEST(MainFrameTest, BarsAndTheEventLogCarryCheckMarks)
{
    FrameFixture f;
    EXPECT_TRUE(MenuChecked(f.frame, res::kCmdViewToolbar));
    EXPECT_TRUE(MenuChecked(f.frame, res::kCmdViewStatusBar));
    EXPECT_FALSE(MenuChecked(f.frame, res::kCmdToggleEventLog));

    wxCommandEvent hideToolbar(wxEVT_MENU, res::kCmdViewToolbar);
    f.frame->ProcessWindowEvent(hideToolbar);
    EXPECT_FALSE(MenuChecked(f.frame, res::kCmdViewToolbar));
    EXPECT_FALSE(f.frame->Aui().GetPane(f.frame->ToolBar()).IsShown());
    wxCommandEvent hideStatus(wxEVT_MENU, res::kCmdViewStatusBar);
    f.frame->ProcessWindowEvent(hideStatus);
    EXPECT_FALSE(MenuChecked(f.frame, res::kCmdViewStatusBar));
    EXPECT_FALSE(f.frame->GetStatusBar()->IsShown());

    f.frame->ToggleEventLog();
    Pump(50ms);
    EXPECT_TRUE(MenuChecked(f.frame, res::kCmdToggleEventLog));
    f.frame->EventLog()->Close();  // the close box hides it
    Pump(50ms);
    EXPECT_FALSE(f.frame->EventLog()->IsShown());
    EXPECT_FALSE(MenuChecked(f.frame, res::kCmdToggleEventLog));
}

namespace {

// The command a key sends: the accelerator of a menu item, or an entry of the extra table.
int CommandForKey(CMainFrame* frame, int modifiers, int key)
{
    wxMenuBar* bar = frame->GetMenuBar();
    for (size_t m = 0; m < bar->GetMenuCount(); ++m)
        for (wxMenuItem* item : bar->GetMenu(m)->GetMenuItems())
            if (std::unique_ptr<wxAcceleratorEntry> accel{item->GetAccel()};
                accel && accel->GetFlags() == modifiers && accel->GetKeyCode() == key)
                return item->GetId();
    return wxID_NONE;
}

}  // namespace

TEST(MainFrameTest, AcceleratorsReachTheirCommands)
{
    // Synthesised key presses reach no window on a virtual display without a window manager,
    // so the two halves are checked apart: which command each key sends, and where that
    // command goes when it is sent the way the toolkit sends it.
    FrameFixture f;
    EXPECT_EQ(CommandForKey(f.frame, wxACCEL_CTRL, 'O'), wxID_OPEN);
    EXPECT_EQ(CommandForKey(f.frame, wxACCEL_NORMAL, WXK_F2), res::kCmdOptions);
    EXPECT_EQ(CommandForKey(f.frame, wxACCEL_NORMAL, WXK_F4), res::kCmdToggleEventLog);
    EXPECT_EQ(CommandForKey(f.frame, wxACCEL_CTRL, 'X'), wxID_CUT);
    EXPECT_EQ(CommandForKey(f.frame, wxACCEL_CTRL, 'Z'), wxID_UNDO);

    int optionsShown = 0;
    f.view->SetOptionsDialogRunner([&](wxWindow*) {
        ++optionsShown;
        return false;
    });
    auto send = [&](int id) {
        wxCommandEvent command(wxEVT_MENU, id);
        command.SetEventObject(f.frame);
        return f.frame->ProcessWindowEvent(command);
    };
    EXPECT_TRUE(send(wxID_OPEN));  // Ctrl+O reaches the view's Open Folder
    EXPECT_EQ(f.view->folderDialogs, 1);
    EXPECT_TRUE(send(res::kCmdOptions));
    EXPECT_EQ(optionsShown, 1);
    EXPECT_TRUE(send(res::kCmdToggleEventLog));
    ASSERT_NE(f.frame->EventLog(), nullptr);
    EXPECT_TRUE(f.frame->EventLog()->IsShown());
    send(res::kCmdToggleEventLog);
    EXPECT_FALSE(f.frame->EventLog()->IsShown());
    // Commands nobody handles, from the menu accelerators or the extra table, do nothing.
    for (int id : {int(wxID_CUT), int(wxID_COPY), int(wxID_PASTE), int(wxID_UNDO), int(res::kCmdNextPane)})
        EXPECT_FALSE(send(id)) << id;
    EXPECT_EQ(f.view->folderDialogs, 1);
}

TEST(MainFrameTest, StatusTextRules)
{
    EXPECT_EQ(CMainFrame::StatusText(0, 1, 1), "Idle (1 folder, 1 clip)");
    EXPECT_EQ(CMainFrame::StatusText(0, 0, 0), "Idle (0 folders, 0 clips)");
    EXPECT_EQ(CMainFrame::StatusText(0, 2, 7), "Idle (2 folders, 7 clips)");
    EXPECT_EQ(CMainFrame::StatusText(5, 1, 9), "Generating thumbnails (5 remaining)");
    FrameFixture f;
    // After the first refresh (100 ms after start) the pane shows the idle text.
    Pump(500ms, [&] { return f.frame->GetStatusBar()->GetStatusText(1) != "Idle"; });
    EXPECT_EQ(f.frame->GetStatusBar()->GetStatusText(1), "Idle (0 folders, 0 clips)");
    f.frame->UpdateStatusText(3, 1, 4);
    EXPECT_EQ(f.frame->GetStatusBar()->GetStatusText(1), "Generating thumbnails (3 remaining)");
    EXPECT_EQ(f.frame->GetStatusBar()->GetStatusText(0), "Ready");
    EXPECT_EQ(f.frame->GetStatusBar()->GetFieldsCount(), 5);
}

TEST(MainFrameTest, WidthFitsWholeColumns)
{
    EXPECT_EQ(CMainFrame::FittedWidth(4, 17, 1280), 883);
    EXPECT_EQ(CMainFrame::FittedWidth(4, 17, 800), 457);
    EXPECT_EQ(CMainFrame::FittedWidth(-1, 17, 1920), 17 + 6 + 426 * 4);
    EXPECT_EQ(CMainFrame::FittedWidth(0, 0, 858 + 426), 858);         // a column must fit strictly inside
    EXPECT_EQ(CMainFrame::FittedWidth(0, 0, 858 + 427), 858 + 426);
    EXPECT_EQ(CMainFrame::FittedWidth(4, 17, 200), 457);              // never less than one column

    FrameFixture f;
    f.frame->Move(1800, 50);
    f.frame->FitWidthToScreen();
    Pump(100ms);
    const wxRect rect = f.frame->GetRect();
    EXPECT_EQ(rect.GetRight() + 1, wxSystemSettings::GetMetric(wxSYS_SCREEN_X));
}

TEST(EventLogWindowTest, ShowsEveryLineInOrderWithoutLeadingOrTrailingBreaks)
{
    EmptyTheLog();
    FrameFixture f;
    EmptyTheLog();
    CEventLog::Instance().AddLine("first before the window");
    CEventLog::Instance().AddLine("second with\r\ntwo parts");
    f.frame->ToggleEventLog();
    Pump(200ms);
    wxTextCtrl* text = f.frame->EventLog()->Text();
    wxString shown = text->GetValue();
    EXPECT_FALSE(shown.StartsWith("\n"));
    EXPECT_FALSE(shown.EndsWith("\n"));
    EXPECT_TRUE(shown.Contains(": first before the window\n"));
    EXPECT_TRUE(shown.Contains(": second with\ntwo parts"));
    EXPECT_LT(shown.Find("first"), shown.Find("second"));

    std::thread writer([] {
        for (int i = 0; i < 200; ++i)
            LogEvent("from the worker %d", i);
    });
    writer.join();
    Pump(300ms, [&] { return text->GetValue().Contains("from the worker 199"); });
    shown = text->GetValue();
    EXPECT_TRUE(shown.Contains("from the worker 0\n"));
    EXPECT_TRUE(shown.EndsWith("from the worker 199"));
    EXPECT_EQ(text->GetInsertionPoint(), text->GetLastPosition());

    // Closing and opening again keeps the text.
    f.frame->EventLog()->Close();
    Pump(50ms);
    f.frame->ToggleEventLog();
    Pump(50ms);
    EXPECT_EQ(text->GetValue(), shown);
}

TEST(EventLogWindowTest, ResizingKeepsEqualMargins)
{
    FrameFixture f;
    f.frame->ToggleEventLog();
    Pump(100ms);
    CEventLogDlg* dialog = f.frame->EventLog();
    for (const wxSize size : {wxSize(700, 400), wxSize(350, 200)}) {
        dialog->SetClientSize(size);
        Pump(100ms);
        const wxRect text = dialog->Text()->GetRect();
        const wxSize client = dialog->GetClientSize();
        EXPECT_GT(text.x, 0);
        EXPECT_EQ(client.x - text.GetRight() - 1, text.x);
        EXPECT_EQ(client.y - text.GetBottom() - 1, text.y);
    }
}

namespace {

// Runs the options dialog modally; `act` works on it from inside the modal loop and ends it.
int RunOptions(wxWindow* parent, const std::function<void(COptionsDlg&)>& act)
{
    COptionsDlg dialog(parent);
    dialog.CallAfter([&] { act(dialog); });
    return dialog.ShowModal();
}

void Click(wxWindow* dialog, int id)
{
    wxWindow* button = dialog->FindWindow(id);
    wxCommandEvent event(wxEVT_BUTTON, id);
    event.SetEventObject(button);
    button->GetEventHandler()->ProcessEvent(event);
}

void SetCheck(wxWindow* dialog, int id, bool on)
{
    auto* box = static_cast<wxCheckBox*>(dialog->FindWindow(id));
    box->SetValue(on);
    wxCommandEvent event(wxEVT_CHECKBOX, id);
    event.SetEventObject(box);
    event.SetInt(on);
    box->GetEventHandler()->ProcessEvent(event);
}

void ChooseRadio(wxWindow* dialog, int id)
{
    auto* radio = static_cast<wxRadioButton*>(dialog->FindWindow(id));
    radio->SetValue(true);
    wxCommandEvent event(wxEVT_RADIOBUTTON, id);
    event.SetEventObject(radio);
    radio->GetEventHandler()->ProcessEvent(event);
}

bool Enabled(wxWindow* dialog, int id)
{
    return dialog->FindWindow(id)->IsEnabled();
}

}  // namespace

TEST(OptionsDialogTest, DefaultsAndEnablingRules)
{
    FrameFixture f;
    RunOptions(f.frame, [](COptionsDlg& d) {
        EXPECT_FALSE(static_cast<wxCheckBox*>(d.FindWindow(res::kIdGenerate))->GetValue());
        EXPECT_TRUE(static_cast<wxRadioButton*>(d.FindWindow(res::kIdMediaGrab))->GetValue());
        EXPECT_TRUE(static_cast<wxCheckBox*>(d.FindWindow(res::kIdWrite))->GetValue());
        EXPECT_TRUE(static_cast<wxRadioButton*>(d.FindWindow(res::kIdBesideClips))->GetValue());
        EXPECT_TRUE(static_cast<wxCheckBox*>(d.FindWindow(res::kIdSplitDates))->GetValue());
        EXPECT_EQ(static_cast<wxTextCtrl*>(d.FindWindow(res::kIdFFmpegPath))->GetValue(), "/usr/bin/ffmpeg");
        EXPECT_EQ(static_cast<wxTextCtrl*>(d.FindWindow(res::kIdParameters))->GetValue(),
                  "-i \"%IN%\" -vframes 1 -s 416x234 -vcodec mjpeg %OUT%");
        // Generation off: only 1004, 1013, OK and Cancel are usable.
        for (int id : {res::kIdMediaGrab, res::kIdFFmpeg, res::kIdWrite, res::kIdFFmpegPath, res::kIdBrowse,
                       res::kIdParameters, res::kIdBesideClips, res::kIdSubdirectory, res::kIdPathLabel,
                       res::kIdParametersLabel, res::kIdWarningText, res::kIdPlaceholderText})
            EXPECT_FALSE(Enabled(&d, id)) << id;
        EXPECT_TRUE(Enabled(&d, res::kIdGenerate));
        EXPECT_TRUE(Enabled(&d, res::kIdSplitDates));
        // Sharing with the file manager's cache is on, and usable whether or not generating.
        EXPECT_TRUE(static_cast<wxCheckBox*>(d.FindWindow(res::kIdShareThumbnails))->GetValue());
        EXPECT_TRUE(Enabled(&d, res::kIdShareThumbnails));

        SetCheck(&d, res::kIdGenerate, true);  // with the media framework chosen
        EXPECT_TRUE(Enabled(&d, res::kIdMediaGrab) && Enabled(&d, res::kIdFFmpeg) && Enabled(&d, res::kIdWrite));
        EXPECT_TRUE(Enabled(&d, res::kIdBesideClips) && Enabled(&d, res::kIdSubdirectory));
        EXPECT_FALSE(Enabled(&d, res::kIdFFmpegPath) || Enabled(&d, res::kIdBrowse) || Enabled(&d, res::kIdParameters));
        ChooseRadio(&d, res::kIdFFmpeg);
        for (int id : {res::kIdPathLabel, res::kIdFFmpegPath, res::kIdBrowse, res::kIdParameters,
                       res::kIdParametersLabel, res::kIdWarningText, res::kIdPlaceholderText})
            EXPECT_TRUE(Enabled(&d, id)) << id;
        ChooseRadio(&d, res::kIdSubdirectory);
        SetCheck(&d, res::kIdWrite, false);  // disables the places but keeps the choice
        EXPECT_FALSE(Enabled(&d, res::kIdBesideClips) || Enabled(&d, res::kIdSubdirectory));
        EXPECT_TRUE(static_cast<wxRadioButton*>(d.FindWindow(res::kIdSubdirectory))->GetValue());
        Click(&d, wxID_CANCEL);
    });
    // Cancel wrote nothing: there is no settings file at all.
    EXPECT_FALSE(wxFileExists(wxString::FromUTF8(settings::SettingsFilePath())));
}

TEST(OptionsDialogTest, OkWritesAllEightValues)
{
    FrameFixture f;
    const std::string longPath(1023, 'p');  // 1024 bytes with its NUL: saved, but reads as the default
    RunOptions(f.frame, [&](COptionsDlg& d) {
        SetCheck(&d, res::kIdGenerate, true);
        ChooseRadio(&d, res::kIdFFmpeg);
        static_cast<wxTextCtrl*>(d.FindWindow(res::kIdFFmpegPath))->SetValue(wxString(longPath));
        ChooseRadio(&d, res::kIdSubdirectory);
        SetCheck(&d, res::kIdWrite, false);
        SetCheck(&d, res::kIdSplitDates, false);
        SetCheck(&d, res::kIdShareThumbnails, false);
        Click(&d, wxID_OK);
    });
    EXPECT_TRUE(settings::GenerateThumbnails.Read());
    EXPECT_FALSE(settings::WriteThumbnails.Read());
    EXPECT_TRUE(settings::UseFFmpeg.Read());
    EXPECT_TRUE(settings::WriteToSubdir.Read());
    EXPECT_FALSE(settings::SplitDates.Read());
    EXPECT_FALSE(settings::ShareThumbnails.Read());
    EXPECT_EQ(GetFFmpegExe(), "/usr/bin/ffmpeg");  // too long to read back
    EXPECT_EQ(GetFFmpegParams(), settings::FFmpegParams.defaultValue);
    const std::string text = testing_support::ReadFile(settings::SettingsFilePath());
    for (const char* name : {"GenerateThumbnails", "WriteThumbnails", "UseFFmpeg", "FFmpegExe", "WriteToSubdir",
                             "SplitDates", "FFmpegParams", "ShareThumbnails"})
        EXPECT_NE(text.find(std::string("\"") + name + "\"="), std::string::npos) << name;
    EXPECT_NE(text.find(longPath), std::string::npos);
    EXPECT_EQ(text.find("LastDirectory"), std::string::npos);
}
