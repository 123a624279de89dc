#pragma once
#include "view/FmtItem.h"

#include <wx/font.h>

class wxDC;
class wxBitmap;

namespace view_colours {
inline const unsigned char kCaption[3] = {255, 255, 128};
inline const unsigned char kClip[3] = {204, 192, 224};
inline const unsigned char kSelectedClip[3] = {192, 128, 255};
}  // namespace view_colours

// Paints caption bars and clip cells on a wxDC whose origin puts content coordinates in place:
// the paint context of the clip grid.
class CItemPainter : public CFmtPaintContext {
public:
    CItemPainter(wxDC& dc, const wxRect& contentClip);

    FmtRect ClipBox() const override;
    void PaintCaption(const CFmtCaption& caption) override;
    void PaintClip(const CFmtClip& clip) override;

private:
    wxDC& dc_;
    wxRect clip_;
    wxFont captionFont_;
    wxFont labelFont_;
};
