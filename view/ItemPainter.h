#pragma once
#include <vector>
#include "view/FmtItem.h"

#include <wx/font.h>

class wxDC;
class wxBitmap;
class CLabelCache;

namespace view_colours {
inline const unsigned char kCaption[3] = {255, 255, 128};
inline const unsigned char kClip[3] = {204, 192, 224};
inline const unsigned char kSelectedClip[3] = {192, 128, 255};
inline const unsigned char kImportedMark[3] = {0, 150, 70};  // the disc on an imported clip
}  // namespace view_colours

// Fills rectangles of one colour: through one path and one fill where the DC draws through a
// graphics context (each fill of its own has a fixed cost that outweighs its pixels), else one
// rectangle at a time.
void FillRectangles(wxDC& dc, const wxColour& colour, const std::vector<wxRect>& rectangles);

// Shows something else in a clip's picture place for a while (a frame of the recording being
// skimmed): the bitmap, of the picture's size, and what is drawn over it.
class IPictureOverride {
public:
    virtual ~IPictureOverride() = default;
    // Null: the clip's own picture.
    virtual const wxBitmap* PictureFor(const CFmtClip& clip) const = 0;
    // Draws over the picture in its place (content coordinates).
    virtual void DecoratePicture(wxDC& dc, const CFmtClip& clip, const wxRect& picture) const = 0;
};

// Paints caption bars and clip cells on a wxDC whose origin puts content coordinates in place:
// the paint context of the clip grid.
class CItemPainter : public CFmtPaintContext {
public:
    // The fonts: "Arial Bold" 12 pt for captions and "Arial" 8 pt for labels; fontconfig puts
    // the metric twin in Arial's place.
    struct Fonts {
        wxFont caption{wxFontInfo(12).FaceName("Arial").Bold()};
        wxFont label{wxFontInfo(8).FaceName("Arial")};
    };

    CItemPainter(wxDC& dc, const wxRect& contentClip, CLabelCache& labels, const Fonts& fonts,
                 const IPictureOverride* pictureOverride = nullptr);

    FmtRect ClipBox() const override;
    void PaintCaption(const CFmtCaption& caption) override;
    void PaintClip(const CFmtClip& clip) override;

private:
    // A green disc with a white tick in the cell's top right corner: the recording is imported.
    void DrawImportedMark(const wxRect& cell);
    void DrawLabel(const std::string& text, int fontId, const wxFont& font, const wxColour& background,
                   const wxRect& box, bool centred);

    wxDC& dc_;
    wxRect clip_;
    CLabelCache& labels_;
    const Fonts& fonts_;
    const IPictureOverride* override_;
};
