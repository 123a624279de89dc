#pragma once
#include <wx/bitmap.h>
#include <wx/colour.h>
#include <wx/font.h>

#include <string>
#include <unordered_map>

// Rendered one-line labels, kept between paints. Laying out and drawing text costs more than
// all of a cell's pixels together, and a scrolling grid shows the same labels again and again,
// so each label is drawn once onto its background colour and then only copied.
class CLabelCache {
public:
    // The label drawn on `background`, cut to at most `maxWidth` pixels; `cutLeft` is how many
    // pixels were cut on the left (labels centred in a narrower box lose both ends).
    struct Label {
        wxBitmap bitmap;
        int textWidth = 0;
        int textHeight = 0;
    };
    // `fontId` names the font among the few the caller uses (a caption's, a label's).
    const Label& Get(const std::string& text, int fontId, const wxFont& font, const wxColour& background);
    // The pixels per grid pixel of the surface the labels are drawn on: labels made for another
    // are made again.
    void SetScale(double scale);

private:
    double scale_ = 1.0;
    static constexpr std::size_t kMaxLabels = 4096;
    std::unordered_map<std::string, Label> labels_;
};
