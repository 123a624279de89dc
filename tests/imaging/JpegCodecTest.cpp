#include "imaging/JPEGException.h"
#include "imaging/JpegPicture.h"
#include "imaging/PngEncoder.h"
#include "imaging/RgbImage.h"
#include "support/JpegFixtures.h"
#include "support/MessageBoxRecorder.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <libdeflate.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <cstring>
#include <thread>

using namespace testing_support;

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Decodes bytes held in memory through a real stdio stream.
CRgbImage Decode(const std::string& bytes)
{
    FilePtr stream(fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb"));
    CRgbImage image;
    image.DecodeJpeg(stream.get());
    return image;
}

std::string DecodeError(const std::string& bytes)
{
    try {
        Decode(bytes);
    } catch (const CJPEGException& e) {
        return e.what();
    }
    return "no exception";
}

// The picture must equal the library's own decode, turned upside down and into BGR order.
void ExpectSameAsReference(const CRgbImage& image, const std::string& jpeg)
{
    const ReferenceImage reference = ReferenceDecode(jpeg);
    ASSERT_TRUE(image.HasPicture());
    ASSERT_EQ(image.width, reference.width);
    ASSERT_EQ(image.height, reference.height);
    ASSERT_EQ(image.stride, CRgbImage::StrideFor(image.width));
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const std::uint8_t* pixel = image.pixels.get() + image.OffsetOf(x, y);
            const std::uint8_t* ref = reference.samples.data() + (y * reference.width + x) * reference.components;
            const std::uint8_t r = ref[0];
            const std::uint8_t g = reference.components == 3 ? ref[1] : ref[0];
            const std::uint8_t b = reference.components == 3 ? ref[2] : ref[0];
            ASSERT_EQ(pixel[0], b) << "x " << x << " y " << y;
            ASSERT_EQ(pixel[1], g) << "x " << x << " y " << y;
            ASSERT_EQ(pixel[2], r) << "x " << x << " y " << y;
        }
    }
}

std::vector<std::uint8_t> Gradient(int width, int height)
{
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width * height * 3));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = rgb.data() + (y * width + x) * 3;
            p[0] = static_cast<std::uint8_t>(x * 255 / std::max(1, width - 1));
            p[1] = static_cast<std::uint8_t>(y * 255 / std::max(1, height - 1));
            p[2] = static_cast<std::uint8_t>((x + y) * 7);
        }
    return rgb;
}

// Top half red, bottom half blue.
std::vector<std::uint8_t> RedOverBlue(int width, int height)
{
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width * height * 3));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = rgb.data() + (y * width + x) * 3;
            p[0] = y < height / 2 ? 255 : 0;
            p[2] = y < height / 2 ? 0 : 255;
        }
    return rgb;
}

void ExpectColour(const CRgbImage& image, int x, int y, int r, int g, int b, int tolerance = 6)
{
    const std::uint8_t* p = image.pixels.get() + image.OffsetOf(x, y);
    EXPECT_NEAR(p[2], r, tolerance) << "red at " << x << "," << y;
    EXPECT_NEAR(p[1], g, tolerance) << "green at " << x << "," << y;
    EXPECT_NEAR(p[0], b, tolerance) << "blue at " << x << "," << y;
}

std::string RunCommand(const std::string& command)
{
    return std::system(command.c_str()) == 0 ? "ok" : "failed: " + command;
}

}  // namespace

TEST(JpegDecodeTest, ColourAndGreyPicturesMatchTheLibraryByteForByte)
{
    for (Sampling sampling : {Sampling::k444, Sampling::k422, Sampling::k420}) {
        const std::string jpeg = EncodeRgbJpeg(416, 240, Gradient(416, 240), sampling);
        ExpectSameAsReference(Decode(jpeg), jpeg);
    }
    std::vector<std::uint8_t> grey(37 * 11);
    for (std::size_t i = 0; i < grey.size(); ++i)
        grey[i] = static_cast<std::uint8_t>(i * 3);
    const std::string greyJpeg = EncodeGreyJpeg(37, 11, grey);
    const CRgbImage image = Decode(greyJpeg);
    ExpectSameAsReference(image, greyJpeg);
    const std::uint8_t* p = image.pixels.get() + image.OffsetOf(5, 3);
    EXPECT_EQ(p[0], p[1]);
    EXPECT_EQ(p[1], p[2]);
}

TEST(JpegDecodeTest, NarrowWidthsPadRowsToFourBytes)
{
    const int expectedStride[] = {0, 4, 8, 12, 12, 16, 20, 24, 24};
    for (int width = 1; width <= 8; ++width) {
        const std::string jpeg = EncodeRgbJpeg(width, 3, Gradient(width, 3), Sampling::k444);
        const CRgbImage image = Decode(jpeg);
        EXPECT_EQ(image.stride, expectedStride[width]) << "width " << width;
        ExpectSameAsReference(image, jpeg);
    }
}

TEST(JpegDecodeTest, ForeignEncoderFourTwoTwoCameraThumbnail)
{
    TempDir dir;
    const std::string path = dir / "thumb.jpg";
    ASSERT_EQ(RunCommand("ffmpeg -loglevel error -y -f lavfi -i color=c=lime:s=416x240 -frames:v 1 "
                         "-pix_fmt yuvj422p '" + path + "'"), "ok");
    CRgbImage image;
    ASSERT_TRUE(image.LoadJpegFile(path));
    EXPECT_EQ(image.width, 416);
    EXPECT_EQ(image.height, 240);
    ExpectColour(image, 200, 120, 0, 255, 0);
    ExpectSameAsReference(image, ReadFile(path));
}

TEST(JpegDecodeTest, CmykPicturesAreConvertedSoEveryRowIsFilled)
{
    // Adobe-style inverted CMYK (the library writes the marker): no cyan and no yellow ink,
    // full magenta, no black.
    std::vector<std::uint8_t> cmyk(16 * 8 * 4);
    for (std::size_t i = 0; i < cmyk.size(); i += 4) {
        cmyk[i] = 255;
        cmyk[i + 1] = 0;
        cmyk[i + 2] = 255;
        cmyk[i + 3] = 255;
    }
    const CRgbImage image = Decode(EncodeCmykJpeg(16, 8, cmyk));
    ASSERT_EQ(image.width, 16);
    for (int y = 0; y < 8; ++y)
        ExpectColour(image, 7, y, 255, 0, 255);
}

TEST(JpegDecodeTest, UprightPictureSurvivesARoundTrip)
{
    const CRgbImage original = Decode(EncodeRgbJpeg(64, 32, RedOverBlue(64, 32), Sampling::k444));
    ExpectColour(original, 10, 2, 255, 0, 0);
    ExpectColour(original, 10, 29, 0, 0, 255);

    TempDir dir;
    ASSERT_TRUE(original.SaveJpegFile(dir / "again.jpg"));
    CRgbImage again;
    ASSERT_TRUE(again.LoadJpegFile(dir / "again.jpg"));
    EXPECT_EQ(again.width, 64);
    EXPECT_EQ(again.height, 32);
    ExpectColour(again, 10, 2, 255, 0, 0, 12);
    ExpectColour(again, 10, 29, 0, 0, 255, 12);

    // Baseline at quality 85: the file is a JPEG the library reads back as 64 × 32 RGB.
    const ReferenceImage reference = ReferenceDecode(ReadFile(dir / "again.jpg"));
    EXPECT_EQ(reference.components, 3);
    const std::string bytes = ReadFile(dir / "again.jpg");
    EXPECT_NE(bytes.find("\xff\xc0"), std::string::npos) << "baseline frame marker";
}

TEST(JpegDecodeTest, CorruptEntropyDataShowsOneBoxAndAFullPicture)
{
    MessageBoxRecorder boxes;
    std::string jpeg = EncodeRgbJpeg(256, 256, Gradient(256, 256), Sampling::k420, 90);
    const std::size_t scanStart = jpeg.find("\xff\xda");
    ASSERT_NE(scanStart, std::string::npos);
    // Flip bits in the middle of the entropy-coded data (never making or breaking a marker),
    // and leave junk before the end marker.
    const std::size_t middle = scanStart + (jpeg.size() - scanStart) / 2;
    for (std::size_t i = middle; i < middle + 40; ++i) {
        const auto byte = static_cast<unsigned char>(jpeg[i]);
        if (byte == 0xff || byte == 0xaa || static_cast<unsigned char>(jpeg[i - 1]) == 0xff)
            continue;
        jpeg[i] = static_cast<char>(byte ^ 0x55);
    }
    jpeg.insert(jpeg.size() - 2, "junk");
    const CRgbImage image = Decode(jpeg);
    EXPECT_EQ(image.width, 256);
    EXPECT_EQ(image.height, 256);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].caption, "JPEG Error");
    EXPECT_EQ(boxes.Boxes()[0].icon, platform::MessageBoxIcon::None);
    EXPECT_NE(boxes.Boxes()[0].text.find("Corrupt JPEG data"), std::string::npos) << boxes.Boxes()[0].text;
}

TEST(JpegDecodeTest, TruncatedStreamWarnsOnceAndStillGivesTheWholePicture)
{
    MessageBoxRecorder boxes;
    const std::string jpeg = EncodeRgbJpeg(128, 96, Gradient(128, 96));
    const CRgbImage image = Decode(jpeg.substr(0, jpeg.size() * 2 / 3));
    EXPECT_EQ(image.width, 128);
    EXPECT_EQ(image.height, 96);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_NE(boxes.Boxes()[0].text.find("Premature end of JPEG file"), std::string::npos);
}

TEST(JpegDecodeTest, FatalErrorsRaiseTheCollectedMessageAndLeaveNoPicture)
{
    EXPECT_EQ(DecodeError("AB not a jpeg"), "JPEG Exception: \r\nNot a JPEG file: starts with 0x41 0x42");
    EXPECT_EQ(DecodeError(std::string()), "JPEG Exception: \r\nEmpty input file");
    const std::string jpeg = EncodeRgbJpeg(16, 16, Gradient(16, 16));
    EXPECT_EQ(DecodeError(jpeg.substr(0, 100)).rfind("JPEG Exception: \r\n", 0), 0u);

    // A failed decode drops the old picture and never leaves a half-made one.
    CRgbImage image = Decode(jpeg);
    ASSERT_TRUE(image.HasPicture());
    const std::string bad = "XY";
    FilePtr stream(fmemopen(const_cast<char*>(bad.data()), bad.size(), "rb"));
    EXPECT_THROW(image.DecodeJpeg(stream.get()), CJPEGException);
    EXPECT_FALSE(image.HasPicture());
}

TEST(JpegDecodeTest, OversizedPictureIsRefusedBeforeAllocating)
{
    std::string jpeg = EncodeRgbJpeg(16, 16, Gradient(16, 16));
    const std::size_t sof = jpeg.find("\xff\xc0");
    ASSERT_NE(sof, std::string::npos);
    // Frame header: marker, length (2), precision (1), height (2), width (2).
    for (std::size_t at : {sof + 5, sof + 7}) {
        jpeg[at] = static_cast<char>(0xfd);  // 65000
        jpeg[at + 1] = static_cast<char>(0xe8);
    }
    const std::string message = DecodeError(jpeg);
    EXPECT_EQ(message.rfind("JPEG Exception: \r\n", 0), 0u) << message;
    EXPECT_NE(message.find("65000 x 65000"), std::string::npos) << message;
}

TEST(JpegDecodeTest, APictureOfEndlessScansIsRefusedLooseOrStrict)
{
    // Each scan a valid step, so nothing but their number is wrong; the usual ten still decode.
    const std::string endless = ProgressiveJpeg(64, 48, true);
    EXPECT_EQ(DecodeError(endless), "JPEG Exception: \r\nThe picture has more than 500 scans");
    CJpegPicture kept;
    std::string problem;
    EXPECT_FALSE(kept.Adopt(std::vector<std::uint8_t>(endless.begin(), endless.end()), CRgbImage::kMaxPixels, problem));
    EXPECT_EQ(problem, "JPEG Exception: \r\nThe picture has more than 500 scans");
    const std::string usual = ProgressiveJpeg(64, 48, false);
    EXPECT_TRUE(kept.Adopt(std::vector<std::uint8_t>(usual.begin(), usual.end()), CRgbImage::kMaxPixels, problem));
    EXPECT_EQ(Decode(usual).width, 64);
}

TEST(JpegDecodeTest, TwoThreadsGetTheirOwnErrorMessages)
{
    auto decodeMany = [](std::string bytes, std::string expected, int* mismatches) {
        for (int i = 0; i < 300; ++i)
            if (DecodeError(bytes) != expected)
                ++*mismatches;
    };
    int mismatchesA = 0, mismatchesB = 0;
    std::thread a(decodeMany, "AB", "JPEG Exception: \r\nNot a JPEG file: starts with 0x41 0x42", &mismatchesA);
    std::thread b(decodeMany, "CD", "JPEG Exception: \r\nNot a JPEG file: starts with 0x43 0x44", &mismatchesB);
    a.join();
    b.join();
    EXPECT_EQ(mismatchesA, 0);
    EXPECT_EQ(mismatchesB, 0);
}

TEST(JpegEncodeTest, EmptyRecordIsRefusedAndSaveLeavesAnEmptyFile)
{
    TempDir dir;
    CRgbImage empty;
    EXPECT_FALSE(empty.SaveJpegFile(dir / "empty.jpg"));
    EXPECT_EQ(ReadFile(dir / "empty.jpg"), "");
    CRgbImage zeroWide = Decode(EncodeRgbJpeg(4, 4, Gradient(4, 4)));
    zeroWide.width = 0;
    FilePtr sink(std::fopen("/dev/null", "wb"));
    EXPECT_FALSE(zeroWide.EncodeJpeg(sink.get()));
    EXPECT_FALSE(CRgbImage().SaveJpegFile(dir / "missing-folder/x.jpg"));
}

TEST(FromBitmapTest, TakesOverThirtyTwoBitBitmapsOnly)
{
    platform::DeviceBitmap bitmap = platform::MakeDeviceBitmap32(5, 2);
    // Bottom row blue-ish, top row red-ish, in B, G, R, X order.
    for (int x = 0; x < 5; ++x) {
        std::uint8_t* bottom = bitmap.bits.data() + x * 4;
        std::uint8_t* top = bitmap.bits.data() + 20 + x * 4;
        bottom[0] = 200, bottom[1] = 10, bottom[2] = static_cast<std::uint8_t>(x), bottom[3] = 99;
        top[0] = 1, top[1] = 2, top[2] = 250, top[3] = 99;
    }
    CRgbImage image;
    ASSERT_TRUE(image.FromBitmap(bitmap));
    EXPECT_EQ(image.width, 5);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.stride, 16);
    ExpectColour(image, 3, 0, 250, 2, 1, 0);   // top row
    ExpectColour(image, 3, 1, 3, 10, 200, 0);  // bottom row

    platform::DeviceBitmap rgb24{7, 3, 24, std::vector<std::uint8_t>(3 * 24)};
    image.width = 11;
    image.height = 13;
    EXPECT_FALSE(image.FromBitmap(rgb24));
    EXPECT_FALSE(image.HasPicture());
    EXPECT_EQ(image.width, 11);
    EXPECT_EQ(image.height, 13);

    platform::DeviceBitmap short32 = platform::MakeDeviceBitmap32(4, 4);
    short32.bits.resize(4 * 4 * 3);  // a row missing
    EXPECT_FALSE(image.FromBitmap(short32));
    EXPECT_FALSE(image.HasPicture());
}

TEST(PixelBufferTest, BuffersNeverOverlapAndFreedOnesAreReused)
{
    // Many live buffers of mixed sizes, each filled with its own byte: none may share memory.
    std::vector<imaging::PixelBuffer> buffers;
    std::vector<std::size_t> sizes;
    for (int i = 0; i < 300; ++i) {
        const std::size_t size = (i % 3 == 0) ? 299520 : (i % 3 == 1) ? 1 + static_cast<std::size_t>(i) * 37 : (i % 30 == 2) ? (9u << 20) : 5000;
        buffers.push_back(imaging::AllocatePixels(size));
        ASSERT_NE(buffers.back(), nullptr);
        std::memset(buffers.back().get(), i & 0xff, size);
        sizes.push_back(size);
    }
    for (std::size_t i = 0; i < buffers.size(); ++i) {
        const std::uint8_t* p = buffers[i].get();
        ASSERT_EQ(p[0], i & 0xff);
        ASSERT_EQ(p[sizes[i] - 1], i & 0xff) << "buffer " << i;
    }
    // A freed buffer serves the next picture of the same size.
    std::uint8_t* freed = buffers[0].get();
    buffers[0].reset();
    imaging::PixelBuffer again = imaging::AllocatePixels(299520);
    ASSERT_NE(again, nullptr);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_EQ(again.get(), freed);
#else
    (void)freed;
#endif
}

namespace {

std::size_t ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    std::size_t total = 0, resident = 0;
    statm >> total >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace

TEST(PixelBufferTest, FreedPictureMemoryIsGivenBackPastTheBound)
{
    if (!imaging::PixelsArePooled())
        GTEST_SKIP() << "sanitizer builds take every buffer from the system";
    constexpr std::size_t kBuffer = std::size_t{1} << 20;
    constexpr int kCount = 640;  // well past the bound
    std::vector<imaging::PixelBuffer> buffers;
    for (int i = 0; i < kCount; ++i) {
        buffers.push_back(imaging::AllocatePixels(kBuffer));
        ASSERT_TRUE(buffers.back());
        std::memset(buffers.back().get(), 1, kBuffer);
    }
    const std::size_t held = ResidentBytes();
    buffers.clear();
    EXPECT_LE(imaging::IdlePixelBytes(), imaging::kMaxIdlePixelBytes);
    const std::size_t given = kCount * kBuffer - imaging::kMaxIdlePixelBytes;
    EXPECT_LT(ResidentBytes() + given * 9 / 10, held);
    // The slots are used again, those whose pages went back too.
    for (int i = 0; i < kCount; ++i) {
        buffers.push_back(imaging::AllocatePixels(kBuffer));
        ASSERT_TRUE(buffers.back());
        buffers.back()[kBuffer - 1] = 2;
    }
}

// The PNG encoder reuses its rows from picture to picture on a thread: a small picture after a
// large one is whole, and its rows are its own.
TEST(PngEncoderTest, APictureAfterALargerOneIsWholeAndItsOwn)
{
    auto picture = [](int width, int height, std::uint8_t seed) {
        CRgbImage image;
        image.width = width;
        image.height = height;
        image.stride = static_cast<std::int32_t>(CRgbImage::StrideFor(width));
        image.pixels = imaging::AllocatePixels(static_cast<std::size_t>(image.stride) * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width * 3; ++x)
                image.pixels[image.OffsetOf(0, y) + x] = static_cast<std::uint8_t>(seed + x * 7 + y * 13);
        return image;
    };
    // The filtered rows of a PNG of 8-bit RGB, inflated.
    auto rows = [](const std::vector<std::uint8_t>& png, std::size_t bytes) {
        const std::size_t idat = std::search(png.begin(), png.end(), std::begin("IDAT"), std::end("IDAT") - 1) - png.begin();
        const std::size_t length = static_cast<std::size_t>(png[idat - 4]) << 24 | png[idat - 3] << 16 | png[idat - 2] << 8 | png[idat - 1];
        std::vector<std::uint8_t> out(bytes);
        std::size_t got = 0;
        libdeflate_decompressor* inflater = libdeflate_alloc_decompressor();
        const auto result = libdeflate_zlib_decompress(inflater, png.data() + idat + 4, length, out.data(), out.size(), &got);
        libdeflate_free_decompressor(inflater);
        EXPECT_EQ(result, LIBDEFLATE_SUCCESS);
        out.resize(got);
        return out;
    };
    const CRgbImage large = picture(2000, 1200, 1), small = picture(384, 216, 99);
    const std::vector<std::uint8_t> first = imaging::EncodePng(small, {});
    ASSERT_FALSE(imaging::EncodePng(large, {}).empty());
    const std::vector<std::uint8_t> again = imaging::EncodePng(small, {});
    EXPECT_EQ(again, first);
    const std::vector<std::uint8_t> filtered = rows(again, (384 * 3 + 1) * 216);
    ASSERT_EQ(filtered.size(), (384u * 3 + 1) * 216);
    EXPECT_EQ(filtered[0], 1);                           // the Sub filter
    EXPECT_EQ(filtered[1], small.pixels[small.OffsetOf(0, 0) + 2]);  // the first pixel's red
}
