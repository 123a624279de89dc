#include "model/AVCHDDoc.h"
#include "settings/Settings.h"
#include "support/CardLayout.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "view/FmtLayout.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

constexpr std::int64_t kDay1 = 1236434709;        // 7 March 2009
constexpr std::int64_t kDay2 = kDay1 + 86400;     // 8 March 2009

struct RecordingRepainter : IRepainter {
    std::vector<FmtRect> rects;
    void Repaint(const FmtRect& rect) override { rects.push_back(rect); }
};

struct RecordingPaint : CFmtPaintContext {
    FmtRect clipBox;
    std::vector<const IFmtItem*> painted;
    FmtRect ClipBox() const override { return clipBox; }
    void PaintCaption(const CFmtCaption& c) override { painted.push_back(&c); }
    void PaintClip(const CFmtClip& c) override { painted.push_back(&c); }
};

class FmtLayoutTest : public ::testing::Test {
protected:
    FmtLayoutTest() : config_("XDG_CONFIG_HOME", dir_ / "config") {}

    // Loose clips in a folder, each written on the given day.
    void Folder(const std::string& name, const std::vector<std::int64_t>& days)
    {
        for (std::size_t i = 0; i < days.size(); ++i) {
            const std::string path = dir_ / (name + "/clip" + std::to_string(i) + ".MTS");
            WriteFile(path, "x");
            SetModificationTime(path, days[i]);
        }
    }
    // Gives every clip of every directory a picture of the given size (no pixels needed).
    void GivePictures(int w, int h, int skipSlot = -1)
    {
        for (int d = 0; d < doc_.GetDirectoryCount(); ++d) {
            auto directory = doc_.GetDirectory(d);
            for (int i = 0; i < directory->clips->GetCount(); ++i) {
                if (i == skipSlot)
                    continue;
                auto picture = std::make_unique<CRgbImage>();
                picture->width = w;
                picture->height = h;
                directory->thumbnails->SetImage(i, std::move(picture));
            }
        }
    }
    void Open(const std::string& name, int width)
    {
        layout_.Clear();
        doc_.OpenDirectory(dir_ / name);
        layout_.width = width;
    }
    std::vector<FmtRect> Rects() const
    {
        std::vector<FmtRect> rects;
        for (const auto& item : layout_.Items())
            rects.push_back(item->GetRect());
        return rects;
    }
    IFmtItem* Item(std::size_t i) const { return layout_.Items().at(i); }

    TempDir dir_;
    ScopedEnv config_;
    CAVCHDDoc doc_{[](ThumbnailQueue&, const std::string&) {}};
    CFmtLayout layout_{&doc_};
};

}  // namespace

TEST_F(FmtLayoutTest, EmptyDocumentHasNoItems)
{
    layout_.width = 1280;
    layout_.Build();
    EXPECT_TRUE(layout_.Items().empty());
    EXPECT_EQ(layout_.height, 0);
}

TEST_F(FmtLayoutTest, ThreeCellsPerRowAt1280Pixels)
{
    settings::SplitDates.Write(false);
    Folder("a", {kDay1, kDay1, kDay1, kDay1, kDay1});
    Open("a", 1280);
    GivePictures(416, 234);
    layout_.Build();
    EXPECT_EQ(Rects(), (std::vector<FmtRect>{{0, 0, 1280, 30},
                                             {2, 32, 426, 290},
                                             {428, 32, 852, 290},
                                             {854, 32, 1278, 290},
                                             {2, 292, 426, 550},
                                             {428, 292, 852, 550}}));
    EXPECT_EQ(layout_.height, 552);
    EXPECT_EQ(static_cast<const CFmtCaption*>(Item(0))->Text(), dir_ / "a");
    EXPECT_EQ(static_cast<const CFmtCaption*>(Item(0))->firstClipId, 1);
    EXPECT_EQ(static_cast<const CFmtCaption*>(Item(0))->lastClipId, 5);

    layout_.width = 300;  // narrower than one cell: one per row, never wrapped before the first
    layout_.Build();
    for (std::size_t i = 1; i < layout_.Items().size(); ++i) {
        EXPECT_EQ(Item(i)->GetRect().left, 2);
        EXPECT_EQ(Item(i)->GetRect().top, 32 + 260 * static_cast<int>(i - 1));
    }
}

TEST_F(FmtLayoutTest, ADirectoryWithoutAClipListShowsItsThumbnailsOnly)
{
    settings::SplitDates.Write(true);  // dates come from the clip list, which is missing
    Folder("a", {kDay1, kDay1});
    Open("a", 1280);
    GivePictures(416, 234);
    doc_.GetDirectory(0)->clips.reset();
    layout_.Build();
    ASSERT_EQ(layout_.Items().size(), 2u);  // no caption without dates, two cells
    EXPECT_EQ(Item(0)->GetRect(), (FmtRect{2, 0, 426, 258}));
}

TEST_F(FmtLayoutTest, AWrappingTallCellAdvancesByItsOwnHeight)
{
    settings::SplitDates.Write(false);
    Folder("a", {kDay1, kDay1, kDay1});
    Open("a", 1000);
    GivePictures(416, 234, 0);  // slot 0 keeps no entry: a 416 x 100 placeholder
    // Unnumbered list: slot order is listing order; find which slot is the placeholder.
    layout_.Build();
    // Row 1: placeholder (100 high) and a picture cell (258); the third wraps: y advances by
    // the larger of the two plus 2, taken before the wrap test.
    ASSERT_EQ(layout_.Items().size(), 4u);
    EXPECT_EQ(Item(1)->GetRect(), (FmtRect{2, 32, 418, 132}));
    EXPECT_EQ(Item(2)->GetRect(), (FmtRect{420, 32, 844, 290}));
    EXPECT_EQ(Item(3)->GetRect(), (FmtRect{2, 292, 426, 550}));
}

TEST_F(FmtLayoutTest, DateCaptionsFollowTheDatesInSlotOrder)
{
    Folder("a", {kDay1});
    Folder("a2", {kDay1});
    Open("a", 1280);
    layout_.Build();
    ASSERT_EQ(layout_.Items().size(), 2u);
    EXPECT_EQ(static_cast<const CFmtCaption*>(Item(0))->Text(), dir_ / "a (7-Mar-2009)");

    // A date that comes back gets a caption of its own again.
    TempDir other;
    // Numbered by a camera index so slot order is the file number.
    WriteCard(other / "card", CardOptions{{"00000.MTS", "00001.MTS", "00002.MTS"}});
    const std::string stream = other / "card/PRIVATE/AVCHD/BDMV/STREAM/";
    SetModificationTime(stream + "00000.MTS", kDay1);
    SetModificationTime(stream + "00001.MTS", kDay2);
    SetModificationTime(stream + "00002.MTS", kDay1);
    layout_.Clear();
    doc_.OpenDirectory(other / "card");
    layout_.Build();
    std::vector<std::string> captions;
    for (const auto& item : layout_.Items())
        if (auto* c = dynamic_cast<const CFmtCaption*>(item))
            captions.push_back(c->Text());
    EXPECT_EQ(captions, (std::vector<std::string>{other / "card (7-Mar-2009)", other / "card (8-Mar-2009)",
                                                  other / "card (7-Mar-2009)"}));
    // The second caption: 2-pixel gap below the cell row, then 15.
    const int cellBottom = Item(1)->GetRect().bottom;
    EXPECT_EQ(Item(2)->GetRect().top, cellBottom + 2 + 15);
}

TEST_F(FmtLayoutTest, ADirectoryOnThePreviousDateContinuesThePreviousCaption)
{
    Folder("top/a", {kDay1});
    Folder("top/b", {kDay1});
    Open("top", 1280);
    layout_.Build();
    // One caption (the first directory's path), two rows of one cell each.
    ASSERT_EQ(layout_.Items().size(), 3u);
    const auto* caption = dynamic_cast<const CFmtCaption*>(Item(0));
    ASSERT_NE(caption, nullptr);
    EXPECT_EQ(caption->Text(), doc_.GetDirectory(0)->path + " (7-Mar-2009)");
    EXPECT_EQ(caption->firstClipId, 1);
    EXPECT_EQ(caption->lastClipId, 2);
    EXPECT_EQ(Item(1)->GetRect().top, 32);
    EXPECT_EQ(Item(2)->GetRect().top, 32 + 102);
    EXPECT_EQ(Item(2)->GetRect().left, 2);
}

TEST_F(FmtLayoutTest, HitTestingFindsItemsButNotGapsOrMargins)
{
    settings::SplitDates.Write(false);
    Folder("a", {kDay1, kDay1});
    Open("a", 1280);
    GivePictures(416, 234);
    layout_.Build();
    EXPECT_EQ(layout_.HitTest(5, 5), Item(0));
    EXPECT_EQ(layout_.HitTest(2, 32), Item(1));
    EXPECT_EQ(layout_.HitTest(425, 289), Item(1));
    EXPECT_EQ(layout_.HitTest(426, 100), nullptr);  // gap between cells
    EXPECT_EQ(layout_.HitTest(427, 100), nullptr);
    EXPECT_EQ(layout_.HitTest(1, 100), nullptr);    // left margin
    EXPECT_EQ(layout_.HitTest(100, 30), nullptr);   // gap below the caption
    EXPECT_EQ(layout_.HitTest(100, 290), nullptr);  // gap below the row
    EXPECT_EQ(layout_.HitTest(900, 100), nullptr);  // right of the last cell
}

TEST_F(FmtLayoutTest, SelectionRules)
{
    settings::SplitDates.Write(false);
    Folder("a", {kDay1, kDay1, kDay1, kDay1});
    Open("a", 1280);
    GivePictures(416, 234, 3);  // the clip in slot 3 has no entry
    layout_.Build();
    // Items: 0 caption, 1..4 clips of slots 0..3.
    RecordingRepainter repainter;
    auto* placeholder = Item(4);
    EXPECT_FALSE(placeholder->Select());

    layout_.SetSelected(Item(0), &repainter, true, false);  // a caption selects its clips with entries
    EXPECT_FALSE(Item(0)->IsSelected());
    EXPECT_TRUE(Item(1)->IsSelected() && Item(2)->IsSelected() && Item(3)->IsSelected());
    EXPECT_FALSE(placeholder->IsSelected());
    EXPECT_EQ(repainter.rects.size(), 3u);
    EXPECT_TRUE(layout_.AnySelected());

    std::vector<std::string> selected, all;
    layout_.CollectSelectedPaths(selected);
    layout_.CollectAllPaths(all);
    EXPECT_EQ(selected.size(), 3u);
    EXPECT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].rfind(dir_ / "a/clip", 0), 0u);

    // The selection survives a rebuild: it lives in the thumbnail entries.
    layout_.Build();
    EXPECT_TRUE(Item(2)->IsSelected());

    repainter.rects.clear();
    layout_.DeselectAll(&repainter);
    EXPECT_FALSE(layout_.AnySelected());
    EXPECT_EQ(repainter.rects.size(), 3u);

    // Shift from a target with nothing selected selects the target alone.
    layout_.SelectRange(Item(2), true, nullptr);
    EXPECT_TRUE(Item(2)->IsSelected());
    EXPECT_FALSE(Item(1)->IsSelected());
    // Shift to a clip further on selects everything between the nearest selected and it.
    layout_.SelectRange(Item(4), true, nullptr);
    EXPECT_TRUE(Item(3)->IsSelected());
    // Shift with control on a selected clip deselects back to the nearest unselected item,
    // here the caption (which does not change).
    layout_.SetSelected(Item(1), nullptr, true, true);
    layout_.SelectRange(Item(2), false, nullptr);
    EXPECT_FALSE(Item(1)->IsSelected());
    EXPECT_FALSE(Item(2)->IsSelected());
    EXPECT_TRUE(Item(3)->IsSelected());

    // FindNearest: ties go to the earlier item; the target counts when its state matches.
    layout_.DeselectAll(nullptr);
    layout_.SetSelected(Item(1), nullptr, true, true);
    layout_.SetSelected(Item(3), nullptr, true, true);
    EXPECT_EQ(layout_.FindNearest(Item(2), true), Item(1));
    EXPECT_EQ(layout_.FindNearest(Item(3), true), Item(3));
    EXPECT_EQ(layout_.FindNearest(Item(1), false), Item(0));
}

TEST_F(FmtLayoutTest, PaintAllPaintsExactlyTheItemsThatOverlapVertically)
{
    settings::SplitDates.Write(false);
    Folder("a", std::vector<std::int64_t>(40, kDay1));
    Folder("b", std::vector<std::int64_t>(7, kDay2));
    Open("", 900);
    GivePictures(416, 234, 5);
    layout_.Build();
    for (const FmtRect clip : {FmtRect{0, 0, 900, 10}, FmtRect{0, 300, 900, 301}, FmtRect{0, 1000, 100, 2000},
                               FmtRect{0, layout_.height - 5, 900, layout_.height + 100}, FmtRect{0, -50, 900, 0}}) {
        RecordingPaint paint;
        paint.clipBox = clip;
        layout_.PaintAll(paint);
        std::vector<const IFmtItem*> expected;
        for (const auto& item : layout_.Items())
            if (item->GetRect().top < clip.bottom && item->GetRect().bottom > clip.top)
                expected.push_back(item);
        EXPECT_EQ(paint.painted, expected) << clip.top << ".." << clip.bottom;
    }
}

TEST_F(FmtLayoutTest, UncoveredPartsAndItemsCoverTheAreaExactlyOnce)
{
    Folder("a", {kDay1, kDay1, kDay1, kDay1, kDay1});
    Folder("b", {kDay2, kDay2});
    Open("", 1000);
    // Cells of mixed heights: pictures of two sizes and placeholders.
    auto directory = doc_.GetDirectory(0);
    for (int i = 0; i < directory->clips->GetCount(); i += 2) {
        auto picture = std::make_unique<CRgbImage>();
        picture->width = 300 + 20 * i;
        picture->height = 150 + 30 * i;
        directory->thumbnails->SetImage(i, std::move(picture));
    }
    layout_.Build();
    for (const FmtRect area : {FmtRect{0, 0, 1000, layout_.height + 40}, FmtRect{100, 50, 700, 400},
                               FmtRect{0, 33, 1000, 34}, FmtRect{0, layout_.height - 3, 1000, layout_.height + 9}}) {
        const int w = area.Width(), h = area.Height();
        std::vector<int> count(static_cast<std::size_t>(w) * h, 0);
        auto cover = [&](const FmtRect& r) {
            for (int y = std::max(r.top, area.top); y < std::min(r.bottom, area.bottom); ++y)
                for (int x = std::max(r.left, area.left); x < std::min(r.right, area.right); ++x)
                    ++count[static_cast<std::size_t>(y - area.top) * w + (x - area.left)];
        };
        for (const FmtRect& part : layout_.UncoveredParts(area))
            cover(part);
        for (const auto& item : layout_.Items())
            cover(item->GetRect());
        int wrong = 0;
        for (int c : count)
            wrong += c != 1 ? 1 : 0;
        EXPECT_EQ(wrong, 0) << "area " << area.left << "," << area.top << " " << w << "x" << h;
    }
}
