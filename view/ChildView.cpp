#include "view/ChildView.h"

#include "log/EventLog.h"
#include "platform/DesktopApps.h"
#include "platform/FileSystem.h"
#include "platform/UserDirectories.h"
#include "platform/Utf8.h"
#include "res/Resources.h"
#include "settings/Settings.h"
#include "view/CopyOnlyDrag.h"
#include "view/ItemPainter.h"
#include "view/Player.h"
#include "view/QuickLook.h"
#include "view/StatusSink.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/clipbrd.h>
#include <wx/dc.h>
#include <wx/dataobj.h>
#include <wx/dirdlg.h>
#include <wx/dnd.h>
#include <wx/settings.h>
#include <wx/utils.h>

#include <algorithm>


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
    // Bound after the scrolling window's keys, so asked first.
    Bind(wxEVT_KEY_DOWN, &CChildView::OnKeyDown, this);
    for (int id : {int(wxID_OPEN), int(res::kCmdOptions), int(res::kCmdPlayClip), int(res::kCmdPlaySelection),
                   int(res::kCmdPlayAll), int(wxID_COPY)})
        Bind(wxEVT_MENU, &CChildView::OnCommand, this, id);
    Bind(wxEVT_UPDATE_UI, &CChildView::OnUpdatePlayClip, this, res::kCmdPlayClip);
    for (int id : {int(res::kCmdPlaySelection), int(wxID_COPY)})
        Bind(wxEVT_UPDATE_UI, &CChildView::OnUpdatePlaySelection, this, id);
    hintFont_ = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT).Scaled(1.3f);
    Bind(wxEVT_THREAD, &CChildView::OnThumbnailReady, this, res::kEventThumbnailReady);
    // A finished thumbnail wakes the UI at once; the one-second collection stays as the fallback.
    document_.SetThumbnailListener([this, posted = wakeUpPosted_] {
        if (!posted->exchange(true))
            wxQueueEvent(this, new wxThreadEvent(wxEVT_THREAD, res::kEventThumbnailReady));
    });
    if (settings::GenerateThumbnails.Read() || settings::SkimClips.Read())
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
    if (quickLook_ != nullptr) {
        quickLook_->PutAway();  // stops playing and closes the clip's files
        quickLook_->Destroy();
    }
    layout_.Clear();
}

bool CChildView::HandlesCommand(int id) const
{
    return id == wxID_OPEN || id == res::kCmdOptions || id == res::kCmdPlayClip || id == res::kCmdPlaySelection ||
           id == res::kCmdPlayAll || id == wxID_COPY;
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
    PlaceEmptyGridButton();
    NotifyVisibleClips();
    UpdateStatus();
}

wxString CChildView::EmptyGridText() const
{
    if (!layout_.Items().empty())
        return {};
    if (openedFolder_.empty())
        return "Open a folder, or insert a camcorder card";
    return wxString::FromUTF8("No clips in " + platform::DisplayUtf8(openedFolder_));
}

wxRect CChildView::EmptyGridTextRect() const
{
    // Centred in the view, above the button.
    wxCoord width = 0, height = 0;
    GetTextExtent(EmptyGridText(), &width, &height, nullptr, nullptr, &hintFont_);
    const wxSize client = GetClientSize();
    return wxRect((client.x - width) / 2, client.y / 2 - height - 8, width, height);
}

void CChildView::PlaceEmptyGridButton()
{
    if (EmptyGridText().empty()) {
        DropEmptyGridButton();
        return;
    }
    if (openButton_ == nullptr) {
        // Its own id: a standard one would be a command whose state the frame decides.
        openButton_ = new wxButton(this, wxID_ANY, "Open Folder...");
        openButton_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
            inEmptyGridClick_ = true;
            OpenFolder();
            inEmptyGridClick_ = false;
        });
    }
    const wxSize client = GetClientSize(), button = openButton_->GetBestSize();
    openButton_->SetSize((client.x - button.x) / 2, client.y / 2 + 8, button.x, button.y);
    Refresh(false);  // the text moves with the view's middle
}

void CChildView::DropEmptyGridButton()
{
    // The button exists only while the grid is empty: the toolkit moves every child of the grid
    // with each scroll, and a hidden one makes it complain each time. Within its own click it is
    // destroyed once the click is handled.
    if (openButton_ == nullptr)
        return;
    if (inEmptyGridClick_) {
        openButton_->Hide();
        CallAfter([button = openButton_] { button->Destroy(); });
    } else {
        openButton_->Destroy();
    }
    openButton_ = nullptr;
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

void CChildView::RepaintNow(const FmtRect& rect)
{
    PaintNow(wxRect(rect.left - ScrollPosition(wxHORIZONTAL), rect.top - ScrollPosition(wxVERTICAL), rect.Width(),
                    rect.Height()));
}

void CChildView::OnDraw(wxDC& dc, const wxRect& contentClip)
{
    CItemPainter painter(dc, contentClip, labels_, fonts_, &skimming_);
    layout_.PaintAll(painter);
    if (const wxString hint = EmptyGridText(); !hint.empty()) {
        // Nothing scrolls while there is nothing to show: content and client coordinates agree.
        dc.SetFont(hintFont_);
        dc.SetTextForeground(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNTEXT));
        dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
        dc.DrawText(hint, EmptyGridTextRect().GetTopLeft());
    }
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
    // Taken before the new page size moves the bars: the clip at the top left stays at the top
    // when the cells flow into other rows.
    const TopClip top = TopClipNow();
    CScrollWnd::OnSize(event);
    const int width = GetClientSize().x;
    const bool reflowed = width != layout_.width;
    if (reflowed) {
        layout_.width = width;
        layout_.Build();
    }
    SetContentHeight();
    if (reflowed)
        ScrollBackTo(top);
    PlaceEmptyGridButton();
    NotifyVisibleClips();
}

void CChildView::OnScrolled(int, int)
{
    skimming_.Leave();  // another clip is under the pointer now
    // Keys and the wheel move the grid under a pointer held still: the status bar and the tip
    // tell of the clip now under it, not of the one it was over.
    const wxPoint pointer = ScreenToClient(wxGetMousePosition());
    if (wxRect(GetClientSize()).Contains(pointer))
        ShowDetailsAt(pointer);
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
    skimming_.Forget();
    visibleClips_.clear();     // and the document forgets which were on screen
    clipToSelect_.clear();
    clipKeptInView_.clear();
    layout_.Clear();
    openedFolder_ = folder;
    openedFolderPulled_ = false;
    if (!folder.empty())
        document_.OpenDirectory(folder);
    RefreshGrid();
    ScrollTo(wxVERTICAL, 0);  // a folder opens at its top, wherever the last one was scrolled to
    if (!clipToShow_.empty()) {
        clipToSelect_ = std::move(clipToShow_);
        clipToShow_.clear();
        SelectClipToShow();
    }
    if (folderShown_)
        folderShown_();
}

void CChildView::SelectClipToShow()
{
    CFmtClip* cell = layout_.FindClipOfFile(clipToSelect_);
    if (cell == nullptr) {
        LogEvent("The clip [%s] is not among the clips of [%s]", clipToSelect_.c_str(), openedFolder_.c_str());
        clipToSelect_.clear();
        return;
    }
    clipKeptInView_ = clipToSelect_;
    KeepClipInView();
    layout_.DeselectAll(this);
    layout_.SetSelected(cell, this, true, true);
    if (cell->IsSelected())
        clipToSelect_.clear();  // else again once its picture is there
}

CChildView::TopClip CChildView::TopClipNow() const
{
    const int top = ScrollPosition(wxVERTICAL);
    const CFmtClip* anchor = layout_.FirstClipBelow(top);
    if (anchor == nullptr)
        return {};
    return {anchor->Clips(), anchor->Index(), anchor->GetRect().top - top};
}

void CChildView::ScrollBackTo(const TopClip& top)
{
    if (top.clips == nullptr)
        return;
    if (const CFmtClip* again = layout_.FindClip(top.clips, top.index))
        ScrollTo(wxVERTICAL, again->GetRect().top - top.offset);
}

void CChildView::KeepClipInView()
{
    const CFmtClip* cell = layout_.FindClipOfFile(clipKeptInView_);
    if (cell == nullptr) {
        clipKeptInView_.clear();
        return;
    }
    const int top = ScrollPosition(wxVERTICAL);
    if (cell->GetRect().top < top || cell->GetRect().bottom > top + pageSize.y)
        ScrollTo(wxVERTICAL, cell->GetRect().top - CFmtLayout::kMargin);
    keptScrollTop_ = ScrollPosition(wxVERTICAL);
}

void CChildView::RefreshGridKeepingTopClip()
{
    const int top = ScrollPosition(wxVERTICAL);
    // The clip given to open with stays in view while the cells around it grow, until the
    // user scrolls elsewhere.
    if (!clipKeptInView_.empty() && top == keptScrollTop_) {
        RefreshGrid();
        KeepClipInView();
        return;
    }
    clipKeptInView_.clear();
    // Scrolled to the end (End, or the bar pulled down), the view stays at the end.
    if (top > 0 && top + pageSize.y >= totalSize.y) {
        RefreshGrid();
        ScrollTo(wxVERTICAL, totalSize.y);
        return;
    }
    const TopClip anchor = TopClipNow();
    RefreshGrid();
    ScrollBackTo(anchor);
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
    skimming_.CollectFrames();
    UpdateDetailsTip();  // a frame that came hides the tip over its picture
    const bool thumbnails = document_.CollectGeneratedThumbnails();
    const CAVCHDDoc::RecordingTimeChanges times = document_.CollectRecordingTimes();
    // The selection lives in the thumbnail entries, so it outlasts any new layout.
    // Cells grow as their pictures arrive: what the user scrolled to stays where it is.
    if (thumbnails || (times.dateGroups && settings::SplitDates.Read()))
        RefreshGridKeepingTopClip();
    else if (times.labels)
        Refresh(false);
    if (thumbnails && !clipToSelect_.empty())
        SelectClipToShow();
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
    clipToSelect_.clear();  // the person chooses now
    IFmtItem* item = ItemAt(event.GetPosition());
    const auto* clip = dynamic_cast<const CFmtClip*>(item);
    pendingClick_.reset();
    if (clip != nullptr && clip->IsSelected())
        pendingClick_ = PendingClick{clip->Clips(), clip->Index(), event.ShiftDown(), event.ControlDown()};
    else
        Click(item, event.ShiftDown(), event.ControlDown());
    dragArmed_ = false;
    if (layout_.AnySelected()) {
        dragPending_ = true;
        dragTimer_.StartOnce(500);
        dragStart_ = event.GetPosition();
    }
}

void CChildView::Click(IFmtItem* item, bool shift, bool control)
{
    if (!shift && !control)
        layout_.DeselectAll(this);
    if (item == nullptr)
        return;
    const bool select = !(control && item->IsSelected());
    if (shift)
        layout_.SelectRange(item, select, this);
    else
        layout_.SetSelected(item, this, select, false);
}

void CChildView::OnMotion(wxMouseEvent& event)
{
    if (!event.ButtonIsDown(wxMOUSE_BTN_ANY)) {
        ShowDetailsAt(event.GetPosition());
        wxPoint content = event.GetPosition();
        ClientToLogical(content);
        skimming_.PointerAt(dynamic_cast<const CFmtClip*>(layout_.HitTest(content.x, content.y)), content);
    } else {
        skimming_.Leave();
    }
    UpdateDetailsTip();
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
    skimming_.Leave();
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
    if (detailsTipShown_)
        UnsetToolTip();  // the next clip's text shows as a tip of its own
    detailsTipShown_ = false;
    UpdateDetailsTip();
    if (auto* status = dynamic_cast<IStatusSink*>(wxTheApp != nullptr ? wxTheApp->GetTopWindow() : nullptr))
        status->ShowClipDetails(text);
}

void CChildView::UpdateDetailsTip()
{
    const bool wanted = !shownDetails_.empty() && !skimming_.ShowsFrame();
    if (wanted == detailsTipShown_)
        return;
    detailsTipShown_ = wanted;
    if (wanted)
        SetToolTip(wxString::FromUTF8(platform::DisplayUtf8(shownDetails_)));
    else
        UnsetToolTip();
}

void CChildView::OnLeftUp(wxMouseEvent& event)
{
    // Released without a drag: the press on a selected clip was a click after all. Found again
    // by its clip: the grid may have been laid out anew while the button was down.
    if (pendingClick_ && dragPending_)
        if (CFmtClip* item = layout_.FindClip(pendingClick_->clips, pendingClick_->index))
            Click(item, pendingClick_->shift, pendingClick_->control);
    pendingClick_.reset();
    dragPending_ = false;
    dragArmed_ = false;
    event.Skip();
}

void CChildView::OnKeyDown(wxKeyEvent& event)
{
    const int key = event.GetKeyCode();
    if (key == 'A' && event.GetModifiers() == wxMOD_CONTROL)
        SelectAll();
    else if ((key == WXK_RETURN || key == WXK_NUMPAD_ENTER) && event.GetModifiers() == wxMOD_NONE)
        PlaySelection();
    else if (event.GetModifiers() != wxMOD_NONE || !QuickLookKey(key))
        event.Skip();  // the scrolling keys
}

bool CChildView::QuickLookKey(int key)
{
    const bool looking = quickLook_ != nullptr && quickLook_->Looking();
    if (looking && (key == WXK_SPACE || key == WXK_ESCAPE)) {
        quickLook_->PutAway();
        SetFocus();  // the keys go to the grid again
        return true;
    }
    if (looking && (key == WXK_LEFT || key == WXK_RIGHT)) {
        if (CFmtClip* beside = quickLook_->Files().empty() ? nullptr
                                                           : ClipBeside(quickLook_->Files().front(), key == WXK_LEFT ? -1 : 1)) {
            LookAt(*beside);
            // The grid follows: the clip looked at is the one selected, in view.
            layout_.DeselectAll(this);
            layout_.SetSelected(beside, this, true, true);
            const int top = ScrollPosition(wxVERTICAL);
            if (beside->GetRect().top < top || beside->GetRect().bottom > top + pageSize.y)
                ScrollTo(wxVERTICAL, beside->GetRect().top - CFmtLayout::kMargin);
        }
        return true;
    }
    if (!looking && key == WXK_SPACE) {
        if (const CFmtClip* clip = ClipForQuickLook())
            LookAt(*clip);
        return true;
    }
    return false;
}

const CFmtClip* CChildView::ClipForQuickLook() const
{
    const wxPoint pointer = ScreenToClient(wxGetMousePosition());
    if (GetClientRect().Contains(pointer))
        if (const auto* clip = dynamic_cast<const CFmtClip*>(ItemAt(pointer)); clip != nullptr && clip->Clips() != nullptr)
            return clip;
    for (IFmtItem* item : layout_.Items())
        if (const auto* clip = dynamic_cast<const CFmtClip*>(item); clip != nullptr && clip->IsSelected() && clip->Clips() != nullptr)
            return clip;
    return nullptr;
}

CFmtClip* CChildView::ClipBeside(const std::string& file, int step) const
{
    const std::vector<IFmtItem*>& items = layout_.Items();
    const CFmtClip* from = layout_.FindClipOfFile(file);
    const auto at = std::find(items.begin(), items.end(), static_cast<const IFmtItem*>(from));
    if (from == nullptr || at == items.end())
        return nullptr;
    for (auto i = at - items.begin() + step; i >= 0 && i < static_cast<std::ptrdiff_t>(items.size()); i += step)
        if (auto* clip = dynamic_cast<CFmtClip*>(items[static_cast<std::size_t>(i)]); clip != nullptr && clip->Clips() != nullptr)
            return clip;
    return nullptr;
}

void CChildView::LookAt(const CFmtClip& clip)
{
    std::vector<std::string> files;
    if (!clip.Clips()->GetRecordingPaths(static_cast<int>(clip.Index()), files))
        return;
    std::string name = files.front().substr(files.front().rfind('/') + 1);
    if (files.size() > 1)
        name += " (" + std::to_string(files.size()) + " files)";
    if (quickLook_ == nullptr) {
        quickLook_ = new CQuickLook(wxGetTopLevelParent(this), [this](int key) { return QuickLookKey(key); });
        quickLook_->Bind(wxEVT_DESTROY, [this](wxWindowDestroyEvent& event) {
            if (event.GetEventObject() == quickLook_)
                quickLook_ = nullptr;
            event.Skip();
        });
    }
    quickLook_->Play(name, files);
}

void CChildView::SelectAll()
{
    layout_.SelectAll(this);
}

void CChildView::PlaySelection()
{
    std::vector<std::string> paths;
    layout_.CollectSelectedPaths(paths);
    if (!paths.empty())
        WritePlaylistAndPlay(paths);
}

namespace {

// A format of the clipboard's, with its bytes exactly as given.
wxCustomDataObject* ClipboardBytes(const char* format, const std::string& bytes)
{
    auto* data = new wxCustomDataObject(wxDataFormat(format));
    data->SetData(bytes.size(), bytes.data());
    return data;
}

}  // namespace

bool CChildView::CopySelection()
{
    std::vector<std::string> paths;
    layout_.CollectSelectedPaths(paths);
    if (paths.empty())
        return false;
    // The files as a list of addresses (any program that takes dropped files reads it), as
    // GNOME's file manager marks copied files (so that Paste there copies them), and as text.
    // The addresses carry the names' own bytes, whatever their encoding.
    std::string uris, copied = "copy", text;
    for (const std::string& path : paths) {
        const std::string uri = platform::FileUri(path);
        uris += uri + "\r\n";
        copied += "\n" + uri;
        text += (text.empty() ? "" : "\n") + platform::DisplayUtf8(path);
    }
    auto* formats = new wxDataObjectComposite;
    formats->Add(ClipboardBytes("text/uri-list", uris), true);
    formats->Add(ClipboardBytes("x-special/gnome-copied-files", copied));
    formats->Add(new wxTextDataObject(wxString::FromUTF8(text)));
    wxClipboardLocker clipboard;
    if (!clipboard || !wxTheClipboard->SetData(formats)) {
        if (!clipboard)
            delete formats;
        LogEvent("Could not put %zu clip files on the clipboard", paths.size());
        return false;
    }
    return true;
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
    case wxID_COPY:
        if (!CopySelection())
            event.Skip();  // nothing selected: nothing copied
        break;
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
    pendingClick_.reset();
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
    // Copy only, so the clips stay on the card; and copy whatever modifier is held, where the
    // toolkit would ask for a move (Shift) or a link (Shift+Control) and refuse the drag.
    CCopyOnlyDrag copyWithAnyModifier;
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

std::string CChildView::FolderDialogStart() const
{
    const std::string last = settings::LastDirectory.Read();
    if (!last.empty() && platform::IsDirectory(last))
        return last;
    const std::vector<std::string> cards = mountedCards_ ? mountedCards_() : std::vector<std::string>{};
    if (cards.size() == 1)
        return cards.front();
    if (!cards.empty()) {
        // Several: the folder they are mounted in, when they share one.
        const std::string parent = cards.front().substr(0, cards.front().rfind('/') + 1);
        for (const std::string& card : cards)
            if (card.rfind(parent, 0) != 0 || card.find('/', parent.size()) != std::string::npos)
                return cards.front();
        return parent.size() > 1 ? parent.substr(0, parent.size() - 1) : parent;
    }
    const std::string videos = platform::UserVideosDirectory();
    return !videos.empty() && platform::IsDirectory(videos) ? videos : platform::HomeDirectory();
}

void CChildView::OpenFolder()
{
    std::string folder = FolderDialogStart();
    if (BrowseForFolder(folder))
        OpenFolderAt(folder);
}

void CChildView::OpenFolderAt(const std::string& folder)
{
    settings::LastDirectory.Write(folder);
    OpenAndRefresh(folder);
    // Opened from a button (the empty grid's, the card bar's), the keys go to the grid now.
    SetFocus();
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
    skimming_.Leave();  // skimming may have been turned off
    const bool join = settings::JoinSplitRecordings.Read();
    if (join != joinBefore)
        document_.SetJoinedRecordings(join);  // before queueing: a file shown alone needs a picture
    if (settings::GenerateThumbnails.Read() && !openedFolderPulled_)
        document_.QueueMissingThumbnails();
    if (settings::SplitDates.Read() != splitBefore || join != joinBefore)
        RefreshGrid();
    if (folderShown_)
        folderShown_();
}
