#include "platform/BitmapStretch.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace platform {
namespace {

// For one axis: the source cells each target cell covers and how much of each, in 1/65536ths
// of a source cell, so that each target cell's weights sum to its width in source cells.
struct Span {
    int first = 0;
    std::vector<std::uint32_t> weights;
    std::uint64_t total = 0;
};

std::vector<Span> CoverageSpans(int sourceLength, int targetLength)
{
    std::vector<Span> spans(static_cast<std::size_t>(targetLength));
    // Target cell t covers source [t * s / T, (t + 1) * s / T), in fixed point.
    const std::uint64_t scale = 65536;
    for (int t = 0; t < targetLength; ++t) {
        const std::uint64_t begin = static_cast<std::uint64_t>(t) * sourceLength * scale / targetLength;
        const std::uint64_t end = static_cast<std::uint64_t>(t + 1) * sourceLength * scale / targetLength;
        Span& span = spans[static_cast<std::size_t>(t)];
        span.first = static_cast<int>(begin / scale);
        for (std::uint64_t cell = begin / scale; cell * scale < end; ++cell) {
            const std::uint64_t from = std::max(begin, cell * scale);
            const std::uint64_t to = std::min(end, (cell + 1) * scale);
            span.weights.push_back(static_cast<std::uint32_t>(to - from));
            span.total += to - from;
        }
    }
    return spans;
}

}  // namespace

DeviceBitmap StretchHalftone(const DeviceBitmap& source, int width, int height, bool flipVertically)
{
    if (width <= 0 || height <= 0 || source.bitsPerPixel != 32 || source.RowsAvailable() != source.height ||
        source.width <= 0 || source.height <= 0)
        return {};
    DeviceBitmap target = MakeDeviceBitmap32(width, height);
    if (target.bits.empty())
        return target;
    const std::vector<Span> columns = CoverageSpans(source.width, width);
    const std::vector<Span> rows = CoverageSpans(source.height, height);
    const std::size_t sourceStride = source.Stride();
    const std::size_t targetStride = target.Stride();

    // Horizontal pass into one row of sums per source row (3 channels), then vertical.
    std::vector<std::uint64_t> narrowed(static_cast<std::size_t>(width) * 3 * static_cast<std::size_t>(source.height));
    for (int y = 0; y < source.height; ++y) {
        const std::uint8_t* in = source.bits.data() + static_cast<std::size_t>(y) * sourceStride;
        std::uint64_t* out = narrowed.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 3;
        for (int x = 0; x < width; ++x) {
            const Span& span = columns[static_cast<std::size_t>(x)];
            std::uint64_t b = 0, g = 0, r = 0;
            for (std::size_t k = 0; k < span.weights.size(); ++k) {
                const std::uint8_t* pixel = in + static_cast<std::size_t>(span.first + static_cast<int>(k)) * 4;
                b += static_cast<std::uint64_t>(pixel[0]) * span.weights[k];
                g += static_cast<std::uint64_t>(pixel[1]) * span.weights[k];
                r += static_cast<std::uint64_t>(pixel[2]) * span.weights[k];
            }
            out[x * 3] = b;
            out[x * 3 + 1] = g;
            out[x * 3 + 2] = r;
        }
    }
    for (int y = 0; y < height; ++y) {
        const Span& span = rows[static_cast<std::size_t>(y)];
        const int targetRow = flipVertically ? height - 1 - y : y;
        std::uint8_t* out = target.bits.data() + static_cast<std::size_t>(targetRow) * targetStride;
        for (int x = 0; x < width; ++x) {
            const std::uint64_t columnTotal = columns[static_cast<std::size_t>(x)].total;
            std::uint64_t sums[3] = {0, 0, 0};
            for (std::size_t k = 0; k < span.weights.size(); ++k) {
                const std::uint64_t* in = narrowed.data() +
                                          (static_cast<std::size_t>(span.first) + k) * static_cast<std::size_t>(width) * 3 +
                                          static_cast<std::size_t>(x) * 3;
                for (int c = 0; c < 3; ++c)
                    sums[c] += in[c] * span.weights[k];
            }
            const std::uint64_t cellArea = span.total * columnTotal;
            for (int c = 0; c < 3; ++c)
                out[x * 4 + c] = static_cast<std::uint8_t>((sums[c] + cellArea / 2) / cellArea);
            out[x * 4 + 3] = 0;
        }
    }
    return target;
}

}  // namespace platform
