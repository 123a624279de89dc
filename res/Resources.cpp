#include "res/Resources.h"

#include "IconSvg.h"

#include <wx/accel.h>
#include <wx/menu.h>

namespace res {

CommandPrompt PromptFor(int id)
{
    switch (id) {
    case kCmdToggleEventLog:
        return {"Show or hide the event log window.", "Toggle event log"};
    case kCmdOptions:
        return {"Show the options dialog.", "Options"};
    case wxID_OPEN:
        return {"", "Open Folder"};
    case kCmdImport:
        return {"Copy the recordings of the open folder to the import folder, each one whole and verified.",
                "Import Recordings"};
    case wxID_EXIT:
        return {"Quit the application; prompts to save documents", "Exit"};
    case wxID_UNDO:
        return {"Undo the last action", "Undo"};
    case wxID_CUT:
        return {"Cut the selection and put it on the Clipboard", "Cut"};
    case wxID_COPY:
        return {"Copy the selection and put it on the Clipboard", "Copy"};
    case wxID_PASTE:
        return {"Insert Clipboard contents", "Paste"};
    case wxID_ABOUT:
        return {"Display program information, version number and copyright", "About"};
    case kCmdViewToolbar:
        return {"Show or hide the toolbar", "Toggle ToolBar"};
    case kCmdViewStatusBar:
        return {"Show or hide the status bar", "Toggle StatusBar"};
    default:
        return {};
    }
}

namespace {

void Append(wxMenu* menu, int id, const char* text, wxItemKind kind = wxITEM_NORMAL)
{
    menu->Append(id, wxString::FromUTF8(text), wxString::FromUTF8(PromptFor(id).prompt), kind);
}

}  // namespace

wxMenuBar* CreateMainMenu()
{
    auto* file = new wxMenu;
    Append(file, wxID_OPEN, "Open Folder...\tCtrl+O");
    Append(file, kCmdImport, "&Import Recordings...\tCtrl+I");
    file->AppendSeparator();
    Append(file, wxID_EXIT, "E&xit");

    auto* edit = new wxMenu;
    Append(edit, wxID_UNDO, "&Undo\tCtrl+Z");
    edit->AppendSeparator();
    Append(edit, wxID_CUT, "Cu&t\tCtrl+X");
    Append(edit, wxID_COPY, "&Copy\tCtrl+C");
    Append(edit, wxID_PASTE, "&Paste\tCtrl+V");
    edit->AppendSeparator();
    Append(edit, kCmdOptions, "&Options\tF2");

    auto* view = new wxMenu;
    Append(view, kCmdViewToolbar, "&Toolbar", wxITEM_CHECK);
    Append(view, kCmdViewStatusBar, "&Status Bar", wxITEM_CHECK);
    Append(view, kCmdToggleEventLog, "&Event Log\tF4", wxITEM_CHECK);

    auto* help = new wxMenu;
    Append(help, wxID_ABOUT, "&About Viewmere...");
    Append(help, kCmdProductWebSite, "View Viewmere web site");
    Append(help, kCmdMakerWebSite, "View Corvane web site");

    auto* bar = new wxMenuBar;
    bar->Append(file, "&File");
    bar->Append(edit, "&Edit");
    bar->Append(view, "&View");
    bar->Append(help, "&Help");
    return bar;
}

wxMenu* CreateClipPopupMenu()
{
    auto* popup = new wxMenu;
    popup->Append(kCmdPlayClip, "Play Clip");
    popup->Append(kCmdPlaySelection, "Play Selection");
    popup->Append(kCmdPlayAll, "Play All");
    return popup;
}

wxAcceleratorTable CreateExtraAccelerators()
{
    wxAcceleratorEntry entries[] = {
        {wxACCEL_ALT, WXK_BACK, wxID_UNDO},      {wxACCEL_SHIFT, WXK_DELETE, wxID_CUT},
        {wxACCEL_CTRL, WXK_INSERT, wxID_COPY},   {wxACCEL_SHIFT, WXK_INSERT, wxID_PASTE},
        {wxACCEL_NORMAL, WXK_F6, kCmdNextPane},  {wxACCEL_SHIFT, WXK_F6, kCmdPreviousPane},
    };
    return wxAcceleratorTable(static_cast<int>(std::size(entries)), entries);
}

const DialogTemplate& AboutDialog()
{
    static const DialogTemplate dialog{
        "About Viewmere",
        235,
        58,
        {
            {ControlKind::Icon, wxID_ANY, "", 11, 17, 20, 20},
            {ControlKind::Static, kIdVersionText, kVersionText, 40, 10, 119, 8},
            {ControlKind::Static, wxID_ANY, "", 40, 25, 158, 26},  // the rights notice and the JPEG credit
            {ControlKind::DefaultButton, wxID_OK, "OK", 178, 7, 50, 16},
        }};
    return dialog;
}

const DialogTemplate& EventLogDialog()
{
    static const DialogTemplate dialog{"Event Log", 393, 150, {{ControlKind::Edit, kIdEventLogText, "", 7, 7, 379, 136}}};
    return dialog;
}

const DialogTemplate& OptionsDialog()
{
    static const DialogTemplate dialog{
        "Options",
        257,
        277,
        {
            {ControlKind::GroupBox, wxID_ANY, "&Thumbnail generation", 7, 7, 243, 156},
            {ControlKind::CheckBox, kIdGenerate, "&Generate missing thumbnails", 14, 20, 119, 10},
            {ControlKind::FirstRadioButton, kIdMediaGrab, "Use &GStreamer (requires installed codecs)",
             23, 33, 210, 10},
            {ControlKind::RadioButton, kIdFFmpeg, "Use &FFmpeg (must be installed separately)", 23, 47, 152, 10},
            {ControlKind::Static, kIdPathLabel, "&Path:", 30, 62, 18, 8},
            {ControlKind::Edit, kIdFFmpegPath, "", 49, 60, 140, 14},
            {ControlKind::Button, kIdBrowse, "Browse...", 193, 60, 50, 14},
            {ControlKind::Static, kIdParametersLabel, "Pa&rameters:", 30, 80, 40, 8},
            {ControlKind::Edit, kIdParameters, "", 73, 78, 170, 14},
            {ControlKind::Static, kIdWarningText, "Edit with care to avoid overwriting your original video files.", 30, 95,
             188, 8},
            {ControlKind::Static, kIdPlaceholderText, "Use %IN% for input video filename and %OUT% for output JPEG.", 30,
             105, 214, 8},
            {ControlKind::CheckBox, kIdWrite, "&Write generated thumbnails to disk", 14, 120, 127, 10},
            {ControlKind::FirstRadioButton, kIdBesideClips, "to directory containing AVCHD files", 23, 133, 127, 10},
            {ControlKind::RadioButton, kIdSubdirectory, "to Viewmere subdirectory", 23, 146, 104, 10},
            {ControlKind::GroupBox, wxID_ANY, "Display", 7, 171, 243, 74},
            {ControlKind::CheckBox, kIdSplitDates, "&Split clips with different dates", 14, 184, 110, 10},
            {ControlKind::CheckBox, kIdShareThumbnails, "S&hare thumbnails with the file manager", 14, 198, 150, 10},
            {ControlKind::CheckBox, kIdJoinSplitRecordings, "&Join recordings the camera split across files", 14, 212,
             170, 10},
            {ControlKind::CheckBox, kIdSkimClips, "S&kim through a clip as the pointer moves across its picture", 14,
             226, 220, 10},
            {ControlKind::DefaultButton, wxID_OK, "OK", 143, 256, 50, 14},
            {ControlKind::Button, wxID_CANCEL, "Cancel", 200, 256, 50, 14},
        }};
    return dialog;
}

std::string IconSvg()
{
    // res/viewmere.svg, which is also installed as the desktop's icon.
    return kIconSvg;
}

}  // namespace res
