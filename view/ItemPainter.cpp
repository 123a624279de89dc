#include "view/ItemPainter.h"

#include "model/ClipDetails.h"
#include "model/ThumbnailSet.h"
#include "platform/Format.h"
#include "platform/Utf8.h"
#include "view/FmtLayout.h"
#include "view/LabelCache.h"
#include "view/ThumbnailBitmap.h"

#include <wx/dc.h>
#include <wx/dcmemory.h>
#include <wx/graphics.h>

namespace {

wxColour Colour(const unsigned char (&rgb)[3])
{
    return wxColour(rgb[0], rgb[1], rgb[2]);
}

wxRect ToRect(const FmtRect& r)
{
    return wxRect(r.left, r.top, r.Width(), r.Height());
}

}  // namespace

void FillRectangles(wxDC& dc, const wxColour& colour, const std::vector<wxRect>& rectangles)
{
    if (wxGraphicsContext* context = dc.GetGraphicsContext()) {
        // The DC's origin is applied to its context's transform, so content coordinates stay.
        wxGraphicsPath path = context->CreatePath();
        for (const wxRect& r : rectangles)
            if (!r.IsEmpty())
                path.AddRectangle(r.x, r.y, r.width, r.height);
        context->SetPen(*wxTRANSPARENT_PEN);
        context->SetBrush(wxBrush(colour));
        context->FillPath(path);
        return;
    }
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(colour));
    for (const wxRect& r : rectangles)
        if (!r.IsEmpty())
            dc.DrawRectangle(r);
}

CItemPainter::CItemPainter(wxDC& dc, const wxRect& contentClip, CLabelCache& labels, const Fonts& fonts,
                           const IPictureOverride* pictureOverride)
    : dc_(dc), clip_(contentClip), labels_(labels), fonts_(fonts), override_(pictureOverride)
{
    dc_.SetTextForeground(*wxBLACK);
    dc_.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
}

void CItemPainter::DrawLabel(const std::string& text, int fontId, const wxFont& font, const wxColour& background,
                             const wxRect& box, bool centred)
{
    if (box.width <= 0 || box.height <= 0 || text.empty())
        return;
    // One line, vertically centred; left-aligned or centred; cut to the box (a centred label
    // longer than its box loses both ends).
    const CLabelCache::Label& label = labels_.Get(text, fontId, font, background);
    const int x = centred ? box.x + (box.width - label.textWidth) / 2 : box.x;
    const int y = box.y + (box.height - label.textHeight) / 2;
    const wxRect whole(x, y, label.textWidth, label.textHeight);
    if (box.Contains(whole)) {
        dc_.DrawBitmap(label.bitmap, x, y, false);
        return;
    }
    if (whole.Intersect(box).IsEmpty())
        return;
    wxDCClipper clipper(dc_, box);
    dc_.DrawBitmap(label.bitmap, x, y, false);
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
    DrawLabel(caption.Text(), 0, fonts_.caption, Colour(view_colours::kCaption),
              wxRect(rect.x + 2, rect.y, rect.width - 4, rect.height), false);
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
    const wxColour fill = Colour(clip.IsSelected() ? view_colours::kSelectedClip : view_colours::kClip);
    const wxBitmap* picture = entry != nullptr ? ThumbnailBitmap(*entry) : nullptr;
    const wxBitmap* replaced = picture != nullptr && override_ != nullptr ? override_->PictureFor(clip) : nullptr;
    if (replaced != nullptr && replaced->GetSize() == picture->GetSize())
        picture = replaced;
    const int border = CFmtLayout::kPictureBorder;
    if (picture != nullptr && picture->GetWidth() + 2 * border <= rect.width &&
        picture->GetHeight() + 2 * border <= rect.height) {
        // The cell's colour around the picture only: its pixels are written once.
        const int pw = picture->GetWidth(), ph = picture->GetHeight();
        FillRectangles(dc_, fill,
                       {wxRect(rect.x, rect.y, rect.width, border), wxRect(rect.x, rect.y + border, border, ph),
                        wxRect(rect.x + border + pw, rect.y + border, rect.width - border - pw, ph),
                        wxRect(rect.x, rect.y + border + ph, rect.width, rect.height - border - ph)});
        dc_.DrawBitmap(*picture, rect.x + border, rect.y + border, false);
        if (picture == replaced)
            override_->DecoratePicture(dc_, clip, wxRect(rect.x + border, rect.y + border, pw, ph));
    } else {
        FillRectangles(dc_, fill, {rect});
        if (picture != nullptr)
            dc_.DrawBitmap(*picture, rect.x + border, rect.y + border, false);
    }

    if (clip.Clips() != nullptr) {
        const CClipDetails::ClipEntry* details = clip.Clips()->GetEntry(static_cast<int>(clip.Index()));
        if (details != nullptr && !details->importedTo.empty())
            DrawImportedMark(rect);
    }

    wxRect text = wxRect(rect).Deflate(border);
    if (entry != nullptr) {
        const int pictureHeight = entry->Height();
        text.y += pictureHeight;
        text.height -= pictureHeight;
    }
    DrawLabel(label, 1, fonts_.label, fill, text, true);
}

void CItemPainter::DrawImportedMark(const wxRect& cell)
{
    constexpr int kDiameter = 18, kInset = 8;
    const wxPoint centre(cell.GetRight() - kInset - kDiameter / 2, cell.y + kInset + kDiameter / 2);
    dc_.SetPen(*wxTRANSPARENT_PEN);
    dc_.SetBrush(wxBrush(Colour(view_colours::kImportedMark)));
    dc_.DrawCircle(centre, kDiameter / 2);
    dc_.SetPen(wxPen(*wxWHITE, 2));
    const wxPoint tick[] = {centre + wxPoint(-5, 0), centre + wxPoint(-1, 4), centre + wxPoint(5, -4)};
    dc_.DrawLines(3, tick);
}
