#include "model/ClipDetails.h"
#include "support/TempDir.h"


#include <gtest/gtest.h>

using namespace testing_support;

namespace {

constexpr std::int64_t k7March2009At140509 = 1236434709;

void MakeClip(const std::string& path, std::uint64_t size = 0, std::int64_t time = k7March2009At140509)
{
    WriteFile(path, "");
    if (size != 0)
        SetFileSize(path, size);
    SetModificationTime(path, time);
}

std::string Caption(const CClipDetails& clips, int index)
{
    std::string caption;
    clips.FormatCaption(index, caption);
    return caption;
}

}  // namespace

TEST(ClipDetailsTest, NumberedListLeavesGapsAsEmptySlots)
{
    TempDir dir;
    for (const char* name : {"00000.MTS", "00001.MTS", "00004.MTS"})
        MakeClip(dir / name, 12345678);
    CClipDetails clips(true, dir.Path());
    ASSERT_EQ(clips.GetCount(), 5);
    EXPECT_EQ(Caption(clips, 0), "Clip 0 (11.8 MB, 14:05:09 7-Mar-2009)");
    EXPECT_EQ(Caption(clips, 4), "Clip 4 (11.8 MB, 14:05:09 7-Mar-2009)");
    for (int empty : {2, 3, 5, -1}) {
        std::string caption;
        EXPECT_FALSE(clips.FormatCaption(empty, caption));
        EXPECT_EQ(caption, "Clip " + std::to_string(empty) + " not found");
        std::string path = "untouched";
        EXPECT_FALSE(clips.GetClipPath(empty, path));
        EXPECT_EQ(path, "untouched");
        EXPECT_EQ(clips.GetDateKey(empty), 0);
        EXPECT_EQ(clips.FormatDate(empty), "");
    }
    std::string path;
    ASSERT_TRUE(clips.GetClipPath(1, path));
    EXPECT_EQ(path, dir / "00001.MTS");
    EXPECT_EQ(clips.GetDateKey(1), 20090307);
    EXPECT_EQ(clips.FormatDate(1), "7-Mar-2009");
}

TEST(ClipDetailsTest, CaptionExampleNumberedAndUnnumbered)
{
    TempDir dir;
    MakeClip(dir / "00003.MTS", 12345678);
    CClipDetails numbered(true, dir.Path());
    EXPECT_EQ(Caption(numbered, 3), "Clip 3 (11.8 MB, 14:05:09 7-Mar-2009)");
    CClipDetails unnumbered(false, dir.Path());
    ASSERT_EQ(unnumbered.GetCount(), 1);
    EXPECT_EQ(Caption(unnumbered, 0), "00003.MTS (11.8 MB, 14:05:09 7-Mar-2009)");
}

TEST(ClipDetailsTest, LaterPatternWinsASharedNumberAndCaseIsIgnored)
{
    TempDir dir;
    MakeClip(dir / "00001.MTS", 1048576);
    MakeClip(dir / "00001.m2ts", 2 * 1048576);
    MakeClip(dir / "00002.mts", 1048576);
    MakeClip(dir / "00003.M2TS", 1048576);
    MakeClip(dir / "00004.txt", 1048576);
    CClipDetails clips(true, dir.Path());
    ASSERT_EQ(clips.GetCount(), 4);
    EXPECT_EQ(clips.GetEntry(1)->name, "00001.m2ts");
    EXPECT_EQ(clips.GetEntry(2)->name, "00002.mts");
    EXPECT_EQ(clips.GetEntry(3)->name, "00003.M2TS");
    EXPECT_EQ(clips.GetEntry(0), nullptr);
}

TEST(ClipDetailsTest, UnnumberedListKeepsListingOrderPatternByPattern)
{
    TempDir dir;
    for (const char* name : {"b.m2ts", "a.MTS", "c.MTS", "d.M2TS"})
        MakeClip(dir / name);
    CClipDetails clips(false, dir.Path());
    // Made out of name order; each pattern's files come in name order.
    const std::vector<std::string> expected{"a.MTS", "c.MTS", "b.m2ts", "d.M2TS"};
    ASSERT_EQ(clips.GetCount(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(clips.GetEntry(i)->name, expected[static_cast<std::size_t>(i)]);
}

TEST(ClipDetailsTest, NamesWithoutDigitsTakeSlotZero)
{
    TempDir dir;
    MakeClip(dir / "holiday.MTS");
    CClipDetails clips(true, dir.Path());
    ASSERT_EQ(clips.GetCount(), 1);
    EXPECT_EQ(clips.GetEntry(0)->name, "holiday.MTS");
    EXPECT_EQ(Caption(clips, 0), "Clip 0 (0.0 MB, 14:05:09 7-Mar-2009)");
}

TEST(ClipDetailsTest, HugeAndNegativeNumbersAreAppendedNotLost)
{
    TempDir dir;
    for (const char* name : {"00002.MTS", "99999.MTS", "100000.MTS", "-5.MTS",
                             "99999999999999999999999.MTS", " +7.MTS", "-0.MTS"})
        MakeClip(dir / name);
    CClipDetails clips(true, dir.Path());
    // 0..99999 are slots; the three refused names follow after slot 99999.
    ASSERT_EQ(clips.GetCount(), 100003);
    EXPECT_EQ(clips.GetEntry(2)->name, "00002.MTS");
    EXPECT_EQ(clips.GetEntry(7)->name, " +7.MTS");
    EXPECT_EQ(clips.GetEntry(0)->name, "-0.MTS");
    EXPECT_EQ(clips.GetEntry(99999)->name, "99999.MTS");
    std::vector<std::string> appended;
    for (int i = 100000; i < 100003; ++i)
        appended.push_back(clips.GetEntry(i)->name);
    EXPECT_EQ(appended, (std::vector<std::string>{"-5.MTS", "100000.MTS", "99999999999999999999999.MTS"}));
}

TEST(ClipDetailsTest, SizesAcrossTheGigabyteThresholdAndAbove4GiB)
{
    TempDir dir;
    MakeClip(dir / "00000.MTS", 10737418240ULL);      // exactly 10240 MB
    MakeClip(dir / "00001.MTS", 10737418239ULL);      // one byte less
    MakeClip(dir / "00002.MTS", 5368709120ULL);       // above 4 GiB: the high half counts
    MakeClip(dir / "00003.MTS", 0);
    CClipDetails clips(true, dir.Path());
    EXPECT_EQ(Caption(clips, 0), "Clip 0 (10.0 GB, 14:05:09 7-Mar-2009)");
    EXPECT_EQ(Caption(clips, 1), "Clip 1 (10240.0 MB, 14:05:09 7-Mar-2009)");
    EXPECT_EQ(Caption(clips, 2), "Clip 2 (5120.0 MB, 14:05:09 7-Mar-2009)");
    EXPECT_EQ(Caption(clips, 3), "Clip 3 (0.0 MB, 14:05:09 7-Mar-2009)");
    EXPECT_EQ(clips.GetEntry(2)->sizeHigh, 1u);
    EXPECT_EQ(clips.GetEntry(2)->sizeLow, 1073741824u);
}

TEST(ClipDetailsTest, TimesAreUtcFieldsWithoutLeadingZeroOnTheDay)
{
    TempDir dir;
    MakeClip(dir / "00000.MTS", 0, 1293839999);  // 2010-12-31 23:59:59 UTC
    MakeClip(dir / "00001.MTS", 0, 1262304000);  // 2010-01-01 00:00:00 UTC
    const testing_support::ScopedEnv tz("TZ", "America/New_York");
    CClipDetails clips(true, dir.Path());
    EXPECT_EQ(Caption(clips, 0), "Clip 0 (0.0 MB, 23:59:59 31-Dec-2010)");
    EXPECT_EQ(Caption(clips, 1), "Clip 1 (0.0 MB, 00:00:00 1-Jan-2010)");
    EXPECT_EQ(clips.GetDateKey(0), 20101231);
    EXPECT_EQ(clips.GetDateKey(1), 20100101);
}

TEST(ClipDetailsTest, OddFileNamesAreKeptByteForByte)
{
    TempDir dir;
    const std::vector<std::string> names = {"my clip \"1\" & 'two'.MTS", std::string("bad\xff\xfe utf8.mts"),
                                            "$(touch x).MTS"};
    for (const auto& n : names)
        MakeClip(dir / n, 1048576);
    CClipDetails clips(false, dir.Path() + "/");
    ASSERT_EQ(clips.GetCount(), 3);
    EXPECT_EQ(clips.GetDirectory(), dir.Path());
    for (int i = 0; i < 3; ++i) {
        std::string path;
        ASSERT_TRUE(clips.GetClipPath(i, path));
        EXPECT_EQ(path, dir.Path() + "/" + clips.GetEntry(i)->name);
        EXPECT_NE(std::find(names.begin(), names.end(), clips.GetEntry(i)->name), names.end());
        EXPECT_EQ(Caption(clips, i), clips.GetEntry(i)->name + " (1.0 MB, 14:05:09 7-Mar-2009)");
    }
}

TEST(ClipDetailsTest, RootAndMissingDirectories)
{
    CClipDetails root(false, "/");
    EXPECT_EQ(root.GetDirectory(), "/");
    CClipDetails missing(true, "/nonexistent/folder/");
    EXPECT_EQ(missing.GetCount(), 0);
    EXPECT_EQ(missing.GetDirectory(), "/nonexistent/folder");
}

TEST(ClipDetailsTest, ClipsLinkedElsewhereAreListedAndDanglingOnesKept)
{
    TempDir dir;
    MakeClip(dir / "real.data", 2 * 1048576);
    ASSERT_EQ(symlink((dir / "real.data").c_str(), (dir / "00000.MTS").c_str()), 0);
    ASSERT_EQ(symlink((dir / "nowhere").c_str(), (dir / "00001.MTS").c_str()), 0);
    CClipDetails clips(true, dir.Path());
    ASSERT_EQ(clips.GetCount(), 2);
    EXPECT_EQ(Caption(clips, 0), "Clip 0 (2.0 MB, 14:05:09 7-Mar-2009)");
    EXPECT_EQ(Caption(clips, 1), "Clip 1 (0.0 MB, 00:00:00 0--0)");
}
