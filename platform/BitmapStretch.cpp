#include "platform/BitmapStretch.h"

#include <algorithm>
#include <vector>

namespace platform {
namespace {

// For one axis: the source cells each target cell covers and how much of each. Lengths are
// counted in units of 1/T of a source cell (T the target length), so target cell t covers the
// units [t * S, (t + 1) * S) exactly: every target cell covers at least one source cell, with a
// total weight of S, whatever the two lengths are.
struct Spans {
    std::vector<int> first;                 // first source cell of each target cell
    std::vector<int> count;                 // number of source cells
    std::vector<std::uint32_t> weights;     // `count` weights per target cell, back to back
    std::vector<std::size_t> weightStart;
    std::uint64_t total = 0;                // sum of each target cell's weights: S
};

Spans CoverageSpans(int sourceLength, int targetLength)
{
    const std::uint64_t unitsPerCell = static_cast<std::uint64_t>(targetLength);
    Spans spans;
    spans.total = static_cast<std::uint64_t>(sourceLength);
    for (int t = 0; t < targetLength; ++t) {
        const std::uint64_t begin = static_cast<std::uint64_t>(t) * static_cast<std::uint64_t>(sourceLength);
        const std::uint64_t end = begin + static_cast<std::uint64_t>(sourceLength);
        spans.first.push_back(static_cast<int>(begin / unitsPerCell));
        spans.weightStart.push_back(spans.weights.size());
        int count = 0;
        for (std::uint64_t cell = begin / unitsPerCell; cell * unitsPerCell < end; ++cell) {
            const std::uint64_t from = std::max(begin, cell * unitsPerCell);
            const std::uint64_t to = std::min(end, (cell + 1) * unitsPerCell);
            spans.weights.push_back(static_cast<std::uint32_t>(to - from));
            ++count;
        }
        spans.count.push_back(count);
    }
    return spans;
}

const std::uint8_t* SourceRow(const PixelView& source, int rowFromTop)
{
    const int stored = source.topRowFirst ? rowFromTop : source.height - 1 - rowFromTop;
    return source.firstRow + static_cast<std::ptrdiff_t>(stored) * source.stride;
}

}  // namespace

DeviceBitmap StretchHalftone(const PixelView& source, int width, int height)
{
    if (width <= 0 || height <= 0 || source.width <= 0 || source.height <= 0 || source.firstRow == nullptr)
        return {};
    DeviceBitmap target = MakeDeviceBitmap32(width, height);
    if (target.bits.empty())
        return target;
    const Spans columns = CoverageSpans(source.width, width);
    const Spans rows = CoverageSpans(source.height, height);

    // Vertical pass first, one target row at a time, into sums per source column; then the
    // horizontal pass turns them into the target row. A sum is at most 255 * S_h * S_w (times
    // the units): it fits 64 bits for any size.
    std::vector<std::uint64_t> columnSums(static_cast<std::size_t>(source.width) * 3);
    for (int y = 0; y < height; ++y) {
        std::fill(columnSums.begin(), columnSums.end(), 0);
        const std::size_t rowWeights = rows.weightStart[static_cast<std::size_t>(y)];
        for (int k = 0; k < rows.count[static_cast<std::size_t>(y)]; ++k) {
            const std::uint8_t* in = SourceRow(source, rows.first[static_cast<std::size_t>(y)] + k);
            const std::uint32_t weight = rows.weights[rowWeights + static_cast<std::size_t>(k)];
            std::uint64_t* sum = columnSums.data();
            for (int x = 0; x < source.width; ++x, in += 4, sum += 3) {
                sum[0] += static_cast<std::uint64_t>(in[0]) * weight;
                sum[1] += static_cast<std::uint64_t>(in[1]) * weight;
                sum[2] += static_cast<std::uint64_t>(in[2]) * weight;
            }
        }
        // Target rows are stored bottom row first.
        std::uint8_t* out = target.bits.data() + static_cast<std::size_t>(height - 1 - y) * target.Stride();
        const std::uint64_t area = rows.total * columns.total;  // never 0: both lengths are at least 1
        for (int x = 0; x < width; ++x) {
            const std::size_t start = columns.weightStart[static_cast<std::size_t>(x)];
            const std::uint64_t* sum = columnSums.data() + static_cast<std::size_t>(columns.first[static_cast<std::size_t>(x)]) * 3;
            std::uint64_t b = 0, g = 0, r = 0;
            for (int k = 0; k < columns.count[static_cast<std::size_t>(x)]; ++k, sum += 3) {
                const std::uint64_t weight = columns.weights[start + static_cast<std::size_t>(k)];
                b += sum[0] * weight;
                g += sum[1] * weight;
                r += sum[2] * weight;
            }
            out[x * 4] = static_cast<std::uint8_t>((b + area / 2) / area);
            out[x * 4 + 1] = static_cast<std::uint8_t>((g + area / 2) / area);
            out[x * 4 + 2] = static_cast<std::uint8_t>((r + area / 2) / area);
            out[x * 4 + 3] = 0;
        }
    }
    return target;
}

DeviceBitmap StretchHalftone(const DeviceBitmap& source, int width, int height)
{
    if (source.bitsPerPixel != 32 || source.RowsAvailable() != source.height)
        return {};
    PixelView view;
    view.firstRow = source.bits.data();
    view.stride = static_cast<std::ptrdiff_t>(source.Stride());
    view.width = source.width;
    view.height = source.height;
    view.topRowFirst = false;
    return StretchHalftone(view, width, height);
}

}  // namespace platform
