#include "imaging/PngEncoder.h"

#include <libdeflate.h>

#include <algorithm>
#include <memory>
#include <new>

namespace imaging {

namespace {

constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr std::uint8_t kFilterSub = 1;

struct CompressorFree {
    void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

void PutBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// One chunk: its length, its type and data, and the CRC of type and data.
void PutChunk(std::vector<std::uint8_t>& out, const char (&type)[5], const std::uint8_t* data, std::size_t size)
{
    PutBigEndian(out, static_cast<std::uint32_t>(size));
    const std::size_t typeStart = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + size);
    PutBigEndian(out, libdeflate_crc32(0, out.data() + typeStart, size + 4));
}

bool IsKeyword(const std::string& keyword)
{
    return !keyword.empty() && keyword.size() < 80 &&
           std::all_of(keyword.begin(), keyword.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
}

// The rows top to bottom, each a filter byte and the difference of every RGB byte from the one
// of the pixel to its left: photographic pictures deflate about a tenth smaller so, for the
// cost of one subtraction.
void FilterRows(const CRgbImage& picture, std::vector<std::uint8_t>& rows)
{
    const std::size_t rowBytes = static_cast<std::size_t>(picture.width) * 3u;
    rows.resize((rowBytes + 1) * static_cast<std::size_t>(picture.height));
    std::uint8_t* target = rows.data();
    for (int y = 0; y < picture.height; ++y) {
        const std::uint8_t* bgr = picture.pixels.get() + picture.OffsetOf(0, y);
        *target++ = kFilterSub;
        unsigned red = 0, green = 0, blue = 0;  // of the pixel before
        for (int x = 0; x < picture.width; ++x, bgr += 3, target += 3) {
            target[0] = static_cast<std::uint8_t>(bgr[2] - red);
            target[1] = static_cast<std::uint8_t>(bgr[1] - green);
            target[2] = static_cast<std::uint8_t>(bgr[0] - blue);
            red = bgr[2];
            green = bgr[1];
            blue = bgr[0];
        }
    }
}

// What every encode on a thread reuses. A compressor and the filtered rows are about a megabyte
// of fresh pages when made for each picture, and faulting those in cost as much as deflating it.
// Rows beyond what the grid's pictures need (a camera's large picture for the desktop) are let go
// after their encode, so one large picture does not stay on the thread for good.
struct EncoderScratch {
    static constexpr std::size_t kKeptRowBytes = 1024 * 1024;
    std::unique_ptr<libdeflate_compressor, CompressorFree> compressor{libdeflate_alloc_compressor(1)};
    std::vector<std::uint8_t> rows;
};

// Lets go of rows larger than the kept size when the encode ends, on every path.
struct LargeRowsRelease {
    std::vector<std::uint8_t>& rows;
    ~LargeRowsRelease()
    {
        if (rows.capacity() > EncoderScratch::kKeptRowBytes)
            std::vector<std::uint8_t>().swap(rows);
    }
};

EncoderScratch& ThreadScratch()
{
    thread_local EncoderScratch scratch;
    return scratch;
}

}  // namespace

std::vector<std::uint8_t> EncodePng(const CRgbImage& picture, const PngTexts& texts)
{
    if (!picture.HasPicture() || picture.width <= 0 || picture.height <= 0 ||
        !std::all_of(texts.begin(), texts.end(), [](const auto& text) { return IsKeyword(text.first); }))
        return {};
    try {
        EncoderScratch& scratch = ThreadScratch();
        if (!scratch.compressor)
            return {};
        const LargeRowsRelease release{scratch.rows};
        FilterRows(picture, scratch.rows);

        std::vector<std::uint8_t> file(std::begin(kSignature), std::end(kSignature));
        std::vector<std::uint8_t> header;
        PutBigEndian(header, static_cast<std::uint32_t>(picture.width));
        PutBigEndian(header, static_cast<std::uint32_t>(picture.height));
        header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, adaptive filters, not interlaced
        PutChunk(file, "IHDR", header.data(), header.size());
        for (const auto& [keyword, text] : texts) {
            std::vector<std::uint8_t> chunk(keyword.begin(), keyword.end());
            chunk.push_back(0);
            chunk.insert(chunk.end(), text.begin(), text.end());
            PutChunk(file, "tEXt", chunk.data(), chunk.size());
        }
        // The image data is deflated straight into its chunk, behind room for its length and type.
        const std::size_t bound = libdeflate_zlib_compress_bound(scratch.compressor.get(), scratch.rows.size());
        const std::size_t chunkStart = file.size();
        file.resize(chunkStart + 8 + bound);
        const std::size_t size = libdeflate_zlib_compress(scratch.compressor.get(), scratch.rows.data(), scratch.rows.size(),
                                                          file.data() + chunkStart + 8, bound);
        if (size == 0)
            return {};
        file.resize(chunkStart + 8 + size);
        for (int i = 0; i < 4; ++i)
            file[chunkStart + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
        std::copy_n("IDAT", 4, file.begin() + static_cast<std::ptrdiff_t>(chunkStart) + 4);
        PutBigEndian(file, libdeflate_crc32(0, file.data() + chunkStart + 4, size + 4));
        PutChunk(file, "IEND", nullptr, 0);
        return file;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

}  // namespace imaging
