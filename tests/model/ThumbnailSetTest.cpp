#include "imaging/JPEGException.h"
#include "model/AVCHDException.h"
#include "model/ThumbnailSet.h"
#include "support/JpegFixtures.h"
#include "support/MessageBoxRecorder.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// A colour per block that survives JPEG compression and tells every block of a card apart.
struct Code {
    std::uint8_t r, g, b;
};
Code CodeFor(int block)
{
    return {static_cast<std::uint8_t>((block % 8) * 32 + 16), static_cast<std::uint8_t>(((block / 8) % 8) * 32 + 16),
            static_cast<std::uint8_t>(((block / 64) % 8) * 32 + 16)};
}

std::vector<std::string> CodedBlocks(int count, int width = 64, int height = 32)
{
    std::vector<std::string> jpegs;
    for (int k = 0; k < count; ++k) {
        const Code c = CodeFor(k);
        jpegs.push_back(SolidJpeg(width, height, c.r, c.g, c.b, Sampling::k422));
    }
    return jpegs;
}

// The block whose colour the entry's picture shows, or -1.
int BlockShownBy(const ThumbnailEntry* entry)
{
    if (entry == nullptr)
        return -1;
    const std::unique_ptr<CRgbImage> decoded = entry->picture ? nullptr : entry->jpeg.Decode();
    if (!entry->picture && !decoded)
        return -1;
    const CRgbImage& p = entry->picture ? *entry->picture : *decoded;
    const std::uint8_t* pixel = p.pixels.get() + p.OffsetOf(p.width / 2, p.height / 2);
    for (int k = 0; k < 512; ++k) {
        const Code c = CodeFor(k);
        if (std::abs(pixel[2] - c.r) < 8 && std::abs(pixel[1] - c.g) < 8 && std::abs(pixel[0] - c.b) < 8)
            return k;
    }
    return -1;
}

class ThumbnailSetTest : public ::testing::Test {
protected:
    std::string Tdt() const { return dir_ / "AVCHDTN/THUMB.TDT"; }
    void WriteData(const std::vector<std::string>& jpegs) { WriteFile(Tdt(), PackBlocks(jpegs)); }
    void WriteIndex(const std::string& bytes, const char* name = "AVCHDTN/THUMB.TID") { WriteFile(dir_ / name, bytes); }

    TempDir dir_;
    MessageBoxRecorder boxes_;
};

std::string LoadError(const std::string& path)
{
    try {
        CThumbnailSet set(path);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no exception";
}

}  // namespace

TEST_F(ThumbnailSetTest, WithoutIndexBlocksFillSlotsByPosition)
{
    WriteData(CodedBlocks(3));
    CThumbnailSet set(Tdt());
    ASSERT_EQ(set.GetCount(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(BlockShownBy(set.GetEntry(i)), i);
        EXPECT_EQ(set.GetEntry(i)->clipNumber, i);
        EXPECT_FALSE(set.GetEntry(i)->selected);
        EXPECT_EQ(set.GetEntry(i)->Width(), 64);
        EXPECT_EQ(set.GetEntry(i)->Height(), 32);
    }
    EXPECT_EQ(set.GetEntry(3), nullptr);
    EXPECT_EQ(set.GetEntry(-1), nullptr);
    EXPECT_TRUE(boxes_.Boxes().empty());
}

TEST_F(ThumbnailSetTest, IndexRecordsMapBlocksToClipsAndOnlyNamedBlocksAreDecoded)
{
    std::vector<std::string> blocks = CodedBlocks(3);
    blocks[2] = "not a jpeg at all";  // never named, so never decoded
    WriteData(blocks);
    WriteIndex(IndexFile({{5, 0}, {2, 1}}));
    CThumbnailSet set(Tdt());
    ASSERT_EQ(set.GetCount(), 6);
    EXPECT_EQ(BlockShownBy(set.GetEntry(5)), 0);
    EXPECT_EQ(BlockShownBy(set.GetEntry(2)), 1);
    for (int empty : {0, 1, 3, 4})
        EXPECT_EQ(set.GetEntry(empty), nullptr);
    EXPECT_EQ(set.BlockToClip().at(1), 2);
}

TEST_F(ThumbnailSetTest, IndexBytesAreBigEndianAndLaterRecordsWin)
{
    WriteData(CodedBlocks(2));
    std::string index(72, '\0');
    index += std::string("\x00\x07\x00\x01", 4) + std::string(8, '\xff');   // block 1 → clip 7
    index += std::string("\x01\x02\x00\x00", 4) + std::string(8, '\0');     // block 0 → clip 258
    index += std::string("\x00\x03\x00\x00", 4) + std::string(8, '\0');     // block 0 → clip 3, replacing
    WriteIndex(index);
    CThumbnailSet set(Tdt());
    ASSERT_EQ(set.GetCount(), 8);
    EXPECT_EQ(BlockShownBy(set.GetEntry(7)), 1);
    EXPECT_EQ(BlockShownBy(set.GetEntry(3)), 0);
}

TEST_F(ThumbnailSetTest, IndexSizesDecideWhetherItCounts)
{
    WriteData(CodedBlocks(2));
    WriteIndex(std::string(72, 'h'));  // valid and empty: nothing decoded, no message
    {
        CThumbnailSet set(Tdt());
        EXPECT_EQ(set.GetCount(), 0);
        EXPECT_TRUE(boxes_.Boxes().empty());
    }
    WriteIndex(std::string(71, 'h'));
    {
        CThumbnailSet set(Tdt());
        EXPECT_EQ(set.GetCount(), 2);  // read by position
        ASSERT_EQ(boxes_.Boxes().size(), 1u);
        EXPECT_EQ(boxes_.Boxes()[0].text,
                  "Thumbnail index file [" + (dir_ / "AVCHDTN/THUMB.TID") +
                      "] size (71 bytes) is less than the ignored header size (72 bytes).  "
                      "This index file is not compatible with Viewmere and will be ignored.");
        EXPECT_EQ(boxes_.Boxes()[0].icon, platform::MessageBoxIcon::Warning);
    }
    WriteIndex(std::string(73, 'h'));
    {
        CThumbnailSet set(Tdt());
        EXPECT_EQ(set.GetCount(), 2);
        ASSERT_EQ(boxes_.Boxes().size(), 2u);
        EXPECT_EQ(boxes_.Boxes()[1].text,
                  "Thumbnail index file [" + (dir_ / "AVCHDTN/THUMB.TID") +
                      "] size (73 bytes) is not an expected size.  "
                      "This index file is not compatible with Viewmere and will be ignored.");
    }
}

TEST_F(ThumbnailSetTest, TidIsPreferredOverTidxAndNamesFollowTheLastDot)
{
    WriteData(CodedBlocks(2));
    WriteIndex(IndexFile({{4, 0}}), "AVCHDTN/THUMB.TID");
    WriteIndex(IndexFile({{9, 1}}), "AVCHDTN/THUMB.tidx");
    CThumbnailSet set(Tdt());
    EXPECT_EQ(set.GetCount(), 5);
    EXPECT_EQ(BlockShownBy(set.GetEntry(4)), 0);

    std::remove((dir_ / "AVCHDTN/THUMB.TID").c_str());
    set.Load(Tdt());
    EXPECT_EQ(set.GetCount(), 10);
    EXPECT_EQ(BlockShownBy(set.GetEntry(9)), 1);

    EXPECT_EQ(CThumbnailSet::IndexPath("/c/AVCHDTN/thumbnail.tdt2", "TID"), "/c/AVCHDTN/thumbnail.TID");
    EXPECT_EQ(CThumbnailSet::IndexPath("/my.card/THUMB", "tidx"), "/my.card/THUMB.tidx");
}

TEST_F(ThumbnailSetTest, DataFileProblemsRaiseTheirMessages)
{
    EXPECT_EQ(LoadError(Tdt()), "AVCHD Exception: Unable to open thumbnail file [" + Tdt() + "]");

    WriteFile(Tdt(), "");
    CThumbnailSet empty(Tdt());
    EXPECT_EQ(empty.GetCount(), 0);

    WriteFile(Tdt(), std::string(16385, '\0'));
    EXPECT_EQ(LoadError(Tdt()), "AVCHD Exception: Thumbnail file [" + Tdt() +
                                    "] size (16385 bytes) is not a multiple of the thumbnail offset multiple "
                                    "(16384 bytes) as expected.  No thumbnails will be read.");
}

TEST_F(ThumbnailSetTest, CleanPicturesStayCompressedAndADamagedOneIsDecodedShowingItsWarning)
{
    std::vector<std::string> blocks = CodedBlocks(3);
    const std::string whole = blocks[1];
    blocks[2].resize(blocks[2].size() - 6);  // cut short: the library warns and fills the rest
    WriteData(blocks);
    CThumbnailSet set(Tdt());
    ASSERT_EQ(set.GetCount(), 3);
    // A clean picture is held as its own bytes, without the block's padding.
    const ThumbnailEntry* clean = set.GetEntry(1);
    EXPECT_FALSE(clean->picture);
    EXPECT_EQ(std::string(clean->jpeg.bytes.begin(), clean->jpeg.bytes.end()), whole);
    EXPECT_EQ(clean->Width(), 64);
    EXPECT_EQ(BlockShownBy(clean), 1);
    // The damaged one is shown as the library decodes it, after the one box of its warning.
    const ThumbnailEntry* damaged = set.GetEntry(2);
    ASSERT_TRUE(damaged->picture);
    EXPECT_TRUE(damaged->jpeg.Empty());
    EXPECT_EQ(damaged->Width(), 64);
    ASSERT_EQ(boxes_.Boxes().size(), 1u);
    EXPECT_EQ(boxes_.Boxes()[0].caption, "JPEG Error");
}

TEST_F(ThumbnailSetTest, BadBlockRaisesTheJpegTextAsAPlainException)
{
    std::vector<std::string> blocks = CodedBlocks(3);
    blocks[1] = "XYZ";
    WriteData(blocks);
    try {
        CThumbnailSet set(Tdt());
        FAIL() << "no exception";
    } catch (const CJPEGException&) {
        FAIL() << "the JPEG exception must be replaced by a plain one";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "JPEG Exception: \r\nNot a JPEG file: starts with 0x58 0x59");
    }
}

TEST_F(ThumbnailSetTest, BlocksPastTheEndAndFarSlotsNeverFaultOrGrowWithoutBound)
{
    WriteData(CodedBlocks(2));
    WriteIndex(IndexFile({{0, 0}, {1, 65535}, {65535, 1}}));
    CThumbnailSet set(Tdt());
    EXPECT_EQ(set.GetCount(), 65536);  // clip numbers are 16 bits: the bound is built in
    EXPECT_EQ(BlockShownBy(set.GetEntry(0)), 0);
    EXPECT_EQ(set.GetEntry(1), nullptr);  // its block lies past the end
    EXPECT_EQ(BlockShownBy(set.GetEntry(65535)), 1);
}

TEST_F(ThumbnailSetTest, GeneratedThumbnailsReplaceEntriesUnselected)
{
    WriteData(CodedBlocks(3));
    CThumbnailSet set(Tdt());
    set.GetEntry(1)->selected = true;

    auto picture = std::make_unique<CRgbImage>();
    picture->width = 7;
    set.SetImage(10, std::move(picture));
    ASSERT_EQ(set.GetCount(), 11);
    for (int i = 3; i < 10; ++i)
        EXPECT_EQ(set.GetEntry(i), nullptr);
    EXPECT_EQ(set.GetEntry(10)->clipNumber, 10);
    EXPECT_EQ(set.GetEntry(10)->Width(), 7);

    set.SetBitmap(1, std::make_unique<platform::DeviceBitmap>(platform::MakeDeviceBitmap32(384, 216)));
    const ThumbnailEntry* entry = set.GetEntry(1);
    EXPECT_FALSE(entry->selected);
    EXPECT_FALSE(entry->picture);
    EXPECT_EQ(entry->Width(), 384);
    EXPECT_EQ(entry->Height(), 216);

    set.Clear();
    EXPECT_EQ(set.GetCount(), 0);
    EXPECT_TRUE(set.BlockToClip().empty());
}

TEST_F(ThumbnailSetTest, RealisticCardOf113RecordsOver131Blocks)
{
    // A camera that recorded 131 clips and deleted 18 keeps their blocks but drops their records.
    WriteData(CodedBlocks(131, 416, 240));
    std::vector<std::pair<int, int>> records;
    for (int clip = 0; clip < 113; ++clip)
        records.push_back({clip, clip + 18});
    WriteIndex(IndexFile(records));
    CThumbnailSet set(Tdt());
    ASSERT_EQ(set.GetCount(), 113);
    for (int clip = 0; clip < 113; ++clip) {
        ASSERT_NE(set.GetEntry(clip), nullptr);
        EXPECT_EQ(set.GetEntry(clip)->Width(), 416);
        EXPECT_EQ(set.GetEntry(clip)->Height(), 240);
        EXPECT_EQ(BlockShownBy(set.GetEntry(clip)), clip + 18) << "clip " << clip;
    }
    EXPECT_TRUE(boxes_.Boxes().empty());
}

namespace {

// A JPEG that declares `width` x `height` in its frame header but carries a small picture's data.
std::string DeclaringSize(std::string jpeg, int width, int height)
{
    for (std::size_t i = 0; i + 8 < jpeg.size(); ++i)
        if (static_cast<unsigned char>(jpeg[i]) == 0xFF && static_cast<unsigned char>(jpeg[i + 1]) == 0xC0) {
            jpeg[i + 5] = static_cast<char>(height >> 8), jpeg[i + 6] = static_cast<char>(height & 0xFF);
            jpeg[i + 7] = static_cast<char>(width >> 8), jpeg[i + 8] = static_cast<char>(width & 0xFF);
            break;
        }
    return jpeg;
}

}  // namespace

TEST_F(ThumbnailSetTest, HugeDeclaredPicturesAndTooManyPixelsAreRefusedBeforeAllocation)
{
    // A block that declares 8000 x 8000 and ends early is refused from its header.
    std::vector<std::string> blocks = CodedBlocks(2);
    blocks[1] = DeclaringSize(blocks[1], 8000, 8000);
    WriteData(blocks);
    EXPECT_EQ(LoadError(Tdt()), "JPEG Exception: \r\nImage of 8000 x 8000 pixels is larger than the limit of 2000000 pixels");

    // A folder's pictures stop at the bound: the rest stay unread, with one line in the log.
    WriteData(CodedBlocks(4, 64, 32));
    TakeLogMessages();
    CThumbnailSet set(Tdt(), 2 * 64 * 32);
    EXPECT_EQ(BlockShownBy(set.GetEntry(1)), 1);
    EXPECT_EQ(set.GetEntry(2), nullptr);
    EXPECT_EQ(set.GetEntry(3), nullptr);
    const auto log = TakeLogMessages();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("hold 4096 pixels, the most one folder may hold"), std::string::npos);
}

TEST_F(ThumbnailSetTest, FifosAreNeverOpenedForReading)
{
    // Opening a FIFO for reading waits for a writer: a card with one would hang the viewer.
    MakeDirs(dir_ / "AVCHDTN");
    ASSERT_EQ(mkfifo(Tdt().c_str(), 0600), 0);
    EXPECT_EQ(LoadError(Tdt()), "AVCHD Exception: Unable to open thumbnail file [" + Tdt() + "]");
    std::remove(Tdt().c_str());
    WriteData(CodedBlocks(2));
    ASSERT_EQ(mkfifo((dir_ / "AVCHDTN/THUMB.TID").c_str(), 0600), 0);
    CThumbnailSet set(Tdt());  // no usable index: blocks fill slots by position
    EXPECT_EQ(BlockShownBy(set.GetEntry(1)), 1);
}
