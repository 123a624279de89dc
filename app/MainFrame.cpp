#include "app/MainFrame.h"

#include "app/ImportController.h"
#include "app/ViewmereApp.h"
#include "log/EventLog.h"
#include "log/EventLogDlg.h"
#include "platform/Format.h"
#include "platform/Utf8.h"
#include "platform/VolumeMonitor.h"
#include "res/Resources.h"
#include "settings/Settings.h"
#include "view/CardBar.h"
#include "view/ChildView.h"
#include "view/MissingPicturesBar.h"

#include <wx/artprov.h>
#include <wx/aui/auibar.h>
#include <wx/display.h>
#include <wx/menu.h>
#include <wx/settings.h>
#include <wx/statusbr.h>
#include <wx/utils.h>

namespace {

constexpr int kColumnWidth = 426;
constexpr int kStatusPanes = 5;
constexpr const char* kIndicatorTexts[] = {"CAP", "NUM", "SCRL"};
constexpr wxKeyCode kIndicatorKeys[] = {WXK_CAPITAL, WXK_NUMLOCK, WXK_SCROLL};

}  // namespace

CMainFrame::CMainFrame(ViewFactory makeView)
    : wxFrame(nullptr, wxID_ANY, res::kAppTitle, wxDefaultPosition, wxSize(900, 700)),
      indicatorTimer_(this)
{
    SetMenuBar(res::CreateMainMenu());
    SetAcceleratorTable(res::CreateExtraAccelerators());
    aui_.SetManagedWindow(this);
    view_ = makeView ? makeView(this) : new CChildView(this);
    aui_.AddPane(view_, wxAuiPaneInfo().Name("view").CenterPane().PaneBorder(false));
    CreateToolBar();
    CreateStatusPanes();
    CreateCardBar();
    CreateMissingPicturesBar();
    import_ = std::make_unique<CImportController>(this, view_, [this](const std::string& note) { SetNote(note); });
    view_->SetFolderShownHandler([this] { OnFolderShown(); });
    aui_.Update();

    Bind(wxEVT_MENU, &CMainFrame::OnToggleEventLog, this, res::kCmdToggleEventLog);
    Bind(wxEVT_UPDATE_UI, &CMainFrame::OnUpdateEventLog, this, res::kCmdToggleEventLog);
    Bind(wxEVT_MENU, &CMainFrame::OnViewToolbar, this, res::kCmdViewToolbar);
    Bind(wxEVT_UPDATE_UI, &CMainFrame::OnUpdateViewToolbar, this, res::kCmdViewToolbar);
    Bind(wxEVT_MENU, &CMainFrame::OnViewStatusBar, this, res::kCmdViewStatusBar);
    Bind(wxEVT_UPDATE_UI, &CMainFrame::OnUpdateViewStatusBar, this, res::kCmdViewStatusBar);
    Bind(wxEVT_MENU, &CMainFrame::OnExit, this, wxID_EXIT);
    Bind(wxEVT_MENU, &CMainFrame::OnImport, this, res::kCmdImport);
    Bind(wxEVT_UPDATE_UI, &CMainFrame::OnUpdateImport, this, res::kCmdImport);
    Bind(wxEVT_SET_FOCUS, &CMainFrame::OnSetFocus, this);
    Bind(wxEVT_TIMER, &CMainFrame::OnIndicatorTimer, this);
    indicatorTimer_.Start(250);
    FitWidthToScreen();
    // The keys scroll the grid from the start; otherwise the toolbar, the first child that takes
    // the focus, would get them until the grid is clicked.
    view_->SetFocus();
}

CMainFrame::~CMainFrame()
{
    import_.reset();  // a running import is cancelled and its temporary file removed
    volumes_.reset();
    indicatorTimer_.Stop();
    if (eventLog_ != nullptr)  // it is destroyed with the frame, after this object is gone
        eventLog_->Unbind(wxEVT_DESTROY, &CMainFrame::OnEventLogDestroyed, this);
    aui_.UnInit();
}

void CMainFrame::CreateToolBar()
{
    toolBar_ = new wxAuiToolBar(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                wxAUI_TB_DEFAULT_STYLE | wxAUI_TB_GRIPPER | wxAUI_TB_PLAIN_BACKGROUND);
    auto add = [this](int id, const wxArtID& art, wxItemKind kind = wxITEM_NORMAL) {
        const res::CommandPrompt prompt = res::PromptFor(id);
        toolBar_->AddTool(id, wxString(), wxArtProvider::GetBitmapBundle(art, wxART_TOOLBAR, wxSize(16, 16)),
                          wxString::FromUTF8(prompt.tip), kind);
        toolBar_->SetToolLongHelp(id, wxString::FromUTF8(prompt.prompt));
    };
    add(wxID_OPEN, wxART_FOLDER_OPEN);
    add(res::kCmdImport, wxART_FILE_SAVE);
    toolBar_->AddSeparator();
    add(wxID_CUT, wxART_CUT);
    add(wxID_COPY, wxART_COPY);
    add(wxID_PASTE, wxART_PASTE);
    toolBar_->AddSeparator();
    add(res::kCmdOptions, wxART_EXECUTABLE_FILE);
    add(res::kCmdToggleEventLog, wxART_REPORT_VIEW, wxITEM_CHECK);
    toolBar_->AddSeparator();
    add(wxID_ABOUT, wxART_HELP);
    toolBar_->Realize();
    toolBar_->Bind(wxEVT_MOTION, &CMainFrame::OnToolBarMotion, this);
    toolBar_->Bind(wxEVT_LEAVE_WINDOW, &CMainFrame::OnToolBarLeave, this);
    aui_.AddPane(toolBar_, wxAuiPaneInfo()
                               .Name("toolbar")
                               .Caption("Standard")
                               .ToolbarPane()
                               .Top()
                               .Gripper(true)
                               .TopDockable()
                               .BottomDockable()
                               .LeftDockable()
                               .RightDockable()
                               .Floatable());
}

void CMainFrame::CreateCardBar()
{
    cardBar_ = new CCardBar(
        this, [this](const std::string& root) { view_->OpenFolderAt(root); },
        [this](bool shown) { ShowBar(cardBar_, shown); });
    cardBar_->SetImportHandler([this](const std::string& root) { ImportFromCard(root); });
    AddBarPane(cardBar_, "cardbar", 0);
    view_->SetMountedCardsQuery([this] { return std::vector<std::string>(cards_.begin(), cards_.end()); });
    volumes_ = std::make_unique<platform::VolumeMonitor>([this](const platform::MountPoint& m) { MountAdded(m); },
                                                         [this](const platform::MountPoint& m) { MountRemoved(m); });
    // A card that was already in the reader when the program started is offered the same way.
    for (const platform::MountPoint& mount : volumes_->Mounts())
        MountAdded(mount);
}

void CMainFrame::AddBarPane(wxWindow* bar, const char* name, int row)
{
    // Right above the grid, below the toolbar's dock, as wide as the grid; it cannot be moved,
    // floated or resized.
    const wxSize height(-1, bar->GetBestSize().y);
    aui_.AddPane(bar, wxAuiPaneInfo()
                          .Name(name)
                          .Top()
                          .Layer(0)
                          .Row(row)
                          .CaptionVisible(false)
                          .PaneBorder(false)
                          .Dockable(false)
                          .Floatable(false)
                          .Movable(false)
                          .DockFixed()
                          .MinSize(height)
                          .MaxSize(height)
                          .BestSize(height)
                          .Hide());
}

void CMainFrame::ShowBar(wxWindow* bar, bool shown)
{
    aui_.GetPane(bar).Show(shown);
    aui_.Update();
}

void CMainFrame::CreateMissingPicturesBar()
{
    picturesBar_ = new CMissingPicturesBar(
        this, [this] { MakeMissingPictures(); }, [this](bool shown) { ShowBar(picturesBar_, shown); });
    AddBarPane(picturesBar_, "picturesbar", 1);
}

void CMainFrame::OnFolderShown()
{
    const std::string& folder = view_->OpenedFolder();
    SetTitle(folder.empty() ? wxString(res::kAppTitle)
                            : wxString::FromUTF8(platform::DisplayUtf8(folder)) + " - " + res::kAppTitle);
    OfferMissingPictures();
    import_->FolderShown();
}

void CMainFrame::ImportFromCard(const std::string& root)
{
    if (import_->Importing())
        return;
    view_->OpenFolderAt(root);
    import_->ChooseAndImport([this, root](bool complete) {
        if (complete)
            cardBar_->ShowFormattable(root);
    });
}

void CMainFrame::OnImport(wxCommandEvent&)
{
    const std::string root = cardBar_->OfferedRoot();
    const bool fromOfferedCard = cardBar_->Offering() && view_->OpenedFolder() == root;
    import_->ChooseAndImport([this, root, fromOfferedCard](bool complete) {
        if (complete && fromOfferedCard)
            cardBar_->ShowFormattable(root);
    });
}

void CMainFrame::OnUpdateImport(wxUpdateUIEvent& event)
{
    event.Enable(import_ != nullptr && import_->CanImport());
}

wxString CMainFrame::ReadyText() const
{
    return note_.empty() ? wxString(res::kReady) : wxString::FromUTF8(platform::DisplayUtf8(note_));
}

void CMainFrame::SetNote(const std::string& note)
{
    if (note == note_)
        return;
    note_ = note;
    // Over a clip the pane tells about the clip; anywhere else the note replaces what was there.
    if (!showingClip_)
        SetStatusText(ReadyText(), 0);
}

void CMainFrame::OfferMissingPictures()
{
    if (settings::GenerateThumbnails.Read() || view_->OpenedFolder().empty())
        picturesBar_->Withdraw();
    else if (view_->Document().GetPendingCount() == 0)  // the kept pictures are all read
        picturesBar_->Offer(view_->OpenedFolder(), view_->Document().CountClipsWithoutPicture());
}

void CMainFrame::MakeMissingPictures()
{
    // As the Options dialog's check box does. A pulled card's pictures are made once it is back.
    settings::GenerateThumbnails.Write(true);
    if (!view_->OpenedFolderPulled())
        view_->Document().QueueMissingThumbnails();
}

void CMainFrame::MountAdded(const platform::MountPoint& mount)
{
    if (view_->VolumeReturned(mount.root)) {
        cards_.insert(mount.root);
        cardBar_->Withdraw(mount.root);
        return;  // the open folder's card is back and open again: nothing to offer
    }
    if (!CAVCHDDoc::HoldsClipTree(mount.root))
        return;
    cards_.insert(mount.root);
    LogEvent("Camcorder card [%s] inserted at [%s]", mount.name.c_str(), mount.root.c_str());
    cardBar_->Offer(mount.name, mount.root);
}

void CMainFrame::MountRemoved(const platform::MountPoint& mount)
{
    cards_.erase(mount.root);
    cardBar_->Withdraw(mount.root);
    if (view_->VolumeRemoved(mount.root)) {
        cardBar_->TellRemoved(mount.name, mount.root);
        picturesBar_->Withdraw();  // nothing can be made of a card that is gone
    }
}

void CMainFrame::SetStatusPaneWidths(const wxString& statusText)
{
    wxStatusBar* bar = GetStatusBar();
    // 300 pixels for the status, more for a longer text (a pulled card's), so it is read whole.
    int widths[kStatusPanes] = {-1, std::max(300, bar->GetTextExtent(statusText).x + 16), 0, 0, 0};
    if (bar->GetStatusWidth(1) == widths[1])
        return;
    for (int i = 0; i < 3; ++i)
        widths[2 + i] = bar->GetTextExtent(kIndicatorTexts[i]).x + 16;
    bar->SetStatusWidths(kStatusPanes, widths);
}

void CMainFrame::CreateStatusPanes()
{
    CreateStatusBar(kStatusPanes);
    SetStatusPaneWidths(res::kIdle);
    SetStatusText(res::kReady, 0);
    SetStatusText(res::kIdle, 1);
    SetStatusBarPane(0);  // menu and toolbar prompts go to the message pane
}

bool CMainFrame::TryBefore(wxEvent& event)
{
    // Commands and their update queries are offered to the view first.
    const wxEventType type = event.GetEventType();
    if (view_ != nullptr && (type == wxEVT_MENU || type == wxEVT_UPDATE_UI) && event.GetEventObject() != view_ &&
        view_->GetEventHandler()->ProcessEventLocally(event))
        return true;
    return wxFrame::TryBefore(event);
}

bool CMainFrame::IsHandledHere(int id) const
{
    return id == res::kCmdToggleEventLog || id == res::kCmdViewToolbar || id == res::kCmdViewStatusBar ||
           id == wxID_EXIT || id == res::kCmdImport;
}

bool CMainFrame::TryAfter(wxEvent& event)
{
    if (wxFrame::TryAfter(event))
        return true;
    // Nothing handled the update query: a command without a handler anywhere shows disabled.
    // Windows are asked about themselves under their own ids; those are never disabled here.
    if (event.GetEventType() == wxEVT_UPDATE_UI && res::IsCommandId(event.GetId())) {
        const int id = event.GetId();
        const bool handled = (view_ != nullptr && view_->HandlesCommand(id)) || IsHandledHere(id) ||
                             CViewmereApp::HandlesCommand(id);
        if (!handled) {
            static_cast<wxUpdateUIEvent&>(event).Enable(false);
            return true;
        }
    }
    return false;
}

std::string CMainFrame::StatusText(int remaining, int folders, int clips)
{
    if (remaining != 0)
        return platform::FormatString("Generating thumbnails (%d remaining)", remaining);
    return platform::FormatString("Idle (%d folder%s, %d clip%s)", folders, folders == 1 ? "" : "s", clips,
                                  clips == 1 ? "" : "s");
}

std::string CMainFrame::PulledCardText(int folders, int clips)
{
    return platform::FormatString("Card removed: its clips cannot be played until it is back (%d folder%s, %d clip%s)",
                                  folders, folders == 1 ? "" : "s", clips, clips == 1 ? "" : "s");
}

void CMainFrame::UpdateStatusText(int remaining, int folders, int clips)
{
    const bool pulled = view_ != nullptr && view_->OpenedFolderPulled();
    const wxString text = pulled ? PulledCardText(folders, clips) : StatusText(remaining, folders, clips);
    if (GetStatusBar() != nullptr) {
        SetStatusPaneWidths(text);
        SetStatusText(text, 1);
        GetStatusBar()->Update();
    }
    // Once the work is done, what is still missing is known.
    if (remaining == 0 && view_ != nullptr && picturesBar_ != nullptr)
        OfferMissingPictures();
}

void CMainFrame::ShowClipDetails(const std::string& text)
{
    showingClip_ = !text.empty();
    SetStatusText(text.empty() ? ReadyText() : wxString::FromUTF8(platform::DisplayUtf8(text)), 0);
}

int CMainFrame::FittedWidth(int frameBorder, int scrollBar, int screen)
{
    // Metrics the platform does not report (answered with -1) count as 0.
    const int f = std::max(0, frameBorder), v = std::max(0, scrollBar);
    int w = 2 * f + v + 858;
    while (w < screen)
        w += kColumnWidth;
    return w - kColumnWidth;
}

void CMainFrame::FitWidthToScreen()
{
    const int screen = wxSystemSettings::GetMetric(wxSYS_SCREEN_X, this);
    const int width = FittedWidth(wxSystemSettings::GetMetric(wxSYS_FRAMESIZE_X, this),
                                  wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, this), screen);
    wxRect rect = GetRect();
    rect.width = width;
    if (rect.x + width > screen)
        rect.x = screen - width;
    SetSize(rect);
}

void CMainFrame::ToggleEventLog()
{
    if (eventLog_ == nullptr) {
        eventLog_ = new CEventLogDlg(this, CEventLog::Instance());
        eventLog_->Bind(wxEVT_DESTROY, &CMainFrame::OnEventLogDestroyed, this);
    }
    eventLog_->Show(!eventLog_->IsShown());
}

void CMainFrame::OnToggleEventLog(wxCommandEvent&)
{
    ToggleEventLog();
}

void CMainFrame::OnEventLogDestroyed(wxWindowDestroyEvent& event)
{
    // Asked at every idle: a destroyed window is forgotten, and made anew when next shown.
    if (event.GetEventObject() == eventLog_)
        eventLog_ = nullptr;
    event.Skip();
}

void CMainFrame::OnUpdateEventLog(wxUpdateUIEvent& event)
{
    event.Check(eventLog_ != nullptr && eventLog_->IsShown());
}

void CMainFrame::OnViewToolbar(wxCommandEvent&)
{
    wxAuiPaneInfo& pane = aui_.GetPane(toolBar_);
    pane.Show(!pane.IsShown());
    aui_.Update();
}

void CMainFrame::OnUpdateViewToolbar(wxUpdateUIEvent& event)
{
    event.Check(aui_.GetPane(toolBar_).IsShown());
}

void CMainFrame::OnViewStatusBar(wxCommandEvent&)
{
    GetStatusBar()->Show(!GetStatusBar()->IsShown());
    SendSizeEvent();
}

void CMainFrame::OnUpdateViewStatusBar(wxUpdateUIEvent& event)
{
    event.Check(GetStatusBar() != nullptr && GetStatusBar()->IsShown());
}

void CMainFrame::OnExit(wxCommandEvent&)
{
    Close();  // nothing to save, nothing to ask
}

void CMainFrame::OnSetFocus(wxFocusEvent& event)
{
    if (view_ != nullptr)
        view_->SetFocus();
    event.Skip();
}

void CMainFrame::OnIndicatorTimer(wxTimerEvent&)
{
    for (int i = 0; i < 3; ++i) {
        const wxString text = wxGetKeyState(kIndicatorKeys[i]) ? kIndicatorTexts[i] : "";
        if (GetStatusBar() != nullptr && GetStatusBar()->GetStatusText(2 + i) != text)
            SetStatusText(text, 2 + i);
    }
}

void CMainFrame::OnToolBarMotion(wxMouseEvent& event)
{
    // The pointed-at button's prompt goes to the message pane, as menu prompts do.
    wxAuiToolBarItem* item = toolBar_->FindToolByPosition(event.GetX(), event.GetY());
    const int id = item != nullptr && item->GetKind() != wxITEM_SEPARATOR ? item->GetId() : wxID_NONE;
    if (id != promptTool_) {
        promptTool_ = id;
        const std::string prompt = id != wxID_NONE ? res::PromptFor(id).prompt : std::string();
        SetStatusText(prompt.empty() ? ReadyText() : wxString::FromUTF8(prompt), 0);
    }
    event.Skip();
}

void CMainFrame::OnToolBarLeave(wxMouseEvent& event)
{
    promptTool_ = wxID_NONE;
    SetStatusText(ReadyText(), 0);
    event.Skip();
}
