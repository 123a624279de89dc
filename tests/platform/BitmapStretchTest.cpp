#include "platform/BitmapStretch.h"

#include <gtest/gtest.h>

namespace {

// A bottom-up 32-bit bitmap from rows given top row first, one grey value per pixel.
platform::DeviceBitmap GreyBitmap(const std::vector<std::vector<int>>& rowsFromTop)
{
    const int height = static_cast<int>(rowsFromTop.size());
    const int width = static_cast<int>(rowsFromTop[0].size());
    platform::DeviceBitmap bitmap = platform::MakeDeviceBitmap32(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = bitmap.bits.data() + static_cast<std::size_t>(height - 1 - y) * bitmap.Stride() + x * 4;
            p[0] = p[1] = p[2] = static_cast<std::uint8_t>(rowsFromTop[y][x]);
        }
    return bitmap;
}

int GreyAt(const platform::DeviceBitmap& bitmap, int x, int yFromTop)
{
    return bitmap.bits[static_cast<std::size_t>(bitmap.height - 1 - yFromTop) * bitmap.Stride() + x * 4];
}

}  // namespace

TEST(BitmapStretchTest, AveragesTheAreaEachTargetPixelCovers)
{
    // 4 x 2 to 2 x 1: each target pixel is the mean of a 2 x 2 block.
    const auto halved = platform::StretchHalftone(GreyBitmap({{0, 100, 200, 40}, {20, 80, 0, 0}}), 2, 1);
    ASSERT_EQ(halved.width, 2);
    EXPECT_EQ(GreyAt(halved, 0, 0), 50);
    EXPECT_EQ(GreyAt(halved, 1, 0), 60);

    // 3 to 2: the middle source pixel is shared half and half (never nearest neighbour).
    const auto thirds = platform::StretchHalftone(GreyBitmap({{0, 90, 180}}), 2, 1);
    EXPECT_EQ(GreyAt(thirds, 0, 0), 30);   // (0 * 1 + 90 * 0.5) / 1.5
    EXPECT_EQ(GreyAt(thirds, 1, 0), 150);  // (90 * 0.5 + 180 * 1) / 1.5
}

TEST(BitmapStretchTest, KeepsOrientationFromEitherRowOrder)
{
    // White top half, black bottom half, as a top-row-first buffer.
    std::vector<std::uint8_t> topDown(8 * 8 * 4, 0);
    for (int y = 0; y < 4; ++y)
        std::fill(topDown.begin() + y * 32, topDown.begin() + y * 32 + 32, 255);
    platform::PixelView view{topDown.data(), 32, 8, 8, true};
    const auto stretched = platform::StretchHalftone(view, 4, 2);
    EXPECT_EQ(GreyAt(stretched, 1, 0), 255);
    EXPECT_EQ(GreyAt(stretched, 1, 1), 0);

    // Upscaling repeats pixels smoothly too, and the fourth byte is always 0.
    const auto bigger = platform::StretchHalftone(GreyBitmap({{10, 250}}), 4, 2);
    EXPECT_EQ(GreyAt(bigger, 0, 0), 10);
    EXPECT_EQ(GreyAt(bigger, 3, 1), 250);
    EXPECT_EQ(bigger.bits[3], 0);

    EXPECT_TRUE(platform::StretchHalftone(platform::DeviceBitmap{}, 4, 2).bits.empty());
    EXPECT_TRUE(platform::StretchHalftone(GreyBitmap({{1}}), 0, 2).bits.empty());
}

namespace {

// The area average of the source under target pixel (x, y), in floating point.
double ReferenceGrey(const std::vector<std::vector<int>>& rows, int width, int height, int x, int y)
{
    const double sw = static_cast<double>(rows[0].size()), sh = static_cast<double>(rows.size());
    const double x0 = x * sw / width, x1 = (x + 1) * sw / width, y0 = y * sh / height, y1 = (y + 1) * sh / height;
    double sum = 0, area = 0;
    for (int sy = 0; sy < static_cast<int>(sh); ++sy)
        for (int sx = 0; sx < static_cast<int>(sw); ++sx) {
            const double w = std::max(0.0, std::min(x1, sx + 1.0) - std::max(x0, static_cast<double>(sx))) *
                             std::max(0.0, std::min(y1, sy + 1.0) - std::max(y0, static_cast<double>(sy)));
            sum += w * rows[static_cast<std::size_t>(sy)][static_cast<std::size_t>(sx)];
            area += w;
        }
    return sum / area;
}

}  // namespace

TEST(BitmapStretchTest, TinySourcesFillTheGridCellLikeTheAreaAverage)
{
    // 1 x N, N x 1, 1 x 1 and 2 x 2 sources into the grid's thumbnail size and a few others: every
    // target pixel covers some source, and matches the area average to within rounding.
    const std::vector<std::vector<std::vector<int>>> sources = {
        {{200}},
        {{10, 250}, {90, 30}},
        {{0}, {60}, {120}, {180}, {240}, {255}, {30}, {90}, {150}, {210}, {5}, {77}, {13}, {99}, {201}, {42}},
        {{0, 60, 120, 180, 240, 255, 30, 90, 150, 210, 5, 77, 13, 99, 201, 42}},
    };
    for (const auto& rows : sources)
        for (const auto& [w, h] : {std::pair{384, 216}, std::pair{1, 1}, std::pair{3, 700}, std::pair{1000, 2}}) {
            const auto stretched = platform::StretchHalftone(GreyBitmap(rows), w, h);
            ASSERT_EQ(stretched.width, w);
            ASSERT_EQ(stretched.height, h);
            for (int y = 0; y < h; y += std::max(1, h / 7))
                for (int x = 0; x < w; x += std::max(1, w / 9))
                    EXPECT_NEAR(GreyAt(stretched, x, y), ReferenceGrey(rows, w, h, x, y), 0.5 + 1e-9)
                        << rows[0].size() << "x" << rows.size() << " to " << w << "x" << h << " at " << x << "," << y;
        }
}

// The per-pixel loops are built for AVX-512, AVX2 and any processor: each that this processor
// runs gives the very pixels of the plain build, from a decoder's planes (progressive and
// interlaced, studio and full range, sizes that divide evenly and sizes that do not) and from
// 32-bit pixels.
TEST(BitmapStretchTest, EveryVectorBuildGivesThePixelsOfThePlainOne)
{
    std::uint32_t seed = 12345;
    auto next = [&] { return static_cast<std::uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24); };
    std::vector<std::uint8_t> luma(1920 * 1080), blue(960 * 540), red(960 * 540), pixels(333 * 97 * 4);
    for (auto* plane : {&luma, &blue, &red, &pixels})
        for (std::uint8_t& sample : *plane)
            sample = next();
    const platform::PlaneView y{luma.data(), 1920, 1920, 1080}, cb{blue.data(), 960, 960, 540}, cr{red.data(), 960, 960, 540};
    auto stretchAll = [&] {
        std::vector<platform::DeviceBitmap> made;
        for (const bool interlaced : {false, true})
            for (const bool fullRange : {false, true})
                for (const auto& [width, height] : {std::pair{384, 216}, std::pair{250, 141}})
                    made.push_back(platform::StretchYcbcrHalftone(y, cb, cr, {0.2126, 0.0722, fullRange, interlaced},
                                                                  width, height));
        made.push_back(platform::StretchHalftone(platform::PixelView{pixels.data(), 333 * 4, 333, 97, true}, 100, 31));
        return made;
    };
    const std::vector<platform::StretchVectors> builds = platform::StretchVectorsThisProcessorRuns();
    ASSERT_EQ(builds.front(), platform::StretchVectors::Default);
    ASSERT_TRUE(platform::UseStretchVectors(platform::StretchVectors::Default));
    const std::vector<platform::DeviceBitmap> plain = stretchAll();
    for (const platform::StretchVectors build : builds) {
        ASSERT_TRUE(platform::UseStretchVectors(build));
        const std::vector<platform::DeviceBitmap> made = stretchAll();
        for (std::size_t i = 0; i < plain.size(); ++i)
            EXPECT_TRUE(made[i].bits == plain[i].bits && !made[i].bits.empty()) << static_cast<int>(build) << " " << i;
    }
    ASSERT_TRUE(platform::UseStretchVectors(builds.back()));
    if (builds.back() != platform::StretchVectors::Avx512) {
        EXPECT_FALSE(platform::UseStretchVectors(platform::StretchVectors::Avx512));
    }
}
