#pragma once
#include "view/FmtItem.h"

#include <memory>
#include <utility>
#include <string>
#include <vector>

class CAVCHDDoc;

// The clip grid's items: caption bars and clip cells flowed left to right at `width`, with hit
// testing and the selection operations the mouse uses. Items point into the document's
// directories, so the layout is cleared before the document drops them.
class CFmtLayout {
public:
    explicit CFmtLayout(const CAVCHDDoc* document = nullptr) : document_(document) {}

    void SetDocument(const CAVCHDDoc* document) { document_ = document; }
    void Clear();
    void Build();
    void PaintAll(CFmtPaintContext& context) const;
    // The index range of the items that can reach into the rows [top, bottom).
    std::pair<std::size_t, std::size_t> ItemsBetween(std::int32_t top, std::int32_t bottom) const;
    // The parts of a content rectangle that no item covers, as rectangles: where the background
    // shows. Together with the items they cover the rectangle exactly once.
    std::vector<FmtRect> UncoveredParts(const FmtRect& area) const;
    IFmtItem* HitTest(std::int32_t x, std::int32_t y) const;
    // The first clip cell that reaches below the row `top`: the clip at the top of a view.
    const CFmtClip* FirstClipBelow(std::int32_t top) const;
    // The cell of a clip, by its list and slot, or by any of its files.
    CFmtClip* FindClip(const CClipDetails* clips, std::uint32_t index) const;
    CFmtClip* FindClipOfFile(const std::string& path) const;

    void SetSelected(IFmtItem* item, IRepainter* repainter, bool select, bool noExpand);
    void SelectRange(IFmtItem* target, bool select, IRepainter* repainter);
    void DeselectAll(IRepainter* repainter);
    // Every clip that can be selected (one with a picture).
    void SelectAll(IRepainter* repainter);
    bool AnySelected() const;
    IFmtItem* FindNearest(const IFmtItem* target, bool wantSelected) const;
    // The paths of the clips' files, in grid order: a split recording gives every file it has.
    void CollectSelectedPaths(std::vector<std::string>& paths) const;
    void CollectAllPaths(std::vector<std::string>& paths) const;
    // The paths of the clips whose cells reach into the rows [top, bottom), in grid order.
    void CollectPathsBetween(std::int32_t top, std::int32_t bottom, std::vector<std::string>& paths) const;

    std::int32_t width = 0;
    std::int32_t height = 0;
    // Captions and cells in grid order.
    const std::vector<IFmtItem*>& Items() const { return items_; }

    // Geometry of the grid.
    static constexpr int kMargin = 2;            // left margin and gap between cells and rows
    static constexpr int kCaptionHeight = 30;
    static constexpr int kCaptionAdvance = 32;   // caption plus the gap below it
    static constexpr int kCaptionSpacing = 15;   // above every caption but the first
    static constexpr int kPictureBorder = 4;     // around the picture inside a cell
    static constexpr int kLabelHeight = 16;      // label band under the picture
    static constexpr int kPlaceholderWidth = 416;
    static constexpr int kPlaceholderHeight = 100;

private:
    const CAVCHDDoc* document_;
    // The items themselves, in arrays reserved before each layout so that they never move and
    // their memory is reused from layout to layout: a grid of 40,000 clips makes no
    // allocation per item, and its items lie side by side in memory.
    std::vector<CFmtCaption> captions_;
    std::vector<CFmtClip> cells_;
    std::vector<IFmtItem*> items_;
    std::int32_t tallestItem_ = 0;
};
