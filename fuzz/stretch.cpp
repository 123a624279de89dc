// StretchHalftone on a source of any size from 1 x 1 to 4096 x 4096 into the grid's 384 x 216
// and into a small size of 1 to 64 pixels a side. Input: 2 bytes each for the source width and
// height (big end first: the low 12 bits are the size - 1, shifted right by the high 4 bits, so
// that small sizes come up as often as large ones), one byte of layout (bit 0: top row stored
// first, bits 1-2: padding pixels per row, bits 4-7 all set: a large source), one byte each for
// the small width and height, then the pixel bytes, repeated to fill the source. A source has at
// most 64K pixels, a large one at most 1M, so that most runs stay fast: a taller one is cut to
// fit (1 x N, N x 1 and 1 x 1 are all reachable). Every target must have the size asked for,
// and each of its channels must lie between the smallest and the largest value of that channel
// in the source: an average never leaves that range. A source of at most 64 x 64 pixels
// stretched to its own size must come out unchanged.
#include "platform/BitmapStretch.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Reports which promise an input broke and stops: libFuzzer saves the input.
[[noreturn]] void Broken(const char* what)
{
    std::fprintf(stderr, "BROKEN: %s\n", what);
    std::abort();
}

constexpr int kGridWidth = 384;
constexpr int kGridHeight = 216;
constexpr std::size_t kMaxSourcePixels = std::size_t{1} << 16;
constexpr std::size_t kMaxLargeSourcePixels = std::size_t{1} << 20;

struct ChannelRange {
    std::uint8_t low[3] = {255, 255, 255};
    std::uint8_t high[3] = {0, 0, 0};
};

// The pixel at (x, y from the top) of a bottom-up bitmap.
const std::uint8_t* TargetPixel(const platform::DeviceBitmap& bitmap, int x, int y)
{
    return bitmap.bits.data() + static_cast<std::size_t>(bitmap.height - 1 - y) * bitmap.Stride() +
           static_cast<std::size_t>(x) * 4;
}

// The checks go over every target pixel; they are left out of the coverage that guides the
// fuzzer, which would only slow them down.
__attribute__((no_sanitize("coverage"))) void CheckTarget(const platform::DeviceBitmap& target, int width,
                                                          int height, const ChannelRange& range)
{
    if (target.width != width || target.height != height || target.bitsPerPixel != 32 ||
        target.Stride() != static_cast<std::size_t>(width) * 4 || target.RowsAvailable() != height)
        Broken("the target does not have the size asked for");
    const std::uint8_t* p = target.bits.data();
    const std::uint8_t* const end = p + static_cast<std::size_t>(width) * 4 * static_cast<std::size_t>(height);
    for (; p != end; p += 4) {
        if (p[0] < range.low[0] || p[0] > range.high[0] || p[1] < range.low[1] || p[1] > range.high[1] ||
            p[2] < range.low[2] || p[2] > range.high[2])
            Broken("a target channel lies outside the range of the source channel");
        if (p[3] != 0)
            Broken("the unused byte of a target pixel is not 0");
    }
}

// A stretch to the source's own size copies each pixel to its place.
__attribute__((no_sanitize("coverage"))) void CheckSameSize(const platform::DeviceBitmap& same,
                                                            const platform::PixelView& source)
{
    for (int y = 0; y < source.height; ++y) {
        const int stored = source.topRowFirst ? y : source.height - 1 - y;
        const std::uint8_t* in = source.firstRow + static_cast<std::ptrdiff_t>(stored) * source.stride;
        for (int x = 0; x < source.width; ++x)
            if (std::memcmp(TargetPixel(same, x, y), in + x * 4, 3) != 0)
                Broken("a stretch to the same size changed a pixel");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 7)
        return 0;
    const int width = 1 + (((data[0] & 0xf) << 8 | data[1]) >> std::min(data[0] >> 4, 11));
    int height = 1 + (((data[2] & 0xf) << 8 | data[3]) >> std::min(data[2] >> 4, 11));
    const std::size_t maxPixels = (data[4] & 0xf0) == 0xf0 ? kMaxLargeSourcePixels : kMaxSourcePixels;
    if (static_cast<std::size_t>(width) * static_cast<std::size_t>(height) > maxPixels)
        height = static_cast<int>(maxPixels / static_cast<std::size_t>(width));
    const bool topRowFirst = (data[4] & 1) != 0;
    const int padding = (data[4] >> 1) & 3;
    const int smallWidth = 1 + (data[5] & 63);
    const int smallHeight = 1 + (data[6] & 63);
    const std::uint8_t* pixels = data + 7;
    const std::size_t pixelBytes = size - 7;

    // The pixel bytes run on from row to row, the padding left out: the source is the input's
    // pixel bytes repeated. After 4 times their length every (byte, channel) pair has come up,
    // so the channel ranges are those of the first 4 * length bytes of the run.
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
    const std::size_t runBytes = rowBytes * static_cast<std::size_t>(height);
    std::vector<std::uint8_t> run(runBytes, 0x80);
    if (pixelBytes > 0) {
        std::size_t filled = std::min(pixelBytes, runBytes);
        std::memcpy(run.data(), pixels, filled);
        for (; filled < runBytes; filled *= 2)
            std::memcpy(run.data() + filled, run.data(), std::min(filled, runBytes - filled));
    }
    ChannelRange range;
    for (std::size_t i = 0; i < std::min(runBytes, std::max<std::size_t>(pixelBytes, 1) * 4); ++i)
        if (const int c = static_cast<int>(i % 4); c < 3) {
            range.low[c] = std::min(range.low[c], run[i]);
            range.high[c] = std::max(range.high[c], run[i]);
        }

    // Padding holds, where it can, a value outside the source's range: a stretch that read it
    // would show.
    const std::size_t stride = static_cast<std::size_t>(width + padding) * 4;
    std::vector<std::uint8_t> source;
    if (padding == 0) {
        source = std::move(run);
    } else {
        std::uint8_t pad[16];
        for (int p = 0; p < 16; ++p)
            pad[p] = p % 4 == 3 || range.low[p % 4] > 0 ? 0 : 0xff;
        source.resize(stride * static_cast<std::size_t>(height));
        for (int row = 0; row < height; ++row) {
            std::uint8_t* out = source.data() + static_cast<std::size_t>(row) * stride;
            std::memcpy(out, run.data() + static_cast<std::size_t>(row) * rowBytes, rowBytes);
            std::memcpy(out + rowBytes, pad, static_cast<std::size_t>(padding) * 4);
        }
    }

    platform::PixelView view;
    view.firstRow = source.data();
    view.stride = static_cast<std::ptrdiff_t>(stride);
    view.width = width;
    view.height = height;
    view.topRowFirst = topRowFirst;

    const platform::DeviceBitmap grid = platform::StretchHalftone(view, kGridWidth, kGridHeight);
    CheckTarget(grid, kGridWidth, kGridHeight, range);
    const platform::DeviceBitmap small = platform::StretchHalftone(view, smallWidth, smallHeight);
    CheckTarget(small, smallWidth, smallHeight, range);
    // The bitmap overload, from the grid picture.
    CheckTarget(platform::StretchHalftone(grid, smallWidth, smallHeight), smallWidth, smallHeight, range);

    if (width <= 64 && height <= 64) {
        const platform::DeviceBitmap same = platform::StretchHalftone(view, width, height);
        CheckTarget(same, width, height, range);
        CheckSameSize(same, view);
    }
    return 0;
}
