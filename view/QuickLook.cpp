#include "view/QuickLook.h"

#include "log/EventLog.h"
#include "platform/Utf8.h"

#include <wx/dcclient.h>
#include <wx/display.h>
#include <wx/graphics.h>
#include <wx/settings.h>

#include <cairo.h>

#include <algorithm>

namespace {

using State = platform::MediaPlayer::State;

// The client size a first look opens at: 16:9, 960 x 540 at most, and at most two thirds of the
// screen's width and height.
wxSize FirstSize(const wxWindow* parent)
{
    const int screen = wxDisplay::GetFromWindow(parent);
    const wxRect area = wxDisplay(screen != wxNOT_FOUND ? static_cast<unsigned>(screen) : 0u).GetClientArea();
    const int width = std::min({960, area.width * 2 / 3, area.height * 2 / 3 * 16 / 9});
    return wxSize(width, width * 9 / 16);
}

}  // namespace

CQuickLook::CQuickLook(wxWindow* parent, KeyHandler keys)
    : wxFrame(parent, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize,
              wxDEFAULT_FRAME_STYLE | wxFRAME_FLOAT_ON_PARENT | wxFRAME_NO_TASKBAR),
      keys_(std::move(keys)),
      timer_(this)
{
    picture_ = new wxWindow(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxWANTS_CHARS | wxFULL_REPAINT_ON_RESIZE);
    picture_->SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetClientSize(FirstSize(parent));
    CentreOnParent();
    Bind(wxEVT_CHAR_HOOK, &CQuickLook::OnCharHook, this);
    Bind(wxEVT_CLOSE_WINDOW, &CQuickLook::OnClose, this);
    Bind(wxEVT_THREAD, &CQuickLook::OnPlayerEvent, this);
    Bind(wxEVT_TIMER, &CQuickLook::OnTimer, this);
    picture_->Bind(wxEVT_PAINT, &CQuickLook::OnPaint, this);
    picture_->Bind(wxEVT_SIZE, &CQuickLook::OnSize, this);
    picture_->Bind(wxEVT_LEFT_DOWN, &CQuickLook::OnClick, this);
}

CQuickLook::~CQuickLook()
{
    player_.reset();  // its threads never post to a window that is going
    timer_.Stop();
}

wxSize CQuickLook::FrameSizeWanted() const
{
    // The pictures are made at the window's own pixels: on a display scaled by two, twice the
    // window's size in each direction, and drawn without being enlarged.
    const double scale = picture_->GetContentScaleFactor();
    const wxSize client = picture_->GetClientSize();
    return wxSize(std::max(2, static_cast<int>(client.x * scale + 0.5)), std::max(2, static_cast<int>(client.y * scale + 0.5)));
}

void CQuickLook::Play(const std::string& name, const std::vector<std::string>& files)
{
    player_.reset();  // the last recording's files are closed before the next one's are opened
    name_ = name;
    files_ = files;
    state_ = State::Opening;
    UpdateTitle();
    if (!IsShown()) {
        if (!place_.IsEmpty())
            SetSize(place_);
        Show();
        Raise();
    }
    picture_->SetFocus();
    const wxSize size = FrameSizeWanted();
    wakeUpPosted_->store(false);
    player_ = platform::MediaPlayer::Play(files, size.x, size.y, [this, posted = wakeUpPosted_] {
        if (!posted->exchange(true))
            wxQueueEvent(this, new wxThreadEvent());
    });
    timer_.Start(500);
    TakePlayerNews();
    picture_->Refresh(false);
}

void CQuickLook::PutAway()
{
    timer_.Stop();
    player_.reset();
    files_.clear();
    if (IsShown())
        place_ = GetRect();
    Hide();
}

void CQuickLook::TogglePause()
{
    if (!player_)
        return;
    if (state_ == State::Ended) {
        Play(name_, std::vector<std::string>(files_));  // once more from the start
        return;
    }
    if (state_ == State::Paused)
        player_->Resume();
    else if (state_ == State::Playing)
        player_->Pause();
    TakePlayerNews();
}

wxString CQuickLook::Message() const
{
    if (!player_ && files_.empty())
        return {};
    switch (state_) {
    case State::Failed:
        return wxString::FromUTF8(
            platform::DisplayUtf8(name_ + " cannot be played: " + (player_ ? player_->FailureReason() : std::string())));
    case State::Opening:
        return wxString::FromUTF8(platform::DisplayUtf8("Opening " + name_ + "..."));
    default:
        return {};
    }
}

void CQuickLook::OnPlayerEvent(wxThreadEvent&)
{
    wakeUpPosted_->store(false);  // news from now on posts again
    TakePlayerNews();
}

void CQuickLook::OnTimer(wxTimerEvent&)
{
    TakePlayerNews();
}

void CQuickLook::TakePlayerNews()
{
    if (!player_)
        return;
    const State before = state_;
    state_ = player_->Update();
    if (state_ != before) {
        UpdateTitle();
        if (state_ == State::Failed)
            LogEvent("The quick look cannot play [%s]: %s", files_.empty() ? "" : files_.front().c_str(),
                     player_->FailureReason().c_str());
        if (before == State::Opening && state_ == State::Playing && !player_->SoundProblem().empty())
            LogEvent("The quick look plays [%s] without sound: %s", files_.front().c_str(),
                     player_->SoundProblem().c_str());
    }
    if (state_ == State::Failed || state_ == State::Ended)
        timer_.Stop();
    picture_->Refresh(false);
}

void CQuickLook::UpdateTitle()
{
    std::string title = name_;
    if (state_ == State::Paused)
        title += " (paused)";
    else if (state_ == State::Ended)
        title += " (ended)";
    SetTitle(wxString::FromUTF8(platform::DisplayUtf8(title)));
}

void CQuickLook::OnPaint(wxPaintEvent&)
{
    wxPaintDC dc(picture_);
    const wxSize client = picture_->GetClientSize();
    dc.SetBackground(*wxBLACK_BRUSH);
    const std::shared_ptr<const platform::VideoFrame> frame = player_ ? player_->LatestFrame() : nullptr;
    wxGraphicsContext* context = dc.GetGraphicsContext();
    auto* cairo = context != nullptr ? static_cast<cairo_t*>(context->GetNativeContext()) : nullptr;
    const wxString message = Message();
    if (!frame || cairo == nullptr || !message.empty()) {
        dc.Clear();
        dc.SetTextForeground(*wxWHITE);
        dc.SetFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT).Scaled(1.2f));
        const wxRect text(wxPoint(10, 0), wxSize(client.x - 20, client.y));
        dc.DrawLabel(message, text, wxALIGN_CENTRE);
        return;
    }
    // The picture straight from the decoder's buffer, centred and fitted: at the window's own
    // pixels it is copied one to one; while a resize waits for pictures of the new size it is
    // scaled.
    const double scale = picture_->GetContentScaleFactor();
    const double fit = std::min(client.x * scale / frame->Width(), client.y * scale / frame->Height());
    const double shownWidth = frame->Width() * fit / scale, shownHeight = frame->Height() * fit / scale;
    cairo_surface_t* surface = cairo_image_surface_create_for_data(const_cast<std::uint8_t*>(frame->Pixels()),
                                                                   CAIRO_FORMAT_RGB24, frame->Width(), frame->Height(),
                                                                   frame->Stride());
    cairo_save(cairo);
    cairo_set_source_rgb(cairo, 0, 0, 0);
    cairo_paint(cairo);
    cairo_translate(cairo, (client.x - shownWidth) / 2, (client.y - shownHeight) / 2);
    cairo_scale(cairo, fit / scale, fit / scale);
    cairo_set_source_surface(cairo, surface, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cairo), fit == 1.0 ? CAIRO_FILTER_FAST : CAIRO_FILTER_GOOD);
    cairo_paint(cairo);
    cairo_restore(cairo);
    cairo_surface_destroy(surface);
}

void CQuickLook::OnSize(wxSizeEvent& event)
{
    event.Skip();
    if (player_) {
        const wxSize size = FrameSizeWanted();
        player_->SetFrameSize(size.x, size.y);
    }
    picture_->Refresh(false);
}

void CQuickLook::OnClick(wxMouseEvent& event)
{
    picture_->SetFocus();
    TogglePause();
    event.Skip();
}

void CQuickLook::OnCharHook(wxKeyEvent& event)
{
    if (event.GetModifiers() != wxMOD_NONE || !keys_ || !keys_(event.GetKeyCode()))
        event.Skip();
}

void CQuickLook::OnClose(wxCloseEvent& event)
{
    // Closed by the window manager: put away, and kept for the next look.
    if (event.CanVeto()) {
        event.Veto();
        PutAway();
        return;
    }
    player_.reset();
    event.Skip();
}
