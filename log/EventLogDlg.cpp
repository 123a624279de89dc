#include "log/EventLogDlg.h"

#include "log/EventLog.h"
#include "platform/Utf8.h"
#include "res/Resources.h"

#include <wx/frame.h>
#include <wx/textctrl.h>

namespace {
// The event the store's notification posts to the window: its WM_EVENTLOG_UPDATE.
wxDEFINE_EVENT(EVT_EVENTLOG_UPDATE, wxThreadEvent);

// A message may hold "\r\n" of its own; the text area breaks lines at "\n".
wxString DisplayLine(const std::string& line)
{
    std::string text = platform::DisplayUtf8(line);
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            shown += text[i];
    return wxString::FromUTF8(shown);
}
}  // namespace

CEventLogDlg::CEventLogDlg(wxWindow* owner, CEventLog& log) : log_(log)
{
    const res::DialogTemplate& layout = res::EventLogDialog();
    Create(owner, wxID_ANY, layout.caption, wxDefaultPosition, wxDefaultSize,
           wxCAPTION | wxSYSTEM_MENU | wxRESIZE_BORDER | wxCLOSE_BOX | wxFRAME_TOOL_WINDOW);
    SetClientSize(ConvertDialogToPixels(wxSize(layout.width, layout.height)));
    const res::ControlTemplate& edit = layout.controls.front();
    margin_ = ConvertDialogToPixels(wxPoint(edit.x, edit.y));
    text_ = new wxTextCtrl(this, edit.id, wxEmptyString, margin_, ConvertDialogToPixels(wxSize(edit.width, edit.height)),
                           wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP | wxHSCROLL | wxVSCROLL);

    Bind(EVT_EVENTLOG_UPDATE, &CEventLogDlg::OnEventLogUpdate, this);
    Bind(wxEVT_SIZE, &CEventLogDlg::OnSize, this);
    Bind(wxEVT_CLOSE_WINDOW, &CEventLogDlg::OnClose, this);
    Bind(wxEVT_CHAR_HOOK, &CEventLogDlg::OnCharHook, this);

    // Lines added before the window existed are shown as soon as it handles events.
    log_.SetTarget([this](std::size_t) { wxQueueEvent(this, new wxThreadEvent(EVT_EVENTLOG_UPDATE)); });
    wxQueueEvent(this, new wxThreadEvent(EVT_EVENTLOG_UPDATE));
}

CEventLogDlg::~CEventLogDlg()
{
    // After this no notification can be posted to the window; queued ones die with it.
    log_.ClearTarget();
}

void CEventLogDlg::OnEventLogUpdate(wxThreadEvent&)
{
    Drain();
}

void CEventLogDlg::Drain()
{
    // All lines queued since the last notification go in with one append, and the caret moves
    // to the end even when none arrived. The text is never copied out and back.
    wxString added;
    std::string line;
    bool empty = text_->IsEmpty();
    while (log_.TakeLine(line)) {
        if (!empty || !added.empty())
            added += '\n';
        added += DisplayLine(line);
        empty = false;
    }
    if (!added.empty())
        text_->AppendText(added);
    text_->SetInsertionPointEnd();
    text_->ShowPosition(text_->GetLastPosition());
}

void CEventLogDlg::OnSize(wxSizeEvent&)
{
    // Not passed on: the toolkit would stretch a lone child over the whole window, margins and all.
    if (text_ == nullptr)
        return;
    const wxSize client = GetClientSize();
    text_->SetSize(margin_.x, margin_.y, std::max(0, client.x - 2 * margin_.x), std::max(0, client.y - 2 * margin_.y));
}

void CEventLogDlg::OnClose(wxCloseEvent& event)
{
    if (event.CanVeto()) {
        event.Veto();
        Hide();
        return;
    }
    Destroy();
}

void CEventLogDlg::OnCharHook(wxKeyEvent& event)
{
    // Enter and Escape end the dialog, which for this window only hides it.
    if (event.GetKeyCode() == WXK_ESCAPE || event.GetKeyCode() == WXK_RETURN || event.GetKeyCode() == WXK_NUMPAD_ENTER) {
        Hide();
        return;
    }
    event.Skip();
}
