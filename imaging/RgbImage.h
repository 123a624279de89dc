#pragma once
#include "imaging/PixelBuffer.h"
#include "platform/DeviceBitmap.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

struct JpegSource;  // where a decode reads its bytes

// What a JPEG decode accepts.
struct JpegDecodeRules {
    std::uint64_t maxPixels = 64ull * 1024 * 1024;  // a larger picture is refused before any allocation
    bool warningsAreErrors = false;                 // a damaged stream fails instead of showing a box
};

// A 24-bit picture laid out like a bottom-up device-independent bitmap: rows bottom row first,
// each pixel blue, green, red, each row padded to a multiple of 4 bytes. A record without
// `pixels` holds no picture. Single owner.
class CRgbImage {
public:
    imaging::PixelBuffer pixels;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t stride = 0;

    using DecodeRules = JpegDecodeRules;

    // Decodes the JPEG stream that starts at the stream's current position. Throws
    // CJPEGException on a library error, or when the picture would exceed the rules' size; the
    // record then holds no picture. Library warnings show the first one in a "JPEG Error" box,
    // or fail the decode when the rules say so.
    void DecodeJpeg(std::FILE* stream, const DecodeRules& rules = DecodeRules{});
    // The same for a JPEG stream held in memory.
    void DecodeJpeg(const std::uint8_t* bytes, std::size_t size, const DecodeRules& rules = DecodeRules{});
    // False when the file cannot be opened or is no regular file; a decode error passes through.
    bool LoadJpegFile(const std::string& path, const DecodeRules& rules = DecodeRules{});
    // Writes the picture as a baseline JPEG of quality 85. False (never throws) when there is no
    // picture or the library fails.
    bool EncodeJpeg(std::FILE* stream) const;
    // False when the file cannot be created or written completely.
    bool SaveJpegFile(const std::string& path) const;
    // Takes over a 32-bit device bitmap. False, leaving no picture, for any other depth or a
    // bitmap that lacks rows.
    bool FromBitmap(const platform::DeviceBitmap& bitmap);
    // A copy that fits into width x height with the picture's proportions kept, made smaller by
    // area averaging (the halftone stretch) where it is larger; one that fits already is copied
    // as it is. Null when there is no picture, the box is empty or memory runs out.
    std::unique_ptr<CRgbImage> FittedInto(int width, int height) const;

    bool HasPicture() const { return pixels != nullptr; }
    // Byte offset of pixel (x, y), y counted from the top, in `pixels`.
    std::size_t OffsetOf(int x, int y) const
    {
        return static_cast<std::size_t>(height - 1 - y) * static_cast<std::size_t>(stride) + static_cast<std::size_t>(x) * 3u;
    }

    // Largest picture a decode accepts, in pixels.
    static constexpr std::uint64_t kMaxPixels = 64ull * 1024 * 1024;
    // Largest thumbnail picture (a camera's fits a 16 KB block; ours are 384 x 216).
    static constexpr std::uint64_t kMaxThumbnailPixels = 2ull * 1000 * 1000;
    // Bytes per padded row: width × 3 rounded up to a multiple of 4.
    static std::int64_t StrideFor(std::int64_t width) { return (width * 24 + 31) / 32 * 4; }

private:
    void Decode(const JpegSource& source, const DecodeRules& rules);
};

namespace imaging {

// Buffers of rows of exactly width × 3 bytes, no padding. Helpers of the codec layer.
using PackedBuffer = std::unique_ptr<std::uint8_t[]>;

// Exchanges the first and third byte of every pixel of a packed buffer.
void SwapRedBlue(int width, int height, std::uint8_t* packed);
// Reverses the order of the rows of a packed buffer.
bool FlipRows(int width, int height, std::uint8_t* packed);
// A packed copy of the record's rows, or null when it cannot be allocated.
PackedBuffer PackedCopy(const CRgbImage& image);

}  // namespace imaging
