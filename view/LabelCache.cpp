#include "view/LabelCache.h"

#include "platform/Utf8.h"

#include <wx/dcmemory.h>

void CLabelCache::SetScale(double scale)
{
    if (scale == scale_)
        return;
    scale_ = scale;
    labels_.clear();
}

const CLabelCache::Label& CLabelCache::Get(const std::string& text, int fontId, const wxFont& font,
                                           const wxColour& background)
{
    std::string key = text;
    key += '\x1f';
    key += std::to_string(fontId);
    key += '\x1f';
    key += std::to_string(background.GetRGB());
    if (auto found = labels_.find(key); found != labels_.end())
        return found->second;
    if (labels_.size() >= kMaxLabels)
        labels_.clear();  // a folder with more labels than this simply draws them again

    const wxString shown = wxString::FromUTF8(platform::DisplayUtf8(text));
    Label label;
    {
        // Measured on a surface of the scale it is drawn at: text laid out at twice the pixels
        // can come out wider than at one.
        wxBitmap probe;
        probe.CreateScaled(1, 1, wxBITMAP_SCREEN_DEPTH, scale_);
        wxMemoryDC measure(probe);
        measure.SetFont(font);
        const wxSize extent = measure.GetTextExtent(shown);
        label.textWidth = std::max(1, extent.x);
        label.textHeight = std::max(1, extent.y);
    }
    label.bitmap.CreateScaled(label.textWidth, label.textHeight, wxBITMAP_SCREEN_DEPTH, scale_);
    {
        wxMemoryDC dc(label.bitmap);
        dc.SetBackground(wxBrush(background));
        dc.Clear();
        dc.SetFont(font);
        dc.SetTextForeground(*wxBLACK);
        dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
        dc.DrawText(shown, 0, 0);
    }
    return labels_.emplace(std::move(key), std::move(label)).first->second;
}
