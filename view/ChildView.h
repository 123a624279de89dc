#pragma once
#include "model/AVCHDDoc.h"
#include "view/FmtLayout.h"
#include "view/ItemPainter.h"
#include "view/LabelCache.h"
#include "view/ScrollWnd.h"
#include "view/Skimming.h"

#include <wx/menu.h>
#include <wx/timer.h>

class wxButton;
class CQuickLook;

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The clip grid: the main window's client. Owns the open folder's document and the grid
// layout; opens folders, collects generated thumbnails every second, selects with the mouse and
// the keyboard, plays a clip, a selection or all clips, and drags or copies the selected clip
// files to other programs. Without a folder, or with one that holds no clips, it says so and
// offers Open Folder.
class CChildView : public CScrollWnd, public IRepainter {
public:
    // Shows the options dialog modally; true when it was closed (OK or Cancel).
    using OptionsDialogRunner = std::function<bool(wxWindow* parent)>;

    explicit CChildView(wxWindow* parent, CThumbnailGenerator::Producer producer = {});
    ~CChildView() override;

    void RefreshGrid();
    // Lays the grid out again with the clip at the top of the view kept where it is on screen,
    // whatever captions come or go above it.
    void RefreshGridKeepingTopClip();
    void Repaint(const FmtRect& rect) override;
    // Paints a content rectangle (a cell whose picture changed) now, without waiting for the
    // toolkit's next paint.
    void RepaintNow(const FmtRect& rect);
    bool HandlesCommand(int id) const;
    void SetOptionsDialogRunner(OptionsDialogRunner runner) { optionsRunner_ = std::move(runner); }
    // Called once a folder was opened and whenever the options dialog was closed.
    void SetFolderShownHandler(std::function<void()> handler) { folderShown_ = std::move(handler); }
    // The roots of the camcorder cards mounted now, where the folder dialog starts when no
    // folder was opened before.
    void SetMountedCardsQuery(std::function<std::vector<std::string>()> query) { mountedCards_ = std::move(query); }

    CAVCHDDoc& Document() { return document_; }
    CFmtLayout& GridLayout() { return layout_; }
    bool DragPending() const { return dragPending_; }
    bool DragArmed() const { return dragArmed_; }

    // The commands, callable directly.
    void OpenFolder();
    // What Open Folder does once a folder is chosen: remembered as LastDirectory, then opened.
    void OpenFolderAt(const std::string& folder);
    // A volume was unmounted: when it holds the open folder, the grid keeps its items and the
    // thumbnails still queued for them are dropped. True when it held the open folder.
    bool VolumeRemoved(const std::string& root);
    // A volume was mounted: when it is where the open folder's card was pulled from, the folder is
    // opened again (the card put back may hold other clips). True when it was.
    bool VolumeReturned(const std::string& root);
    const std::string& OpenedFolder() const { return openedFolder_; }
    // The card that holds the open folder was pulled and is not back.
    bool OpenedFolderPulled() const { return openedFolderPulled_; }
    // The next folder opened selects this clip file's cell and scrolls it into view; a clip
    // without a picture yet is selected once it has one.
    void ShowClipWhenOpened(const std::string& clipPath) { clipToShow_ = clipPath; }
    // What the grid says where it has no clips to show ("" when it shows clips), and where.
    wxString EmptyGridText() const;
    wxRect EmptyGridTextRect() const;
    wxButton* EmptyGridButton() const { return openButton_; }  // null while the grid has clips
    const wxFont& EmptyGridFont() const { return hintFont_; }
    void ShowOptions();
    void SelectAll();
    void PlaySelection();
    // Puts the selected clips' files on the clipboard, as a file manager's Copy does; false when
    // nothing is selected.
    bool CopySelection();
    void PlayClip(const CFmtClip& clip);
    void WritePlaylistAndPlay(const std::vector<std::string>& paths);
    void StartDrag();
    // The quick look's keys, from the grid or the quick look window: Space plays the clip under
    // the pointer (else the first selected one) in the quick look; while it is open, Space and
    // Escape put it away, and Left and Right show the clip before or after it in the grid, which
    // selects that clip. True when the key was taken.
    bool QuickLookKey(int keyCode);
    CQuickLook* QuickLook() const { return quickLook_; }

protected:
    void OnDraw(wxDC& dc, const wxRect& contentClip) override;
    void OnScrolled(int dx, int dy) override;
    void FillBackground(wxDC& dc, const wxRect& contentClip) override;
    void OnSize(wxSizeEvent& event) override;
    // Seams to the desktop: the folder chooser, playing a clip or a list of clips with the
    // user's player, the drag loop.
    virtual bool BrowseForFolder(std::string& folder);
    virtual void OpenWithDesktop(const std::vector<std::string>& files);
    virtual void PlayListWithDesktop(const std::vector<std::string>& paths);
    virtual void RunDragLoop(const std::vector<std::string>& paths);

private:
    void OnOpenLastTimer(wxTimerEvent& event);
    void OnCollectTimer(wxTimerEvent& event);
    void OnThumbnailReady(wxThreadEvent& event);
    void CollectThumbnails();
    // Tells the document which clips are on screen, when that changed.
    void NotifyVisibleClips();
    void UpdateStatus();
    void OnDragTimer(wxTimerEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    // What a click with these modifiers does to the selection.
    void Click(IFmtItem* item, bool shift, bool control);
    void OnMotion(wxMouseEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void OnLeftDoubleClick(wxMouseEvent& event);
    void OnRightDown(wxMouseEvent& event);
    void OnRightUp(wxMouseEvent& event);
    void OnLeaveWindow(wxMouseEvent& event);
    // Tells what the clip under the pointer is, in the status bar and as a tool tip.
    void ShowDetailsAt(wxPoint clientPoint);
    void ShowDetails(const CClipDetails* clips, int index);
    // The tool tip names the clip pointed at, except over a picture being skimmed, which it
    // would cover.
    void UpdateDetailsTip();
    void OnCommand(wxCommandEvent& event);
    void OnUpdatePlayClip(wxUpdateUIEvent& event);
    void OnUpdatePlaySelection(wxUpdateUIEvent& event);
    void OnKeyDown(wxKeyEvent& event);
    const CFmtClip* ClipForQuickLook() const;
    // The clip cell `step` cells before (negative) or after the one holding `file`, in grid order.
    CFmtClip* ClipBeside(const std::string& file, int step) const;
    void LookAt(const CFmtClip& clip);
    void SetContentHeight();
    IFmtItem* ItemAt(wxPoint clientPoint) const;
    // Where the folder dialog starts: the last folder, else the mounted cards, else the user's
    // videos folder.
    std::string FolderDialogStart() const;
    void PlaceEmptyGridButton();
    void DropEmptyGridButton();
    void SelectClipToShow();
    // Scrolls the clip kept in view into view, if it is not.
    void KeepClipInView();

    // The clip at the top left of the view and how far its cell's top is below the view's top:
    // kept where it is when the grid is laid out again.
    struct TopClip {
        const CClipDetails* clips = nullptr;
        std::uint32_t index = 0;
        int offset = 0;
    };
    TopClip TopClipNow() const;
    void ScrollBackTo(const TopClip& top);

    void OpenAndRefresh(const std::string& folder);

    CAVCHDDoc document_;
    CFmtLayout layout_;
    std::string openedFolder_;
    bool openedFolderPulled_ = false;
    wxPoint contextPoint_;
    std::unique_ptr<wxMenu> popup_;
    bool dragPending_ = false;  // a press on a selection: a drag starts when the pointer moves 5 pixels
    bool dragArmed_ = false;    // the press was held for 500 ms: any motion starts the drag
    wxPoint dragStart_;
    // A press on a clip that was selected already keeps the selection for a drag; released
    // without one, the click does what it asked (that clip alone, that clip off with Control,
    // a range with Shift).
    struct PendingClick {
        const CClipDetails* clips = nullptr;
        std::uint32_t index = 0;
        bool shift = false;
        bool control = false;
    };
    std::optional<PendingClick> pendingClick_;
    std::string clipToShow_;    // selected and scrolled to when its folder opens
    std::string clipKeptInView_;  // that clip, kept in view as cells grow, until the user scrolls
    int keptScrollTop_ = -1;      // where it was kept
    std::string clipToSelect_;  // still to be selected once it has a picture
    wxButton* openButton_ = nullptr;  // Open Folder, while the grid has no clips
    bool inEmptyGridClick_ = false;
    CQuickLook* quickLook_ = nullptr;  // made at the first look, kept (hidden) between looks
    wxFont hintFont_;
    std::function<std::vector<std::string>()> mountedCards_;
    wxTimer openLastTimer_;
    wxTimer collectTimer_;
    wxTimer dragTimer_;
    OptionsDialogRunner optionsRunner_;
    std::function<void()> folderShown_;
    CLabelCache labels_;
    CItemPainter::Fonts fonts_;  // made once, not for every paint
    std::vector<std::string> visibleClips_;
    // The clip whose details are shown (its list and slot), and the text shown.
    const CClipDetails* hoveredClips_ = nullptr;
    int hoveredIndex_ = -1;
    std::string shownDetails_;
    bool detailsTipShown_ = false;
    int shownPending_ = 0;  // the count the status bar shows
    // Set by a worker thread when it has posted a wake-up that the UI has not collected yet, so
    // a burst of results posts one event.
    std::shared_ptr<std::atomic<bool>> wakeUpPosted_ = std::make_shared<std::atomic<bool>>(false);
    CSkimming skimming_{*this, document_.Generator()};  // destroyed before the document it asks
};
