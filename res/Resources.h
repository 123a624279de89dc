#pragma once
// The program's resources in one place: command and control ids, menus, accelerators, the
// string table and the dialog layouts in dialog units.
#include <wx/defs.h>

#include <string>
#include <vector>

class wxMenuBar;
class wxMenu;
class wxAcceleratorTable;
class wxString;

namespace res {

// The program's own commands. The toolkit refuses ids above 32767, so the standard commands
// use its standard ids (wxID_OPEN, wxID_EXIT, wxID_UNDO, wxID_CUT, wxID_COPY, wxID_PASTE,
// wxID_ABOUT) and these are ours.
enum CommandId : int {
    kCmdProductWebSite = 12776,  // Help > View Viewmere web site
    kCmdMakerWebSite = 12777,    // Help > View Corvane web site
    kCmdToggleEventLog = 12780,  // View > Event Log (F4)
    kCmdOptions = 12781,         // Edit > Options (F2)
    kCmdPlayClip = 12782,        // popup: Play Clip
    kCmdPlaySelection = 12783,   // popup: Play Selection
    kCmdPlayAll = 12784,         // popup: Play All
    kCmdViewToolbar = 12792,     // View > Toolbar
    kCmdViewStatusBar = 12793,   // View > Status Bar
    kCmdImport = 12794,          // File > Import Recordings... (Ctrl+I)
    kCmdNextPane = 12880,        // F6: nothing in a single-pane window
    kCmdPreviousPane = 12881,    // Shift+F6
};

// True for the ids of commands (menu items, tools, accelerators), as opposed to the ids that
// windows carry themselves: the toolkit asks for the state of both with the same kind of event.
constexpr bool IsCommandId(int id)
{
    return (id >= wxID_LOWEST && id <= wxID_HIGHEST) || (id >= kCmdProductWebSite && id <= kCmdPreviousPane);
}

// Timers and controls keep the numbers the program has always used.
enum TimerId : int {
    kTimerCollect = 18374,     // every 1000 ms: collect generated thumbnails
    kTimerOpenLast = 18375,    // once, 100 ms after start: reopen the last folder
    kTimerDrag = 18376,        // once, 500 ms after a press: start a drag
    kEventThumbnailReady = 18377,  // posted by the generator: a thumbnail is ready to collect
};

enum ControlId : int {
    kIdVersionText = 1000,
    kIdEventLogText = 1003,
    kIdGenerate = 1004,
    kIdWrite = 1005,
    kIdMediaGrab = 1006,
    kIdFFmpeg = 1007,
    kIdFFmpegPath = 1008,
    kIdBrowse = 1009,
    kIdPathLabel = 1010,
    kIdBesideClips = 1011,
    kIdSubdirectory = 1012,
    kIdSplitDates = 1013,
    kIdParameters = 1014,
    kIdParametersLabel = 1015,
    kIdWarningText = 1016,
    kIdPlaceholderText = 1017,
    kIdShareThumbnails = 1018,
    kIdJoinSplitRecordings = 1019,
    kIdSkimClips = 1020,
    kIdStatusPane = 129,
};

// Web pages of the Help menu.
inline constexpr const char* kProductWebSite = "https://viewmere.corvane.example/";
inline constexpr const char* kMakerWebSite = "https://corvane.example/";

// Strings.
inline constexpr const char* kAppTitle = "Viewmere";                   // 57344 and 128
inline constexpr const char* kVendorName = "Corvane";
inline constexpr const char* kReady = "Ready";                         // 57345
inline constexpr const char* kIdle = "Idle";                           // 129
inline constexpr const char* kVersionText = "Viewmere Version 0.0";   // "0.0": the product version
inline constexpr const char* kRightsNotice = "Copyright (C) 2026 Corvane";
inline constexpr const char* kJpegCredit = "JPEG code: libjpeg-turbo.org (IJG)";

// A command's status-bar prompt and tool tip ("prompt\ntip" in the string table).
struct CommandPrompt {
    std::string prompt;
    std::string tip;
};
CommandPrompt PromptFor(int id);

// Menu 128 (the main menu) and menu 133 (the clip popup).
wxMenuBar* CreateMainMenu();
wxMenu* CreateClipPopupMenu();
// The accelerators of 128 that the menu texts do not already carry.
wxAcceleratorTable CreateExtraAccelerators();

// One control of a dialog, placed in dialog units.
enum class ControlKind { GroupBox, CheckBox, RadioButton, FirstRadioButton, Static, Edit, Button, DefaultButton, Icon };
struct ControlTemplate {
    ControlKind kind;
    int id;           // wxID_ANY for controls without an id
    const char* text;
    int x, y, width, height;
};
struct DialogTemplate {
    const char* caption;
    int width, height;
    std::vector<ControlTemplate> controls;
};
const DialogTemplate& AboutDialog();     // 100
const DialogTemplate& EventLogDialog();  // 131
const DialogTemplate& OptionsDialog();   // 132

// The program icon (an SVG drawing) at the given size.
std::string IconSvg();

}  // namespace res
