#pragma once
#include <wx/dialog.h>

class CEventLog;
class wxTextCtrl;

// The "Event Log" tool window: a read-only, non-wrapping text area that shows the event log's
// lines. It makes itself the log's target when created and takes every queued line on each
// notification, on the UI thread; closing it only hides it.
class CEventLogDlg : public wxDialog {
public:
    explicit CEventLogDlg(wxWindow* owner, CEventLog& log);
    ~CEventLogDlg() override;

    wxTextCtrl* Text() const { return text_; }

private:
    void OnEventLogUpdate(wxThreadEvent& event);
    void OnSize(wxSizeEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void Drain();

    CEventLog& log_;
    wxTextCtrl* text_ = nullptr;
    wxPoint margin_;
};
