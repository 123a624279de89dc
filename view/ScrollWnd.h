#pragma once
#include <wx/bitmap.h>
#include <wx/window.h>

class wxDC;

// A child window with its own scroll bars over a content of `totalSize` pixels: scrolls by line,
// page, thumb, keys and wheel, and paints through an off-screen buffer the size of the update
// rectangle, so nothing flickers. Derived windows paint the content in OnDraw.
class CScrollWnd : public wxWindow {
public:
    CScrollWnd(wxWindow* parent, wxWindowID id, long style);

    void UpdateScrollBars();
    // Client pixels to content coordinates, in place.
    void ClientToLogical(wxPoint& point) const;
    // Where the content is shown: the content coordinate at the client's top or left edge.
    int ScrollPosition(int orientation) const { return shown_[Index(orientation)]; }

    // Scrolls one bar to `target` (the bar clamps it) and moves the contents to the bar.
    void ScrollTo(int orientation, int target);
    // The scroll a bar's code asks for, counted from where the content is shown: the toolkit
    // may have moved the bar by its own amount before it tells.
    void OnScrollCode(int orientation, wxEventType code, int trackPosition);
    // Composes a client rectangle off screen exactly as a paint does; the returned buffer's
    // top-left part of the rectangle's size holds it (the buffer is kept for the next paint).
    const wxBitmap& ComposeBuffer(const wxRect& clientRect);
    // Paints a client rectangle now and shows it: composed as a paint does and drawn straight
    // onto the window where the display allows that (X11), outside the toolkit's paint cycle,
    // whose own cost (a temporary surface, the widgets walked, round trips to the X server) is
    // more than a small rectangle's pixels; elsewhere refreshed and painted at once. For a
    // change to one cell that must show at once, such as a picture that follows the pointer.
    void PaintNow(const wxRect& clientRect);
    // Lines per wheel notch; the toolkit's value where it reports one.
    static int WheelScrollLines(const wxMouseEvent& event);

    wxSize totalSize{0, 0};
    bool totalSizePending = false;
    wxSize pageSize{0, 0};
    wxSize lineSize{10, 10};
    bool doubleBuffered = true;

protected:
    // Paints the content; the surface's origin is set so that content coordinates can be used.
    virtual void OnDraw(wxDC& dc, const wxRect& contentClip) = 0;
    virtual void OnScrolled(int /*dx*/, int /*dy*/) {}
    // Fills what the content leaves uncovered with the background colour; by default all of it.
    virtual void FillBackground(wxDC& dc, const wxRect& contentClip);
    virtual void OnSize(wxSizeEvent& event);

    wxColour background_;

private:
    wxBitmap backBuffer_;

    void OnScroll(wxScrollWinEvent& event);
    void OnPaint(wxPaintEvent& event);
    void OnEraseBackground(wxEraseEvent& event);
    void OnMouseWheel(wxMouseEvent& event);
    void OnKeyDown(wxKeyEvent& event);
    int Total(int orientation) const { return orientation == wxVERTICAL ? totalSize.y : totalSize.x; }
    int Page(int orientation) const { return orientation == wxVERTICAL ? pageSize.y : pageSize.x; }
    int Line(int orientation) const { return orientation == wxVERTICAL ? lineSize.y : lineSize.x; }
    static int Index(int orientation) { return orientation == wxVERTICAL ? 1 : 0; }

    // The content position shown, per orientation (horizontal, vertical). The bar can run ahead
    // of it between the toolkit's move and the scroll event that tells of it.
    int shown_[2] = {0, 0};
};
