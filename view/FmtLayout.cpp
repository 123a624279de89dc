#include "view/FmtLayout.h"

#include "model/AVCHDDoc.h"
#include "settings/Settings.h"

#include <algorithm>
#include <cstdlib>

std::int32_t CFmtItem::nextItemId = 0;

namespace {

const ThumbnailEntry* EntryOf(const CThumbnailSet* thumbnails, std::uint32_t index)
{
    if (thumbnails == nullptr || index >= static_cast<std::uint32_t>(thumbnails->GetCount()))
        return nullptr;
    return thumbnails->GetEntry(static_cast<int>(index));
}

std::int32_t IdOf(const IFmtItem* item)
{
    return static_cast<const CFmtItem*>(item)->Id();
}

// Every file of the clip in a cell, in order.
void AddClipPath(const IFmtItem& item, std::vector<std::string>& paths)
{
    const auto* clip = dynamic_cast<const CFmtClip*>(&item);
    if (clip != nullptr && clip->Clips() != nullptr)
        clip->Clips()->GetRecordingPaths(static_cast<int>(clip->Index()), paths);
}

// The pen that flows cells left to right and opens rows and captions.
struct Flow {
    std::int32_t x = CFmtLayout::kMargin;
    std::int32_t y = 0;
    std::int32_t rowHeight = 0;
    CFmtCaption* caption = nullptr;
    int lastDateKey = 0;
};

}  // namespace

bool CFmtClip::Select()
{
    ThumbnailEntry* entry = const_cast<ThumbnailEntry*>(EntryOf(thumbnails_, index_));
    if (entry == nullptr)
        return false;
    entry->selected = true;
    return true;
}

void CFmtClip::Deselect()
{
    if (ThumbnailEntry* entry = const_cast<ThumbnailEntry*>(EntryOf(thumbnails_, index_)))
        entry->selected = false;
}

bool CFmtClip::IsSelected() const
{
    const ThumbnailEntry* entry = EntryOf(thumbnails_, index_);
    return entry != nullptr && entry->selected;
}

void CFmtLayout::Clear()
{
    items_.clear();
    cells_.clear();
    captions_.clear();
    tallestItem_ = 0;
    CFmtItem::nextItemId = 0;
}

void CFmtLayout::Build()
{
    Clear();
    height = 0;
    if (document_ == nullptr)
        return;
    const bool splitDates = settings::SplitDates.Read();
    // Upper bounds: a cell a slot, a caption a directory and one more a shown clip.
    std::size_t slots = 0;
    for (int d = 0; d < document_->GetDirectoryCount(); ++d) {
        const auto directory = document_->GetDirectory(d);  // a directory may have no clip list
        slots += static_cast<std::size_t>(directory->clips ? directory->clips->GetCount()
                                                           : directory->thumbnails ? directory->thumbnails->GetCount() : 0);
    }
    const std::size_t directories = static_cast<std::size_t>(document_->GetDirectoryCount());
    cells_.reserve(slots);
    captions_.reserve(directories + (splitDates ? slots : 0));
    items_.reserve(slots + captions_.capacity());
    Flow flow;
    auto addCaption = [&](std::string text) {
        if (flow.y > 0)
            flow.y += kCaptionSpacing;
        captions_.emplace_back(FmtRect{0, flow.y, width, flow.y + kCaptionHeight}, std::move(text));
        flow.caption = &captions_.back();
        tallestItem_ = std::max(tallestItem_, static_cast<std::int32_t>(kCaptionHeight));
        items_.push_back(flow.caption);
        flow.y += kCaptionAdvance;
        flow.x = kMargin;
    };

    for (int d = 0; d < document_->GetDirectoryCount(); ++d) {
        const boost::shared_ptr<CAVCHDDoc::VideoDirectory> directory = document_->GetDirectory(d);
        if (!splitDates)
            addCaption(directory->path);
        CClipDetails* clips = directory->clips.get();
        CThumbnailSet* thumbnails = directory->thumbnails.get();
        if (clips == nullptr && thumbnails == nullptr)
            continue;
        flow.rowHeight = 0;
        const int count = clips != nullptr ? clips->GetCount() : thumbnails->GetCount();
        for (int i = 0; i < count; ++i) {
            std::int32_t pictureWidth = 0, pictureHeight = 0;
            const bool pictured = thumbnails != nullptr && thumbnails->GetSize(i, pictureWidth, pictureHeight);
            // A file that continues a split recording is shown in its recording's cell.
            const CClipDetails::ClipEntry* clip = clips != nullptr ? clips->GetEntry(i) : nullptr;
            const bool shown = clips != nullptr ? clip != nullptr && !clips->IsContinuation(i) : pictured;
            if (!shown)
                continue;
            if (splitDates && clip != nullptr) {
                const int key = clip->dateKey;
                if (key != flow.lastDateKey) {
                    flow.y += flow.rowHeight;
                    flow.rowHeight = 0;
                    addCaption(directory->path + " (" + clips->FormatDate(i) + ")");
                    flow.lastDateKey = key;
                }
            }
            std::int32_t w = kPlaceholderWidth, h = kPlaceholderHeight;
            if (pictured) {
                w = pictureWidth + 2 * kPictureBorder;
                h = pictureHeight + 2 * kPictureBorder + kLabelHeight;
            }
            flow.rowHeight = std::max(flow.rowHeight, h + kMargin);  // before the wrap test
            if (flow.x > kMargin && flow.x + w > width - kMargin) {
                flow.y += flow.rowHeight;
                flow.x = kMargin;
                flow.rowHeight = h + kMargin;
            }
            cells_.emplace_back(FmtRect{flow.x, flow.y, flow.x + w, flow.y + h}, clips, thumbnails,
                                static_cast<std::uint32_t>(i));
            const std::int32_t id = cells_.back().Id();
            tallestItem_ = std::max(tallestItem_, h);
            items_.push_back(&cells_.back());
            flow.x += w + kMargin;
            if (flow.caption != nullptr) {
                if (flow.caption->firstClipId == 0) {
                    flow.caption->firstClipId = id;
                    flow.caption->lastClipId = id;
                } else {
                    flow.caption->firstClipId = std::min(flow.caption->firstClipId, id);
                    flow.caption->lastClipId = std::max(flow.caption->lastClipId, id);
                }
            }
        }
        flow.y += flow.rowHeight;
        flow.x = kMargin;
    }
    height = flow.y;
}

std::pair<std::size_t, std::size_t> CFmtLayout::ItemsBetween(std::int32_t top, std::int32_t bottom) const
{
    // Item tops never decrease in list order and no item is taller than the tallest, so the
    // first item that can reach the rows is found by bisection and the range ends at the first
    // item below them: a repaint costs what it shows, not what the layout holds.
    const std::int64_t lowestTop = static_cast<std::int64_t>(top) - tallestItem_;
    std::size_t first = 0, last = items_.size();
    while (first < last) {
        const std::size_t middle = (first + last) / 2;
        if (items_[middle]->GetRect().top < lowestTop)
            first = middle + 1;
        else
            last = middle;
    }
    std::size_t end = first;
    while (end < items_.size() && items_[end]->GetRect().top < bottom)
        ++end;
    return {first, end};
}

void CFmtLayout::PaintAll(CFmtPaintContext& context) const
{
    const FmtRect clip = context.ClipBox();
    const auto [first, end] = ItemsBetween(clip.top, clip.bottom);
    for (std::size_t i = first; i < end; ++i) {
        const FmtRect& r = items_[i]->GetRect();
        if (r.bottom > clip.top)
            items_[i]->Paint(context);
    }
}

std::vector<FmtRect> CFmtLayout::UncoveredParts(const FmtRect& area) const
{
    std::vector<FmtRect> parts;
    auto add = [&](std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom) {
        FmtRect r{std::max(left, area.left), std::max(top, area.top), std::min(right, area.right),
                  std::min(bottom, area.bottom)};
        if (r.left < r.right && r.top < r.bottom)
            parts.push_back(r);
    };
    const auto [first, end] = ItemsBetween(area.top, area.bottom);
    std::int32_t y = area.top;  // everything above y is accounted for
    for (std::size_t i = first; i < end;) {
        // One row: the items that share a top.
        const std::int32_t rowTop = items_[i]->GetRect().top;
        std::size_t rowEnd = i;
        std::int32_t rowBottom = rowTop;
        while (rowEnd < end && items_[rowEnd]->GetRect().top == rowTop)
            rowBottom = std::max(rowBottom, items_[rowEnd++]->GetRect().bottom);
        if (rowBottom <= y) {
            i = rowEnd;
            continue;
        }
        add(area.left, y, area.right, rowTop);  // the gap above the row
        const std::int32_t bandTop = std::max(y, rowTop);
        std::int32_t x = area.left;
        for (std::size_t k = i; k < rowEnd; ++k) {
            const FmtRect& r = items_[k]->GetRect();
            add(x, bandTop, r.left, rowBottom);      // left of the item
            add(r.left, r.bottom, r.right, rowBottom);  // under a shorter item
            x = std::max(x, r.right);
        }
        add(x, bandTop, area.right, rowBottom);  // right of the row
        y = std::max(y, rowBottom);
        i = rowEnd;
    }
    add(area.left, y, area.right, area.bottom);  // below the last row
    return parts;
}

IFmtItem* CFmtLayout::HitTest(std::int32_t x, std::int32_t y) const
{
    for (const auto& item : items_)
        if (item->GetRect().Contains(x, y))
            return item;
    return nullptr;
}

const CFmtClip* CFmtLayout::FirstClipBelow(std::int32_t top) const
{
    for (std::size_t i = ItemsBetween(top, top + 1).first; i < items_.size(); ++i) {
        const auto* clip = dynamic_cast<const CFmtClip*>(items_[i]);
        if (clip != nullptr && clip->GetRect().bottom > top)
            return clip;
    }
    return nullptr;
}

CFmtClip* CFmtLayout::FindClip(const CClipDetails* clips, std::uint32_t index) const
{
    for (const auto& item : items_) {
        auto* clip = dynamic_cast<CFmtClip*>(item);
        if (clip != nullptr && clip->Clips() == clips && clip->Index() == index)
            return clip;
    }
    return nullptr;
}

CFmtClip* CFmtLayout::FindClipOfFile(const std::string& path) const
{
    std::vector<std::string> files;
    for (const auto& item : items_) {
        files.clear();
        AddClipPath(*item, files);
        if (std::find(files.begin(), files.end(), path) != files.end())
            return static_cast<CFmtClip*>(item);
    }
    return nullptr;
}

void CFmtLayout::SetSelected(IFmtItem* item, IRepainter* repainter, bool select, bool noExpand)
{
    if (item == nullptr)
        return;
    if (!noExpand) {
        if (const auto* caption = dynamic_cast<const CFmtCaption*>(item)) {
            for (const auto& other : items_) {
                const std::int32_t id = IdOf(other);
                if (id >= caption->firstClipId && id <= caption->lastClipId)
                    SetSelected(other, repainter, select, true);
            }
        }
    }
    if (select) {
        if (item->Select() && repainter != nullptr)
            repainter->Repaint(item->GetRect());
    } else if (item->IsSelected()) {
        item->Deselect();
        if (repainter != nullptr)
            repainter->Repaint(item->GetRect());
    }
}

IFmtItem* CFmtLayout::FindNearest(const IFmtItem* target, bool wantSelected) const
{
    if (target == nullptr)
        return nullptr;
    const std::int32_t targetId = IdOf(target);
    IFmtItem* best = nullptr;
    std::int64_t bestDistance = 0;
    for (const auto& item : items_) {
        if (item->IsSelected() != wantSelected)
            continue;
        const std::int64_t distance = std::llabs(static_cast<std::int64_t>(IdOf(item)) - targetId);
        if (best == nullptr || distance < bestDistance) {
            best = item;
            bestDistance = distance;
        }
    }
    return best;
}

void CFmtLayout::SelectRange(IFmtItem* target, bool select, IRepainter* repainter)
{
    if (target == nullptr)
        return;
    const IFmtItem* anchor = FindNearest(target, select);
    if (anchor == nullptr) {
        SetSelected(target, repainter, select, true);
        return;
    }
    const std::int32_t low = std::min(IdOf(anchor), IdOf(target));
    const std::int32_t high = std::max(IdOf(anchor), IdOf(target));
    for (const auto& item : items_) {
        const std::int32_t id = IdOf(item);
        if (id >= low && id <= high)
            SetSelected(item, repainter, select, true);
    }
}

void CFmtLayout::DeselectAll(IRepainter* repainter)
{
    for (const auto& item : items_) {
        if (!item->IsSelected())
            continue;
        item->Deselect();
        if (repainter != nullptr)
            repainter->Repaint(item->GetRect());
    }
}

void CFmtLayout::SelectAll(IRepainter* repainter)
{
    for (const auto& item : items_)
        SetSelected(item, repainter, true, true);
}

bool CFmtLayout::AnySelected() const
{
    for (const auto& item : items_)
        if (item->IsSelected())
            return true;
    return false;
}

void CFmtLayout::CollectSelectedPaths(std::vector<std::string>& paths) const
{
    for (const auto& item : items_)
        if (item->IsSelected())
            AddClipPath(*item, paths);
}

void CFmtLayout::CollectAllPaths(std::vector<std::string>& paths) const
{
    for (const auto& item : items_)
        AddClipPath(*item, paths);
}

void CFmtLayout::CollectPathsBetween(std::int32_t top, std::int32_t bottom, std::vector<std::string>& paths) const
{
    const auto [first, last] = ItemsBetween(top, bottom);
    for (std::size_t i = first; i < last && i < items_.size(); ++i) {
        const FmtRect& rect = items_[i]->GetRect();
        if (rect.bottom > top && rect.top < bottom)
            AddClipPath(*items_[i], paths);
    }
}
