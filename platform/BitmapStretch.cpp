#include "platform/BitmapStretch.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

namespace platform {
namespace {

// The loops over every pixel are built three times, for AVX-512 (x86-64-v4), for AVX2 and for
// any x86-64, and the widest the processor runs is chosen at the first stretch. The body of each
// is written once and inlined into its three builds, so all three give the same pixels (a test
// runs each that the processor can).
#define VIEWMERE_PIXEL_LOOP [[gnu::always_inline]] inline
#define VIEWMERE_CLONES(name, parameters, arguments)                                               \
    __attribute__((target("arch=x86-64-v4"))) void name##Avx512 parameters { name arguments; }   \
    __attribute__((target("avx2"))) void name##Avx2 parameters { name arguments; }               \
    void name##Default parameters { name arguments; }                                            \
    auto name##Built()                                                                           \
    {                                                                                            \
        const StretchVectors level = ChosenVectors();                                            \
        return level == StretchVectors::Avx512 ? name##Avx512 : level == StretchVectors::Avx2 ? name##Avx2 \
                                                                                             : name##Default; \
    }

std::atomic<int> chosenVectors{-1};

StretchVectors WidestVectorsThisProcessorRuns()
{
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl"))
        return StretchVectors::Avx512;
    return __builtin_cpu_supports("avx2") ? StretchVectors::Avx2 : StretchVectors::Default;
}

StretchVectors ChosenVectors()
{
    int level = chosenVectors.load(std::memory_order_relaxed);
    if (level < 0) {
        level = static_cast<int>(WidestVectorsThisProcessorRuns());
        chosenVectors.store(level, std::memory_order_relaxed);
    }
    return static_cast<StretchVectors>(level);
}

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

// When every target cell covers the same whole number of source cells (1920 to 384, 1080 to
// 216), every weight is the same: the number of source cells per target cell, or 0 otherwise.
int UniformCount(const Spans& spans)
{
    const std::size_t cells = spans.first.size();
    if (cells == 0 || spans.total % cells != 0)
        return 0;
    const int count = static_cast<int>(spans.total / cells);
    for (std::size_t t = 0; t < cells; ++t)
        if (spans.count[t] != count || spans.first[t] != count * static_cast<int>(t))
            return 0;
    return count;
}

// The horizontal pass: each target cell's three channel sums (interleaved) from the per-column
// sums of its source columns, times their weights, times the weight the vertical pass left out
// (`rowScale`, 1 when it weighted each row itself).
VIEWMERE_PIXEL_LOOP void AddColumnSpans(const std::uint32_t* __restrict columnSums, std::size_t plane,
                                            const Spans& columns, int uniformCount, int width,
                                            std::uint64_t rowScale, std::uint64_t* __restrict out)
{
    const std::uint32_t* __restrict green = columnSums + plane;
    const std::uint32_t* __restrict red = columnSums + 2 * plane;
    if (uniformCount > 0) {
        // Each weight is the target length: sum first, multiply once.
        const std::uint64_t weight = static_cast<std::uint64_t>(width) * rowScale;
        const std::size_t count = static_cast<std::size_t>(uniformCount);
        for (std::size_t x = 0; x < static_cast<std::size_t>(width); ++x, out += 3) {
            std::uint64_t b = 0, g = 0, r = 0;
            for (std::size_t k = x * count; k < (x + 1) * count; ++k) {
                b += columnSums[k];
                g += green[k];
                r += red[k];
            }
            out[0] = b * weight;
            out[1] = g * weight;
            out[2] = r * weight;
        }
        return;
    }
    for (int x = 0; x < width; ++x, out += 3) {
        const std::size_t cell = static_cast<std::size_t>(x);
        const std::uint32_t* weights = columns.weights.data() + columns.weightStart[cell];
        const std::size_t first = static_cast<std::size_t>(columns.first[cell]);
        std::uint64_t b = 0, g = 0, r = 0;
        for (int k = 0; k < columns.count[cell]; ++k) {
            const std::uint64_t weight = weights[k];
            b += columnSums[first + static_cast<std::size_t>(k)] * weight;
            g += green[first + static_cast<std::size_t>(k)] * weight;
            r += red[first + static_cast<std::size_t>(k)] * weight;
        }
        out[0] = b * rowScale;
        out[1] = g * rowScale;
        out[2] = r * rowScale;
    }
}
VIEWMERE_CLONES(AddColumnSpans, (const std::uint32_t* __restrict columnSums, std::size_t plane, const Spans& columns, int uniformCount, int width, std::uint64_t rowScale, std::uint64_t* __restrict out), (columnSums, plane, columns, uniformCount, width, rowScale, out))


// Area-averages three channels to a target of the spans' size, handing each target row's sums
// (blue, green, red interleaved, and the area they are over) to `emit`. Vertical pass first, one
// target row at a time: `accumulate(row, weight, sums, first)` adds a source row's channels, times
// the weight, into per-column sums kept one plane a channel (sums[c * sourceWidth + x]), so that
// the pass over every source pixel runs over contiguous memory and vectorises; the first row of
// each target row stores its channels instead, so the sums need no clearing of their own. A column's sum
// is at most 255 * S_h (times the units): 32 bits; a target cell's is at most 255 * S_h * S_w:
// 64 bits for any size. Then the horizontal pass.
template <typename Accumulate, typename Emit>
void AverageArea(int sourceWidth, const Spans& columns, const Spans& rows, const Accumulate& accumulate,
                 const Emit& emit)
{
    constexpr int kChannels = 3;
    const int width = static_cast<int>(columns.first.size()), height = static_cast<int>(rows.first.size());
    const std::size_t plane = static_cast<std::size_t>(sourceWidth);
    const std::uint64_t area = rows.total * columns.total;  // never 0: both lengths are at least 1
    std::vector<std::uint32_t> columnSums(plane * kChannels);
    std::vector<std::uint64_t> targetSums(static_cast<std::size_t>(width) * kChannels);
    const int uniformCount = UniformCount(columns);
    // When every source row weighs the same (1080 to 216), rows are added unweighted and the
    // weight is applied once per target cell: the same sums, without a multiplication per pixel.
    const bool uniformRows = UniformCount(rows) > 0;
    const auto addColumnSpans = AddColumnSpansBuilt();
    const std::uint64_t rowScale = uniformRows ? rows.weights.front() : 1;
    for (int y = 0; y < height; ++y) {
        const std::size_t rowWeights = rows.weightStart[static_cast<std::size_t>(y)];
        for (int k = 0; k < rows.count[static_cast<std::size_t>(y)]; ++k)
            accumulate(rows.first[static_cast<std::size_t>(y)] + k,
                       uniformRows ? 1u : rows.weights[rowWeights + static_cast<std::size_t>(k)], columnSums.data(),
                       k == 0);
        addColumnSpans(columnSums.data(), plane, columns, uniformCount, width, rowScale, targetSums.data());
        emit(y, targetSums.data(), area);
    }
}

// Writes a target row's averages, rounded, into a bottom-up 32-bit bitmap. A multiplication by
// the area's inverse, put right by one where the floating point fell on the wrong side, instead
// of a division per channel: the same quotients at a fraction of the time.
void PutTargetRow(DeviceBitmap& target, int y, const std::uint64_t* sums, std::uint64_t area)
{
    std::uint8_t* out = target.bits.data() + static_cast<std::size_t>(target.height - 1 - y) * target.Stride();
    const double inverse = 1.0 / static_cast<double>(area);
    const std::uint64_t half = area / 2;
    for (int x = 0; x < target.width; ++x, sums += 3, out += 4) {
        for (int c = 0; c < 3; ++c) {
            const std::uint64_t n = sums[c] + half;
            std::uint64_t q = static_cast<std::uint64_t>(static_cast<double>(n) * inverse);
            q -= q * area > n ? 1 : 0;
            q += (q + 1) * area <= n ? 1 : 0;
            out[c] = static_cast<std::uint8_t>(q);
        }
        out[3] = 0;
    }
}

const std::uint8_t* SourceRow(const PixelView& source, int rowFromTop)
{
    const int stored = source.topRowFirst ? rowFromTop : source.height - 1 - rowFromTop;
    return source.firstRow + static_cast<std::ptrdiff_t>(stored) * source.stride;
}

// The integer form of a YCbCr to RGB matrix, in 1/4096.
struct Coefficients {
    int lumaOffset = 16;
    int luma = 0, redFromCr = 0, blueFromCb = 0, greenFromCb = 0, greenFromCr = 0;
};

std::uint32_t Clip(int value)
{
    return static_cast<std::uint32_t>(std::min(std::max(value, 0), 255));
}

// Adds a row of pixels converted to RGB, times the weight, into per-channel column sums (or
// stores them there, for the first row of a sum). Branch-free over arrays that cannot overlap,
// so the compiler vectorises it.
template <bool kWeighted, bool kStore>
[[gnu::always_inline]] inline void AddConvertedRowBody(
    const std::uint8_t* __restrict luma, const std::int16_t* __restrict cbs, const std::int16_t* __restrict crs,
    std::size_t width, const Coefficients k, std::uint32_t weight, std::uint32_t* __restrict blue,
    std::uint32_t* __restrict green, std::uint32_t* __restrict red)
{
    const std::uint32_t w = kWeighted ? weight : 1;
    for (std::size_t x = 0; x < width; ++x) {
        // GStreamer's 8-bit converter truncates its products and offsets, which leaves its
        // colours about one level below exact arithmetic: the same here, so pictures stay as
        // the converter made them.
        const int l = (luma[x] - k.lumaOffset) * k.luma - 2048;
        const int cb = cbs[x] - 128, cr = crs[x] - 128;
        const std::uint32_t b = Clip((l + k.blueFromCb * cb) >> 12) * w;
        const std::uint32_t g = Clip((l - k.greenFromCb * cb - k.greenFromCr * cr) >> 12) * w;
        const std::uint32_t r = Clip((l + k.redFromCr * cr) >> 12) * w;
        blue[x] = kStore ? b : blue[x] + b;
        green[x] = kStore ? g : green[x] + g;
        red[x] = kStore ? r : red[x] + r;
    }
}

VIEWMERE_PIXEL_LOOP void AddConvertedRow(const std::uint8_t* __restrict luma, const std::int16_t* __restrict cbs,
                                             const std::int16_t* __restrict crs, std::size_t width,
                                             const Coefficients k, std::uint32_t weight, bool store,
                                             std::uint32_t* __restrict blue, std::uint32_t* __restrict green,
                                             std::uint32_t* __restrict red)
{
    if (weight == 1 && store)
        AddConvertedRowBody<false, true>(luma, cbs, crs, width, k, 1, blue, green, red);
    else if (weight == 1)
        AddConvertedRowBody<false, false>(luma, cbs, crs, width, k, 1, blue, green, red);
    else if (store)
        AddConvertedRowBody<true, true>(luma, cbs, crs, width, k, weight, blue, green, red);
    else
        AddConvertedRowBody<true, false>(luma, cbs, crs, width, k, weight, blue, green, red);
}
VIEWMERE_CLONES(AddConvertedRow, (const std::uint8_t* __restrict luma, const std::int16_t* __restrict cbs, const std::int16_t* __restrict crs, std::size_t width, const Coefficients k, std::uint32_t weight, bool store, std::uint32_t* __restrict blue, std::uint32_t* __restrict green, std::uint32_t* __restrict red), (luma, cbs, crs, width, k, weight, store, blue, green, red))


// A chroma row between two: (16 - past) sixteenths of the first and past of the second, rounded.
VIEWMERE_PIXEL_LOOP void BlendChromaRows(const std::uint8_t* __restrict first, const std::uint8_t* __restrict second,
                                             int past, std::size_t count, std::int16_t* __restrict out)
{
    const int keep = 16 - past;
    for (std::size_t k = 0; k < count; ++k)
        out[k] = static_cast<std::int16_t>((keep * first[k] + past * second[k] + 8) >> 4);
}
VIEWMERE_CLONES(BlendChromaRows, (const std::uint8_t* __restrict first, const std::uint8_t* __restrict second, int past, std::size_t count, std::int16_t* __restrict out), (first, second, past, count, out))


// A chroma line at full width: each sample on its even column, the odd columns between two
// interpolated (or repeated), the last odd column repeated.
VIEWMERE_PIXEL_LOOP void SpreadChromaLine(const std::int16_t* __restrict in, std::size_t chroma, bool interpolate,
                                              std::int16_t* __restrict out, std::size_t width)
{
    const std::size_t pairs = std::min(chroma, width / 2);
    if (interpolate) {
        for (std::size_t k = 0; k + 1 < pairs; ++k) {
            out[2 * k] = in[k];
            out[2 * k + 1] = static_cast<std::int16_t>((in[k] + in[k + 1] + 1) >> 1);
        }
    } else {
        for (std::size_t k = 0; k + 1 < pairs; ++k) {
            out[2 * k] = in[k];
            out[2 * k + 1] = in[k];
        }
    }
    for (std::size_t x = pairs > 0 ? 2 * pairs - 2 : 0; x < width; ++x)
        out[x] = in[std::min(x / 2, chroma - 1)];  // the last pair, and columns past the chroma
}
VIEWMERE_CLONES(SpreadChromaLine, (const std::int16_t* __restrict in, std::size_t chroma, bool interpolate, std::int16_t* __restrict out, std::size_t width), (in, chroma, interpolate, out, width))


// Turns luma rows of a planar YCbCr picture into blue, green and red, one row at a time, the chroma
// brought to full size first as GStreamer's converter brings it: horizontally sited on the even
// luma columns and interpolated between them on the odd ones (progressive frames: repeated);
// vertically, a progressive frame's chroma row serves two luma rows, and an interlaced frame's
// fields each interpolate their own chroma rows, sited a quarter (top field) or three quarters
// (bottom field) of the way from one of the field's lines to the next. Integer arithmetic in
// 1/4096 as in an 8-bit converter, every colour clipped to 0..255 pixel by pixel.
class RowConverter {
public:
    RowConverter(const PlaneView& luma, const PlaneView& blue, const PlaneView& red, const YcbcrFormat& format)
        : luma_(luma), blue_(blue), red_(red), format_(format),
          line_(static_cast<std::size_t>(blue.width)), blueFull_(static_cast<std::size_t>(luma.width)), redFull_(static_cast<std::size_t>(luma.width))
    {
        const double lumaScale = format.fullRange ? 1.0 : 255.0 / 219.0;
        const double chromaScale = format.fullRange ? 1.0 : 255.0 / 224.0;
        const double kg = 1.0 - format.kr - format.kb;
        auto fixed = [](double value) { return static_cast<int>(std::lround(value * 4096.0)); };
        coefficients_.lumaOffset = format.fullRange ? 0 : 16;
        coefficients_.luma = fixed(lumaScale);
        coefficients_.redFromCr = fixed(chromaScale * 2.0 * (1.0 - format.kr));
        coefficients_.blueFromCb = fixed(chromaScale * 2.0 * (1.0 - format.kb));
        coefficients_.greenFromCb = fixed(chromaScale * 2.0 * (1.0 - format.kb) * format.kb / kg);
        coefficients_.greenFromCr = fixed(chromaScale * 2.0 * (1.0 - format.kr) * format.kr / kg);
    }

    // Adds luma row y's colours, times the weight, into the per-channel column sums (stores
    // them, for the first row of a sum).
    void Accumulate(int y, std::uint32_t weight, std::uint32_t* sums, bool store)
    {
        ChromaOf(y);
        const std::size_t width = static_cast<std::size_t>(luma_.width);
        AddConvertedRowBuilt()(luma_.firstRow + static_cast<std::ptrdiff_t>(y) * luma_.stride, blueFull_.data(), redFull_.data(),
                        width, coefficients_, weight, store, sums, sums + width, sums + 2 * width);
    }

private:
    // Which chroma rows a luma row blends, and how much of the second (in sixteenths).
    struct ChromaSource {
        int first = -1, second = -1, past = 0;
        bool operator==(const ChromaSource&) const = default;
    };

    ChromaSource SourceOf(int y) const
    {
        ChromaSource source;
        source.first = std::min(y * blue_.height / std::max(luma_.height, 1), blue_.height - 1);
        source.second = source.first;
        if (format_.interlaced) {
            const int field = y & 1, line = y >> 1;
            const int rows = (blue_.height - field + 1) / 2;  // the field's chroma rows: field, field + 2, ...
            // Positions in sixteenths of a field line: the field's row j at 2j + 1/4 (bottom: + 3/4).
            const int at = 16 * line, start = 4 + 8 * field;
            const int j = at < start ? 0 : std::min((at - start) / 32, std::max(rows - 1, 0));
            source.first = 2 * j + field;
            source.second = j + 1 < rows ? source.first + 2 : source.first;
            source.past = at < start || j + 1 >= rows ? 0 : (at - start - 32 * j) / 2;
        }
        return source;
    }

    const std::uint8_t* ChromaRowAt(const PlaneView& plane, int row) const
    {
        return plane.firstRow + static_cast<std::ptrdiff_t>(std::clamp(row, 0, plane.height - 1)) * plane.stride;
    }

    // The full-width chroma of luma row y; kept when the row before had the same (a progressive
    // frame's rows in pairs).
    void ChromaOf(int y)
    {
        const ChromaSource source = SourceOf(y);
        if (source == made_)
            return;
        made_ = source;
        const std::size_t chroma = static_cast<std::size_t>(blue_.width);
        BlendChromaRowsBuilt()(ChromaRowAt(blue_, source.first), ChromaRowAt(blue_, source.second), source.past, chroma,
                        line_.data());
        SpreadChromaLineBuilt()(line_.data(), chroma, format_.interlaced, blueFull_.data(), blueFull_.size());
        BlendChromaRowsBuilt()(ChromaRowAt(red_, source.first), ChromaRowAt(red_, source.second), source.past, chroma,
                        line_.data());
        SpreadChromaLineBuilt()(line_.data(), chroma, format_.interlaced, redFull_.data(), redFull_.size());
    }

    PlaneView luma_, blue_, red_;
    YcbcrFormat format_;
    std::vector<std::int16_t> line_, blueFull_, redFull_;
    ChromaSource made_;  // what blueFull_ and redFull_ hold
    Coefficients coefficients_;
};

bool HasSamples(const PlaneView& plane)
{
    return plane.firstRow != nullptr && plane.width > 0 && plane.height > 0;
}

}  // namespace

DeviceBitmap StretchHalftone(const PixelView& source, int width, int height)
{
    if (width <= 0 || height <= 0 || source.width <= 0 || source.height <= 0 || source.firstRow == nullptr)
        return {};
    DeviceBitmap target = MakeDeviceBitmap32(width, height);
    if (target.bits.empty())
        return target;
    const std::size_t plane = static_cast<std::size_t>(source.width);
    auto accumulate = [&](int y, std::uint32_t weight, std::uint32_t* sums, bool store) {
        const std::uint8_t* __restrict in = SourceRow(source, y);
        std::uint32_t* __restrict blue = sums;
        std::uint32_t* __restrict green = sums + plane;
        std::uint32_t* __restrict red = sums + 2 * plane;
        if (store)
            std::fill(sums, sums + 3 * plane, 0);
        for (std::size_t x = 0; x < plane; ++x) {
            blue[x] += static_cast<std::uint32_t>(in[4 * x]) * weight;
            green[x] += static_cast<std::uint32_t>(in[4 * x + 1]) * weight;
            red[x] += static_cast<std::uint32_t>(in[4 * x + 2]) * weight;
        }
    };
    AverageArea(source.width, CoverageSpans(source.width, width), CoverageSpans(source.height, height), accumulate,
                [&](int y, const std::uint64_t* sums, std::uint64_t area) { PutTargetRow(target, y, sums, area); });
    return target;
}

DeviceBitmap StretchYcbcrHalftone(const PlaneView& luma, const PlaneView& blue, const PlaneView& red,
                                  const YcbcrFormat& format, int width, int height)
{
    if (width <= 0 || height <= 0 || !HasSamples(luma) || !HasSamples(blue) || !HasSamples(red) ||
        blue.width != red.width || blue.height != red.height)
        return {};
    DeviceBitmap target = MakeDeviceBitmap32(width, height);
    if (target.bits.empty())
        return target;
    RowConverter rows(luma, blue, red, format);
    AverageArea(luma.width, CoverageSpans(luma.width, width), CoverageSpans(luma.height, height),
                [&](int y, std::uint32_t weight, std::uint32_t* sums, bool store) {
                    rows.Accumulate(y, weight, sums, store);
                },
                [&](int y, const std::uint64_t* sums, std::uint64_t area) { PutTargetRow(target, y, sums, area); });
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

std::vector<StretchVectors> StretchVectorsThisProcessorRuns()
{
    std::vector<StretchVectors> runs;
    for (int level = 0; level <= static_cast<int>(WidestVectorsThisProcessorRuns()); ++level)
        runs.push_back(static_cast<StretchVectors>(level));
    return runs;
}

bool UseStretchVectors(StretchVectors vectors)
{
    if (vectors > WidestVectorsThisProcessorRuns())
        return false;
    chosenVectors.store(static_cast<int>(vectors), std::memory_order_relaxed);
    return true;
}

}  // namespace platform
