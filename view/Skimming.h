#pragma once
#include "thumbgen/StripCache.h"
#include "thumbgen/ThumbnailGenerator.h"
#include "view/FmtItem.h"
#include "view/ItemPainter.h"

#include <wx/bitmap.h>
#include <wx/timer.h>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class CScrollWnd;

// Skimming: while the pointer moves across a clip's picture, the picture shows the recording at
// the time the pointer's place stands for (the left edge its start, the right edge its end, every
// file of a split one), from a strip of key frames spread over it, about one per 24 pixels of
// the picture's width; a thin bar along the picture's foot shows where the frame lies. Until
// a frame is made, the nearest one made is shown, or the thumbnail: the pointer never waits.
// When the pointer leaves the picture, the thumbnail comes back.
//
// A strip is asked of the generator once the pointer rests on a clip, the frame under it made
// first; its frames are shown as they come. Strips are kept in memory (a bounded cache) and on
// disk, so the next visit skims at once. The SkimClips setting turns it off. UI thread only.
class CSkimming : public IPictureOverride {
public:
    CSkimming(CScrollWnd& view, CThumbnailGenerator& generator);
    ~CSkimming() override;
    CSkimming(const CSkimming&) = delete;
    CSkimming& operator=(const CSkimming&) = delete;

    // The pointer is at a content point over `clip` (null: over no clip).
    void PointerAt(const CFmtClip* clip, wxPoint contentPoint);
    // The pointer left the picture (or the window); its thumbnail comes back.
    void Leave();
    // The clips shown go (another folder): nothing of theirs is pointed at or asked for any more.
    void Forget();
    // Takes the strip frames made since the last call and shows those of the clip skimmed.
    void CollectFrames();

    const wxBitmap* PictureFor(const CFmtClip& clip) const override;
    void DecoratePicture(wxDC& dc, const CFmtClip& clip, const wxRect& picture) const override;

    // About one frame per this many pixels of a picture's width.
    static constexpr int kPixelsPerFrame = 24;
    // How long the pointer rests on a clip before its strip is asked for.
    static constexpr int kRestMilliseconds = 60;
    static constexpr int kBarHeight = 4;

private:
    // The clip skimmed: where its picture lies and what its strip is made of.
    struct Target {
        const CClipDetails* clips = nullptr;
        std::uint32_t index = 0;
        wxRect picture;  // content coordinates
        std::string key;
        StripRequest request;
    };
    bool Begin(const CFmtClip& clip, const wxRect& picture);
    void OnRest(wxTimerEvent& event);
    // Shows the frame made nearest the pointer's, when that changed.
    void ShowNearestFrame();
    void RepaintPicture();
    bool Skims(const CFmtClip& clip) const;
    int FrameCount() const;

    CScrollWnd& view_;
    CThumbnailGenerator& generator_;
    CStripFiles files_;
    CStripCache cache_{CStripCache::kDefaultCapacity, CStripCache::kDefaultByteCapacity};
    std::optional<Target> target_;
    std::optional<std::pair<const CClipDetails*, std::uint32_t>> declined_;  // the clip not skimmed
    std::shared_ptr<Strip> strip_;  // the target's, once it has a frame
    int pointerFrame_ = 0;           // the frame the pointer's place stands for
    int shownFrame_ = -1;            // the frame shown, or -1: the thumbnail
    // The target's frames decoded at its picture's size, made when first shown.
    mutable std::vector<std::unique_ptr<wxBitmap>> decoded_;
    std::map<std::string, std::string> requested_;  // asked for and not ended: the first file's path
    std::set<std::string> failed_;     // no more asked for while the program runs
    wxTimer restTimer_;
};
