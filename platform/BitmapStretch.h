#pragma once
#include "platform/DeviceBitmap.h"

#include <cstddef>
#include <cstdint>

namespace platform {

// 32-bit pixels (blue, green, red, unused) somewhere in memory, row by row.
struct PixelView {
    const std::uint8_t* firstRow = nullptr;  // the row stored first
    std::ptrdiff_t stride = 0;               // bytes from one stored row to the next
    int width = 0;
    int height = 0;
    bool topRowFirst = false;                // false: the first stored row is the bottom one
};

// Scales 32-bit pixels to a bottom-up bitmap of the given size by area averaging: every target
// pixel is the mean of the source area it covers, weighted by coverage (the halftone stretch;
// never nearest neighbour). The picture keeps its orientation. An empty bitmap results when the
// source has no pixels or the target size is not positive.
DeviceBitmap StretchHalftone(const PixelView& source, int width, int height);

// The same for a bitmap, whose rows run bottom row first.
DeviceBitmap StretchHalftone(const DeviceBitmap& source, int width, int height);

}  // namespace platform
