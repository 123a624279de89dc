#pragma once
#include "import/ImportJob.h"

#include <wx/dialog.h>
#include <wx/timer.h>

#include <boost/shared_ptr.hpp>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CChildView;
class CClipDetails;
class wxButton;
class wxGauge;
class wxStaticText;

// The window an import shows while it runs: which recording, a bar, the bytes, the rate, the
// time left, and Cancel. It does not hold up the main window.
class CImportProgressDlg : public wxDialog {
public:
    CImportProgressDlg(wxWindow* parent, std::function<void()> cancel);
    void Show(const ImportProgress& progress, double seconds);
    wxButton* CancelButton() const { return cancel_; }
    wxString DetailsText() const;

private:
    std::function<void()> onCancel_;
    wxStaticText* recording_ = nullptr;
    wxGauge* bar_ = nullptr;
    wxStaticText* details_ = nullptr;
    wxButton* cancel_ = nullptr;
};

// Import Recordings for the main window: the dialog, the import on its own thread with its
// progress window and status text, the message at its end; and the marks of the open folder's
// imported recordings, looked up in the background whenever a folder is shown, with the note that
// the card can be formatted once every one of them is imported.
class CImportController : public wxEvtHandler {
public:
    // `note` shows a line in the status bar ("" for none).
    CImportController(wxWindow* frame, CChildView* view, std::function<void(const std::string&)> note);
    ~CImportController() override;

    // Shows the dialog for the open folder, and starts the import chosen. `whenDone` is told
    // whether every recording of the folder is imported, once the import has ended.
    void ChooseAndImport(std::function<void(bool complete)> whenDone = {});
    bool CanImport() const;
    bool Importing() const { return job_ != nullptr; }
    // A folder was opened: its recordings are looked up.
    void FolderShown();
    // Every recording of the open folder is imported and verified.
    bool FolderComplete() const { return complete_; }
    CImportProgressDlg* ProgressWindow() const { return progress_; }

private:
    // A clip of the open folder; its list is kept alive, so a folder closed meanwhile costs nothing.
    struct Clip {
        boost::shared_ptr<CClipDetails> clips;
        int index;
    };
    std::vector<Clip> FolderClips(bool selectedOnly) const;
    void OnTimer(wxTimerEvent& event);
    void Finish();
    void TakeLookups();
    // Waits (a little) for the lookup of the folder's imported recordings to end, and takes it.
    void FinishLookup();
    void UpdateNote();

    wxWindow* frame_;
    CChildView* view_;
    std::function<void(const std::string&)> note_;
    std::unique_ptr<CImportJob> job_;
    std::vector<Clip> importing_;  // the clips of the running import's recordings, in its order
    std::function<void(bool)> whenDone_;
    CImportProgressDlg* progress_ = nullptr;
    CImportLookup lookup_;
    std::vector<Clip> lookedUp_;  // by lookup token
    bool lookupPending_ = false;
    bool complete_ = false;
    wxTimer timer_;
};
