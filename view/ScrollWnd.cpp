#include "view/ScrollWnd.h"

#include <wx/dcbuffer.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/settings.h>

#include <gdk/gdk.h>

#include <cstring>

namespace {

// Whether a window can be drawn on outside its paint: on X11, not on Wayland.
bool DrawsOutsidePaint()
{
    GdkDisplay* display = gdk_display_get_default();
    return display != nullptr && std::strcmp(G_OBJECT_TYPE_NAME(display), "GdkX11Display") == 0;
}

}  // namespace

CScrollWnd::CScrollWnd(wxWindow* parent, wxWindowID id, long style)
    : wxWindow(parent, id, wxDefaultPosition, wxDefaultSize, style | wxVSCROLL | wxHSCROLL | wxWANTS_CHARS),
      background_(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE))
{
    // The background is never erased on its own: the paint composes every pixel off screen.
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_SIZE, &CScrollWnd::OnSize, this);
    Bind(wxEVT_PAINT, &CScrollWnd::OnPaint, this);
    Bind(wxEVT_ERASE_BACKGROUND, &CScrollWnd::OnEraseBackground, this);
    Bind(wxEVT_MOUSEWHEEL, &CScrollWnd::OnMouseWheel, this);
    Bind(wxEVT_KEY_DOWN, &CScrollWnd::OnKeyDown, this);
    for (const auto& type : {wxEVT_SCROLLWIN_TOP, wxEVT_SCROLLWIN_BOTTOM, wxEVT_SCROLLWIN_LINEUP,
                             wxEVT_SCROLLWIN_LINEDOWN, wxEVT_SCROLLWIN_PAGEUP, wxEVT_SCROLLWIN_PAGEDOWN,
                             wxEVT_SCROLLWIN_THUMBTRACK, wxEVT_SCROLLWIN_THUMBRELEASE})
        Bind(type, &CScrollWnd::OnScroll, this);
}

void CScrollWnd::UpdateScrollBars()
{
    totalSizePending = false;  // one logical unit is one pixel: nothing to convert
    if (pageSize.x == 0 && pageSize.y == 0)
        pageSize = GetClientSize();
    // A bar's range is 0 .. maximum inclusive, maximum being the total (or page - 1 when there
    // is no content); the toolkit keeps the position within it and hides a bar with nothing to do.
    bool moved = false;
    for (int orientation : {wxHORIZONTAL, wxVERTICAL}) {
        const int total = Total(orientation);
        const int page = Page(orientation);
        const int maximum = total != 0 ? total : page - 1;
        int& shown = shown_[Index(orientation)];
        SetScrollbar(orientation, std::min(shown, std::max(0, maximum + 1 - page)), page, maximum + 1, true);
        const int now = GetScrollPos(orientation);
        moved = moved || now != shown;
        shown = now;
    }
    if (moved)
        Refresh(false);  // the content follows a bar that its new range moved
}

void CScrollWnd::ClientToLogical(wxPoint& point) const
{
    point.x += ScrollPosition(wxHORIZONTAL);
    point.y += ScrollPosition(wxVERTICAL);
}

void CScrollWnd::ScrollTo(int orientation, int target)
{
    int& shown = shown_[Index(orientation)];
    const int limit = std::max(0, GetScrollRange(orientation) - GetScrollThumb(orientation));
    SetScrollPos(orientation, std::clamp(target, 0, limit), true);
    const int now = GetScrollPos(orientation);
    const int delta = shown - now;
    shown = now;
    if (delta == 0)
        return;
    const int dx = orientation == wxHORIZONTAL ? delta : 0;
    const int dy = orientation == wxVERTICAL ? delta : 0;
    ScrollWindow(dx, dy);
    OnScrolled(dx, dy);
}

void CScrollWnd::OnScrollCode(int orientation, wxEventType code, int trackPosition)
{
    const int current = ScrollPosition(orientation);
    int target = current;
    if (code == wxEVT_SCROLLWIN_LINEUP)
        target = current - Line(orientation);
    else if (code == wxEVT_SCROLLWIN_LINEDOWN)
        target = current + Line(orientation);
    else if (code == wxEVT_SCROLLWIN_PAGEUP)
        target = current - Page(orientation);
    else if (code == wxEVT_SCROLLWIN_PAGEDOWN)
        target = current + Page(orientation);
    else if (code == wxEVT_SCROLLWIN_THUMBTRACK || code == wxEVT_SCROLLWIN_THUMBRELEASE)
        target = trackPosition;  // the toolkit's position is a full int, never cut to 16 bits
    else if (code == wxEVT_SCROLLWIN_TOP)
        target = 0;
    else if (code == wxEVT_SCROLLWIN_BOTTOM)
        target = Total(orientation) - Page(orientation);
    else
        return;
    // Even when the content stays, the bar is set: the toolkit may have moved it elsewhere.
    ScrollTo(orientation, target);
}

void CScrollWnd::OnScroll(wxScrollWinEvent& event)
{
    OnScrollCode(event.GetOrientation(), event.GetEventType(), event.GetPosition());
}

void CScrollWnd::OnSize(wxSizeEvent& event)
{
    event.Skip();
    const wxSize client = GetClientSize();
    if (client.x <= 0 && client.y <= 0)
        return;  // minimised
    pageSize = client;
    UpdateScrollBars();
}

const wxBitmap& CScrollWnd::ComposeBuffer(const wxRect& box)
{
    const wxRect contentClip(box.x + ScrollPosition(wxHORIZONTAL), box.y + ScrollPosition(wxVERTICAL), box.width,
                             box.height);
    // The buffer is kept from one paint to the next and only made anew when it is too small:
    // making a window-sized surface costs more than painting it. It has the window's own pixels
    // (twice as many each way on a display scaled by two), so text and pictures stay sharp.
    const double scale = GetContentScaleFactor();
    const bool sameScale = backBuffer_.IsOk() && backBuffer_.GetScaleFactor() == scale;
    const wxSize kept = sameScale ? wxSize(static_cast<int>(backBuffer_.GetLogicalWidth()),
                                           static_cast<int>(backBuffer_.GetLogicalHeight()))
                                  : wxSize(0, 0);
    if (kept.x < box.width || kept.y < box.height) {
        backBuffer_ = wxBitmap();
        backBuffer_.CreateScaled(std::max(box.width, kept.x), std::max(box.height, kept.y), wxBITMAP_SCREEN_DEPTH, scale);
    }
    wxMemoryDC memory(backBuffer_);
    memory.SetDeviceOrigin(-contentClip.x, -contentClip.y);
    // No clipping region: it would slow every drawing call, and what is drawn past the update
    // rectangle lands outside the part of the buffer that is copied.
    FillBackground(memory, contentClip);
    OnDraw(memory, contentClip);
    memory.SelectObject(wxNullBitmap);
    return backBuffer_;
}

void CScrollWnd::PaintNow(const wxRect& clientRect)
{
    const wxRect box = clientRect.Intersect(wxRect(GetClientSize()));
    if (box.IsEmpty() || !IsShownOnScreen())
        return;
    static const bool direct = DrawsOutsidePaint();
    if (!doubleBuffered || !direct) {
        RefreshRect(box, false);
        Update();
        return;
    }
    const wxBitmap& buffer = ComposeBuffer(box);
    wxClientDC dc(this);
    wxMemoryDC memory;
    memory.SelectObjectAsSource(buffer);
    dc.Blit(box.x, box.y, box.width, box.height, &memory, 0, 0);
}

void CScrollWnd::FillBackground(wxDC& dc, const wxRect& contentClip)
{
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(background_));
    dc.DrawRectangle(contentClip);
}

void CScrollWnd::OnPaint(wxPaintEvent&)
{
    wxPaintDC dc(this);
    const wxRect box = GetUpdateRegion().GetBox();
    if (box.IsEmpty())
        return;
    if (!doubleBuffered) {
        const wxPoint origin(ScrollPosition(wxHORIZONTAL), ScrollPosition(wxVERTICAL));
        dc.SetDeviceOrigin(-origin.x, -origin.y);
        OnDraw(dc, wxRect(box.x + origin.x, box.y + origin.y, box.width, box.height));
        return;
    }
    // The update rectangle is composed off screen and copied in one blit.
    const wxBitmap& buffer = ComposeBuffer(box);
    wxMemoryDC memory;
    memory.SelectObjectAsSource(buffer);
    dc.Blit(box.x, box.y, box.width, box.height, &memory, 0, 0);
}

void CScrollWnd::OnEraseBackground(wxEraseEvent& event)
{
    if (!doubleBuffered) {
        wxDC* dc = event.GetDC();
        dc->SetBrush(wxBrush(background_));
        dc->SetPen(*wxTRANSPARENT_PEN);
        dc->DrawRectangle(GetClientRect());
    }
}

int CScrollWnd::WheelScrollLines(const wxMouseEvent& event)
{
    static int cached = 0;
    if (cached == 0)
        cached = event.GetLinesPerAction() > 0 ? event.GetLinesPerAction() : 3;
    return cached;
}

void CScrollWnd::OnMouseWheel(wxMouseEvent& event)
{
    // Every wheel event is consumed: one that is passed on makes the toolkit move the bar itself.
    // With a modifier or a button held, or about the other axis, the wheel does nothing.
    const int lines = WheelScrollLines(event);
    if (event.ShiftDown() || event.ControlDown() || event.LeftIsDown() || event.RightIsDown() ||
        event.MiddleIsDown() || event.GetWheelAxis() != wxMOUSE_WHEEL_VERTICAL)
        return;
    const int current = ScrollPosition(wxVERTICAL);
    const int target = current + (event.GetWheelRotation() * lineSize.y * lines) / -120;
    if (target != current)
        ScrollTo(wxVERTICAL, target);
}

void CScrollWnd::OnKeyDown(wxKeyEvent& event)
{
    // A key handled here is consumed, so that the toolkit's own scrolling keys do not act again.
    const int current = ScrollPosition(wxVERTICAL);
    switch (event.GetKeyCode()) {
    case WXK_PAGEUP:
        if (pageSize.y != 0)
            ScrollTo(wxVERTICAL, current - pageSize.y);
        break;
    case WXK_PAGEDOWN:
        if (pageSize.y != 0)
            ScrollTo(wxVERTICAL, current + pageSize.y);
        break;
    case WXK_UP:
        if (lineSize.y != 0)
            ScrollTo(wxVERTICAL, current - lineSize.y);
        break;
    case WXK_DOWN:
        if (lineSize.y != 0)
            ScrollTo(wxVERTICAL, current + lineSize.y);
        break;
    case WXK_HOME:
        ScrollTo(wxVERTICAL, 0);
        break;
    case WXK_END:
        ScrollTo(wxVERTICAL, totalSize.y - pageSize.y);
        break;
    default:
        event.Skip();
        break;
    }
}
