#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

// The platform's device bitmap: the picture a frame grab hands out, kept as rows in memory.
// Rows are stored bottom row first, each padded to a multiple of 4 bytes; a 32-bit pixel is
// blue, green, red and one unused byte.
struct DeviceBitmap {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 32;
    std::vector<std::uint8_t> bits;

    // Bytes per stored row; 0 for a bitmap without a valid size.
    std::size_t Stride() const;
    // The rows the bitmap really holds (may be fewer than `height` for a damaged bitmap).
    int RowsAvailable() const;
};

// A zero-filled 32-bit bitmap; an empty one when the size is not positive or too large.
DeviceBitmap MakeDeviceBitmap32(int width, int height);

}  // namespace platform
