#include "view/LabelCache.h"

#include "platform/Utf8.h"

#include <wx/dcmemory.h>

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
        wxMemoryDC measure;
        measure.SetFont(font);
        const wxSize extent = measure.GetTextExtent(shown);
        label.textWidth = std::max(1, extent.x);
        label.textHeight = std::max(1, extent.y);
    }
    label.bitmap = wxBitmap(label.textWidth, label.textHeight);
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
