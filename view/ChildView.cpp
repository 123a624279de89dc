#include "view/ChildView.h"

#include "log/EventLog.h"
#include "platform/Utf8.h"
#include "res/Resources.h"
#include "settings/Settings.h"
#include "view/ItemPainter.h"
#include "view/Player.h"
#include "view/StatusSink.h"

#include <wx/app.h>
#include <wx/dc.h>
#include <wx/dataobj.h>
#include <wx/dirdlg.h>
#include <wx/dnd.h>
#include <wx/utils.h>


CChildView::CChildView(wxWindow* parent, CThumbnailGenerator::Producer producer)
    : CScrollWnd(parent, wxID_ANY, wxBORDER_SUNKEN),
      document_(std::move(producer)),  // none given: the grab workers
      layout_(&document_),
      popup_(res::CreateClipPopupMenu()),
      openLastTimer_(this, res::kTimerOpenLast),
      collectTimer_(this, res::kTimerCollect),
      dragTimer_(this, res::kTimerDrag)
{
    SetCursor(wxCursor(wxCURSOR_ARROW));
    Bind(wxEVT_TIMER, &CChildView::OnOpenLastTimer, this, res::kTimerOpenLast);
    Bind(wxEVT_TIMER, &CChildView::OnCollectTimer, this, res::kTimerCollect);
    Bind(wxEVT_TIMER, &CChildView::OnDragTimer, this, res::kTimerDrag);
    Bind(wxEVT_LEFT_DOWN, &CChildView::OnLeftDown, this);
    Bind(wxEVT_MOTION, &CChildView::OnMotion, this);
    Bind(wxEVT_LEFT_UP, &CChildView::OnLeftUp, this);
    Bind(wxEVT_LEFT_DCLICK, &CChildView::OnLeftDoubleClick, this);
    Bind(wxEVT_RIGHT_DOWN, &CChildView::OnRightDown, this);
    Bind(wxEVT_RIGHT_UP, &CChildView::OnRightUp, this);
    Bind(wxEVT_LEAVE_WINDOW, &CChildView::OnLeaveWindow, this);
    for (int id : {int(wxID_OPEN), int(res::kCmdOptions), int(res::kCmdPlayClip), int(res::kCmdPlaySelection),
                   int(res::kCmdPlayAll)})
        Bind(wxEVT_MENU, &CChildView::OnCommand, this, id);
    Bind(wxEVT_UPDATE_UI, &CChildView::OnUpdatePlayClip, this, res::kCmdPlayClip);
    Bind(wxEVT_UPDATE_UI, &CChildView::OnUpdatePlaySelection, this, res::kCmdPlaySelection);
    Bind(wxEVT_THREAD, &CChildView::OnThumbnailReady, this, res::kEventThumbnailReady);
    // A finished thumbnail wakes the UI at once; the one-second collection stays as the fallback.
    document_.SetThumbnailListener([this, posted = wakeUpPosted_] {
        if (!posted->exchange(true))
            wxQueueEvent(this, new wxThreadEvent(wxEVT_THREAD, res::kEventThumbnailReady));
    });
    if (settings::GenerateThumbnails.Read())
        document_.Generator().WarmUp();
    openLastTimer_.StartOnce(100);
    collectTimer_.Start(1000);
}

CChildView::~CChildView()
{
    // No worker thread may post to this window once it starts going.
    document_.SetThumbnailListener({});
    openLastTimer_.Stop();
    collectTimer_.Stop();
    dragTimer_.Stop();
    layout_.Clear();
}

bool CChildView::HandlesCommand(int id) const
{
    return id == wxID_OPEN || id == res::kCmdOptions || id == res::kCmdPlayClip || id == res::kCmdPlaySelection ||
           id == res::kCmdPlayAll;
}

void CChildView::SetContentHeight()
{
    totalSize = wxSize(0, layout_.height);
    totalSizePending = true;
    UpdateScrollBars();
}

void CChildView::RefreshGrid()
{
    layout_.Build();
    SetContentHeight();
    Refresh(false);
    NotifyVisibleClips();
    UpdateStatus();
}

void CChildView::UpdateStatus()
{
    shownPending_ = document_.GetPendingCount();
    if (auto* status = dynamic_cast<IStatusSink*>(wxTheApp != nullptr ? wxTheApp->GetTopWindow() : nullptr))
        status->UpdateStatusText(shownPending_, document_.GetDirectoryCount(), document_.GetClipCount());
}

void CChildView::Repaint(const FmtRect& rect)
{
    RefreshRect(wxRect(rect.left - ScrollPosition(wxHORIZONTAL), rect.top - ScrollPosition(wxVERTICAL), rect.Width(),
                       rect.Height()),
                false);
}

void CChildView::OnDraw(wxDC& dc, const wxRect& contentClip)
{
    CItemPainter painter(dc, contentClip, labels_, fonts_);
    layout_.PaintAll(painter);
}

void CChildView::FillBackground(wxDC& dc, const wxRect& contentClip)
{
    // Only where no item will be painted: every pixel of the buffer is written once.
    const FmtRect area{contentClip.x, contentClip.y, contentClip.GetRight() + 1, contentClip.GetBottom() + 1};
    std::vector<wxRect> parts;
    for (const FmtRect& part : layout_.UncoveredParts(area))
        parts.emplace_back(part.left, part.top, part.Width(), part.Height());
    FillRectangles(dc, background_, parts);
}

void CChildView::OnSize(wxSizeEvent& event)
{
    CScrollWnd::OnSize(event);
    const int width = GetClientSize().x;
    if (width != layout_.width) {
        layout_.width = width;
        layout_.Build();
    }
    SetContentHeight();
    NotifyVisibleClips();
}

void CChildView::OnScrolled(int, int)
{
    NotifyVisibleClips();
}

void CChildView::NotifyVisibleClips()
{
    // After every layout, scroll and resize, so that the clips in view are worked on first.
    const int top = ScrollPosition(wxVERTICAL);
    std::vector<std::string> visible;
    layout_.CollectPathsBetween(top, top + GetClientSize().y, visible);
    if (visible == visibleClips_)
        return;
    visibleClips_ = std::move(visible);
    document_.SetVisibleClips(visibleClips_);
}

void CChildView::OnOpenLastTimer(wxTimerEvent&)
{
    openLastTimer_.Stop();
    OpenAndRefresh(settings::LastDirectory.Read());
}

void CChildView::OpenAndRefresh(const std::string& folder)
{
    ShowDetails(nullptr, -1);  // the clip lists go with the folder
    visibleClips_.clear();     // and the document forgets which were on screen
    layout_.Clear();
    openedFolder_ = folder;
    openedFolderPulled_ = false;
    if (!folder.empty())
        document_.OpenDirectory(folder);
    RefreshGrid();
    ScrollTo(wxVERTICAL, 0);  // a folder opens at its top, wherever the last one was scrolled to
    if (folderShown_)
        folderShown_();
}

void CChildView::RefreshGridKeepingTopClip()
{
    const int top = ScrollPosition(wxVERTICAL);
    // Scrolled to the end (End, or the bar pulled down), the view stays at the end.
    if (top > 0 && top + pageSize.y >= totalSize.y) {
        RefreshGrid();
        ScrollTo(wxVERTICAL, totalSize.y);
        return;
    }
    const CFmtClip* anchor = layout_.FirstClipBelow(top);
    if (anchor == nullptr) {
        RefreshGrid();
        return;
    }
    const CClipDetails* clips = anchor->Clips();
    const std::uint32_t index = anchor->Index();
    const int offset = anchor->GetRect().top - top;
    RefreshGrid();
    if (const CFmtClip* again = layout_.FindClip(clips, index))
        ScrollTo(wxVERTICAL, again->GetRect().top - offset);
}

void CChildView::OnCollectTimer(wxTimerEvent&)
{
    CollectThumbnails();
}

void CChildView::OnThumbnailReady(wxThreadEvent&)
{
    CollectThumbnails();
}

void CChildView::CollectThumbnails()
{
    wakeUpPosted_->store(false);  // results stored from now on post again
    const bool thumbnails = document_.CollectGeneratedThumbnails();
    const CAVCHDDoc::RecordingTimeChanges times = document_.CollectRecordingTimes();
    // The selection lives in the thumbnail entries, so it outlasts any new layout.
    // Cells grow as their pictures arrive: what the user scrolled to stays where it is.
    if (thumbnails || (times.dateGroups && settings::SplitDates.Read()))
        RefreshGridKeepingTopClip();
    else if (times.labels)
        Refresh(false);
    // The clip under the pointer may have been read, or found to have no picture.
    ShowDetails(hoveredClips_, hoveredIndex_);
    // A clip that ended without a thumbnail still counts down.
    if (document_.GetPendingCount() != shownPending_)
        UpdateStatus();
}

void CChildView::OnDragTimer(wxTimerEvent&)
{
    // The toolkit starts a drag only from inside a mouse event: the held press arms the drag and
    // the next motion, however small, starts it.
    dragTimer_.Stop();
    if (dragPending_)
        dragArmed_ = true;
}

IFmtItem* CChildView::ItemAt(wxPoint clientPoint) const
{
    ClientToLogical(clientPoint);
    return layout_.HitTest(clientPoint.x, clientPoint.y);
}

void CChildView::OnLeftDown(wxMouseEvent& event)
{
    SetFocus();
    const bool shift = event.ShiftDown();
    const bool control = event.ControlDown();
    if (!shift && !control)
        layout_.DeselectAll(this);
    if (IFmtItem* item = ItemAt(event.GetPosition())) {
        const bool select = !(control && item->IsSelected());
        if (shift)
            layout_.SelectRange(item, select, this);
        else
            layout_.SetSelected(item, this, select, false);
    }
    dragArmed_ = false;
    if (layout_.AnySelected()) {
        dragPending_ = true;
        dragTimer_.StartOnce(500);
        dragStart_ = event.GetPosition();
    }
}

void CChildView::OnMotion(wxMouseEvent& event)
{
    if (!event.ButtonIsDown(wxMOUSE_BTN_ANY))
        ShowDetailsAt(event.GetPosition());
    if (dragPending_ && event.LeftIsDown()) {
        const wxPoint d = event.GetPosition() - dragStart_;
        if (dragArmed_ || d.x * d.x + d.y * d.y >= 25)
            StartDrag();
    }
    event.Skip();
}

void CChildView::OnLeaveWindow(wxMouseEvent& event)
{
    ShowDetails(nullptr, -1);
    event.Skip();
}

void CChildView::ShowDetailsAt(wxPoint clientPoint)
{
    const auto* clip = dynamic_cast<const CFmtClip*>(ItemAt(clientPoint));
    if (clip == nullptr || clip->Clips() == nullptr)
        ShowDetails(nullptr, -1);
    else
        ShowDetails(clip->Clips(), static_cast<int>(clip->Index()));
}

void CChildView::ShowDetails(const CClipDetails* clips, int index)
{
    hoveredClips_ = clips;
    hoveredIndex_ = index;
    const std::string text = clips != nullptr ? clips->FormatDetails(index) : std::string();
    if (text == shownDetails_)
        return;
    shownDetails_ = text;
    if (text.empty())
        UnsetToolTip();
    else
        SetToolTip(wxString::FromUTF8(platform::DisplayUtf8(text)));
    if (auto* status = dynamic_cast<IStatusSink*>(wxTheApp != nullptr ? wxTheApp->GetTopWindow() : nullptr))
        status->ShowClipDetails(text);
}

void CChildView::OnLeftUp(wxMouseEvent& event)
{
    dragPending_ = false;
    dragArmed_ = false;
    event.Skip();
}

void CChildView::OnLeftDoubleClick(wxMouseEvent& event)
{
    if (const auto* clip = dynamic_cast<const CFmtClip*>(ItemAt(event.GetPosition())))
        PlayClip(*clip);
}

void CChildView::OnRightDown(wxMouseEvent& event)
{
    if (!layout_.AnySelected())
        if (IFmtItem* item = ItemAt(event.GetPosition()))
            layout_.SetSelected(item, this, true, false);
    event.Skip();
}

void CChildView::OnRightUp(wxMouseEvent& event)
{
    contextPoint_ = event.GetPosition();
    ClientToLogical(contextPoint_);
    // The toolkit has no default (bold) menu item; Play Clip stays first in the menu.
    PopupMenu(popup_.get(), event.GetPosition());
    event.Skip();
}

void CChildView::OnUpdatePlayClip(wxUpdateUIEvent& event)
{
    event.Enable(layout_.HitTest(contextPoint_.x, contextPoint_.y) != nullptr);
}

void CChildView::OnUpdatePlaySelection(wxUpdateUIEvent& event)
{
    event.Enable(layout_.AnySelected());
}

void CChildView::OnCommand(wxCommandEvent& event)
{
    switch (event.GetId()) {
    case wxID_OPEN:
        OpenFolder();
        break;
    case res::kCmdOptions:
        ShowOptions();
        break;
    case res::kCmdPlayClip:
        if (const auto* clip = dynamic_cast<const CFmtClip*>(layout_.HitTest(contextPoint_.x, contextPoint_.y)))
            PlayClip(*clip);
        break;
    case res::kCmdPlaySelection: {
        std::vector<std::string> paths;
        layout_.CollectSelectedPaths(paths);
        WritePlaylistAndPlay(paths);
        break;
    }
    case res::kCmdPlayAll: {
        std::vector<std::string> paths;
        layout_.CollectAllPaths(paths);
        WritePlaylistAndPlay(paths);
        break;
    }
    default:
        event.Skip();
    }
}

void CChildView::PlayClip(const CFmtClip& clip)
{
    std::vector<std::string> files;
    if (clip.Clips() != nullptr && clip.Clips()->GetRecordingPaths(static_cast<int>(clip.Index()), files) &&
        !ReportMissingClips(files))
        OpenWithDesktop(files);
}

void CChildView::WritePlaylistAndPlay(const std::vector<std::string>& paths)
{
    if (!ReportMissingClips(paths))
        PlayListWithDesktop(paths);
}

void CChildView::OpenWithDesktop(const std::vector<std::string>& files)
{
    PlayClipWithUsersPlayer(files);
}

void CChildView::PlayListWithDesktop(const std::vector<std::string>& paths)
{
    PlayClipsWithUsersPlayer(paths);
}

void CChildView::StartDrag()
{
    dragPending_ = false;
    dragArmed_ = false;
    dragTimer_.Stop();
    std::vector<std::string> paths;
    layout_.CollectSelectedPaths(paths);
    if (paths.empty() || ReportMissingClips(paths))
        return;  // files that are gone would give the other program nothing to copy
    RunDragLoop(paths);
}

void CChildView::RunDragLoop(const std::vector<std::string>& paths)
{
    wxFileDataObject files;
    for (const std::string& path : paths)
        files.AddFile(wxString(path.c_str(), *wxConvFileName));
    wxDropSource source(files, this);
    source.DoDragDrop(wxDrag_CopyOnly);
}

bool CChildView::BrowseForFolder(std::string& folder)
{
    wxDirDialog dialog(nullptr, "Choose video directory to view", wxString(folder.c_str(), *wxConvFileName),
                       wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
    if (dialog.ShowModal() != wxID_OK)
        return false;
    const wxCharBuffer chosen = dialog.GetPath().mb_str(*wxConvFileName);
    if (chosen.data() == nullptr || chosen.length() == 0)
        return false;
    folder.assign(chosen.data(), chosen.length());
    return true;
}

void CChildView::OpenFolder()
{
    std::string folder = settings::LastDirectory.Read();
    if (BrowseForFolder(folder))
        OpenFolderAt(folder);
}

void CChildView::OpenFolderAt(const std::string& folder)
{
    settings::LastDirectory.Write(folder);
    OpenAndRefresh(folder);
}

namespace {

bool HoldsFolder(const std::string& root, const std::string& folder)
{
    const std::string prefix = !root.empty() && root.back() == '/' ? root : root + "/";
    return !folder.empty() && (folder == root || folder.rfind(prefix, 0) == 0);
}

}  // namespace

bool CChildView::VolumeRemoved(const std::string& root)
{
    if (!HoldsFolder(root, openedFolder_))
        return false;
    LogEvent("The card that holds [%s] was removed; its clips stay listed, their thumbnails are no longer made",
             openedFolder_.c_str());
    openedFolderPulled_ = true;
    document_.DropQueuedThumbnails();
    RefreshGrid();
    return true;
}

bool CChildView::VolumeReturned(const std::string& root)
{
    if (!openedFolderPulled_ || !HoldsFolder(root, openedFolder_))
        return false;
    LogEvent("The card that holds [%s] is back; the folder is opened again", openedFolder_.c_str());
    OpenAndRefresh(openedFolder_);
    return true;
}

void CChildView::ShowOptions()
{
    const bool splitBefore = settings::SplitDates.Read();
    const bool joinBefore = settings::JoinSplitRecordings.Read();
    if (!optionsRunner_ || !optionsRunner_(this))
        return;
    const bool join = settings::JoinSplitRecordings.Read();
    if (join != joinBefore)
        document_.SetJoinedRecordings(join);  // before queueing: a file shown alone needs a picture
    if (settings::GenerateThumbnails.Read())
        document_.QueueMissingThumbnails();
    if (settings::SplitDates.Read() != splitBefore || join != joinBefore)
        RefreshGrid();
    if (folderShown_)
        folderShown_();
}
