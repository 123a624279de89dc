#include "view/ItemPainter.h"

#include "model/ClipDetails.h"
#include "model/ThumbnailSet.h"
#include "platform/Format.h"
#include "platform/Utf8.h"
#include "view/FmtLayout.h"
#include "view/ThumbnailBitmap.h"

#include <wx/dc.h>

namespace {

wxColour Colour(const unsigned char (&rgb)[3])
{
    return wxColour(rgb[0], rgb[1], rgb[2]);
}

wxRect ToRect(const FmtRect& r)
{
    return wxRect(r.left, r.top, r.Width(), r.Height());
}

// Draws one line of text in a rectangle, clipped to it.
void DrawClippedLabel(wxDC& dc, const std::string& text, const wxRect& rect, int alignment)
{
    if (rect.IsEmpty())
        return;
    wxDCClipper clipper(dc, rect);
    const wxString shown = wxString::FromUTF8(platform::DisplayUtf8(text));
    const wxSize extent = dc.GetTextExtent(shown);
    const int y = rect.y + (rect.height - extent.y) / 2;
    const int x = (alignment & wxALIGN_CENTER_HORIZONTAL) ? rect.x + (rect.width - extent.x) / 2 : rect.x;
    dc.DrawText(shown, x, y);
}

}  // namespace

CItemPainter::CItemPainter(wxDC& dc, const wxRect& contentClip)
    : dc_(dc),
      clip_(contentClip),
      // "Arial Bold" 12 pt and "Arial" 8 pt; fontconfig puts the metric twin in Arial's place.
      captionFont_(wxFontInfo(12).FaceName("Arial").Bold()),
      labelFont_(wxFontInfo(8).FaceName("Arial"))
{
    dc_.SetTextForeground(*wxBLACK);
    dc_.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
}

FmtRect CItemPainter::ClipBox() const
{
    return FmtRect{clip_.x, clip_.y, clip_.x + clip_.width, clip_.y + clip_.height};
}

void CItemPainter::PaintCaption(const CFmtCaption& caption)
{
    const wxRect rect = ToRect(caption.GetRect());
    dc_.SetPen(*wxTRANSPARENT_PEN);
    dc_.SetBrush(wxBrush(Colour(view_colours::kCaption)));
    dc_.DrawRectangle(rect);
    dc_.SetFont(captionFont_);
    DrawClippedLabel(dc_, caption.Text(), wxRect(rect.x + 2, rect.y, rect.width - 4, rect.height), wxALIGN_LEFT);
}

void CItemPainter::PaintClip(const CFmtClip& clip)
{
    const ThumbnailEntry* entry = nullptr;
    if (clip.Thumbnails() != nullptr && clip.Index() < static_cast<std::uint32_t>(clip.Thumbnails()->GetCount()))
        entry = clip.Thumbnails()->GetEntry(static_cast<int>(clip.Index()));
    std::string label;
    if (entry != nullptr)
        label = platform::FormatString("Clip %d", entry->clipNumber);
    if (clip.Clips() != nullptr)
        clip.Clips()->FormatCaption(static_cast<int>(clip.Index()), label);

    const wxRect rect = ToRect(clip.GetRect());
    dc_.SetPen(*wxTRANSPARENT_PEN);
    dc_.SetBrush(wxBrush(Colour(clip.IsSelected() ? view_colours::kSelectedClip : view_colours::kClip)));
    dc_.DrawRectangle(rect);

    wxRect text = wxRect(rect).Deflate(CFmtLayout::kPictureBorder);
    if (entry != nullptr) {
        if (const wxBitmap* bitmap = ThumbnailBitmap(*entry))
            dc_.DrawBitmap(*bitmap, rect.x + CFmtLayout::kPictureBorder, rect.y + CFmtLayout::kPictureBorder, false);
        const int pictureHeight = entry->Height();
        text.y += pictureHeight;
        text.height -= pictureHeight;
    }
    dc_.SetFont(labelFont_);
    DrawClippedLabel(dc_, label, text, wxALIGN_CENTER_HORIZONTAL);
}
