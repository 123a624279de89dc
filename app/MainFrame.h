#pragma once
#include "view/StatusSink.h"

#include <wx/aui/aui.h>
#include <wx/frame.h>
#include <wx/timer.h>

#include <functional>
#include <memory>
#include <set>
#include <string>

namespace platform {
struct MountPoint;
class VolumeMonitor;
}
class CCardBar;
class CChildView;
class CImportController;
class CMissingPicturesBar;
class CEventLogDlg;
class wxAuiToolBar;

// The main window: menu, accelerators, a dockable toolbar, the five-pane status bar and the clip
// view as client. Every command and update-UI query goes to the view first, then the frame,
// then the application; a command nobody handles shows disabled.
class CMainFrame : public wxFrame, public IStatusSink {
public:
    // Makes the clip view with the frame as its parent; tests give views of their own.
    using ViewFactory = std::function<CChildView*(wxWindow* parent)>;
    explicit CMainFrame(ViewFactory makeView = {});
    ~CMainFrame() override;

    void UpdateStatusText(int remaining, int folders, int clips) override;
    void ShowClipDetails(const std::string& text) override;
    void FitWidthToScreen();
    void ToggleEventLog();

    // A volume was mounted or unmounted (from the desktop's volume monitor): a camcorder card is
    // offered in the bar above the grid; a pulled card's clips stay listed, and the folder is
    // opened again when its card comes back.
    void MountAdded(const platform::MountPoint& mount);
    void MountRemoved(const platform::MountPoint& mount);

    CChildView* View() const { return view_; }
    CCardBar* CardBar() const { return cardBar_; }
    CMissingPicturesBar* MissingPicturesBar() const { return picturesBar_; }
    CEventLogDlg* EventLog() const { return eventLog_; }
    CImportController* Import() const { return import_.get(); }
    // A standing line for the message pane, shown whenever no prompt or clip is ("" for none):
    // an import's progress, or that the card can be formatted.
    void SetNote(const std::string& note);
    wxAuiToolBar* ToolBar() const { return toolBar_; }
    wxAuiManager& Aui() { return aui_; }

    // Width that shows whole grid columns of 426 pixels: frame border F, scroll bar V, screen S.
    static int FittedWidth(int frameBorder, int scrollBar, int screen);
    // The status texts.
    static std::string StatusText(int remaining, int folders, int clips);
    static std::string PulledCardText(int folders, int clips);

protected:
    bool TryBefore(wxEvent& event) override;
    bool TryAfter(wxEvent& event) override;

private:
    void CreateToolBar();
    void CreateStatusPanes();
    void SetStatusPaneWidths(const wxString& statusText);
    void CreateCardBar();
    void CreateMissingPicturesBar();
    void AddBarPane(wxWindow* bar, const char* name, int row);
    void ShowBar(wxWindow* bar, bool shown);
    // With generation off, the open folder's clips without a picture anywhere (once the pictures
    // kept for them are read) are offered to be made.
    void OfferMissingPictures();
    void MakeMissingPictures();
    void OnFolderShown();
    void ImportFromCard(const std::string& root);
    void OnImport(wxCommandEvent& event);
    void OnUpdateImport(wxUpdateUIEvent& event);
    wxString ReadyText() const;
    void OnToggleEventLog(wxCommandEvent& event);
    void OnUpdateEventLog(wxUpdateUIEvent& event);
    void OnEventLogDestroyed(wxWindowDestroyEvent& event);
    void OnViewToolbar(wxCommandEvent& event);
    void OnUpdateViewToolbar(wxUpdateUIEvent& event);
    void OnViewStatusBar(wxCommandEvent& event);
    void OnUpdateViewStatusBar(wxUpdateUIEvent& event);
    void OnExit(wxCommandEvent& event);
    void OnSetFocus(wxFocusEvent& event);
    void OnIndicatorTimer(wxTimerEvent& event);
    void OnToolBarMotion(wxMouseEvent& event);
    void OnToolBarLeave(wxMouseEvent& event);
    bool IsHandledHere(int id) const;

    wxAuiManager aui_;
    CChildView* view_ = nullptr;
    wxAuiToolBar* toolBar_ = nullptr;
    CEventLogDlg* eventLog_ = nullptr;
    CCardBar* cardBar_ = nullptr;
    CMissingPicturesBar* picturesBar_ = nullptr;
    std::unique_ptr<platform::VolumeMonitor> volumes_;
    std::set<std::string> cards_;  // the roots of the camcorder cards mounted now
    std::unique_ptr<CImportController> import_;
    std::string note_;
    bool showingClip_ = false;  // the message pane tells about the clip under the pointer
    wxTimer indicatorTimer_;
    int promptTool_ = wxID_NONE;
};
