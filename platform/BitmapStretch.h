#pragma once
#include "platform/DeviceBitmap.h"

#include <cstddef>
#include <cstdint>
#include <vector>

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

// One plane of 8-bit samples, top row first.
struct PlaneView {
    const std::uint8_t* firstRow = nullptr;
    std::ptrdiff_t stride = 0;
    int width = 0;
    int height = 0;
};

// How YCbCr samples become RGB: the weights of red and blue in luma (BT.709: 0.2126 and
// 0.0722), whether the samples span 0..255 or the studio range 16..235 (chroma 16..240), and
// whether the frame is interlaced (each field's chroma rows are its own).
struct YcbcrFormat {
    double kr = 0.2126;
    double kb = 0.0722;
    bool fullRange = false;
    bool interlaced = false;
};

// A decoder's planar YCbCr picture (4:2:0: chroma planes of half the width and height) scaled
// to a bottom-up 32-bit bitmap of the given size by area averaging, straight from its planes:
// each luma row is converted to RGB as GStreamer's converter converts a frame (chroma sited and
// interpolated as it does, colours clipped pixel by pixel) and averaged as StretchHalftone
// averages, without a converted copy of the whole frame. Empty when a plane has no samples,
// the chroma planes differ in size, or the target size is not positive.
DeviceBitmap StretchYcbcrHalftone(const PlaneView& luma, const PlaneView& blue, const PlaneView& red,
                                  const YcbcrFormat& format, int width, int height);

// The vector widths the stretch's per-pixel loops are built for. The widest this processor runs
// is used; all give the same pixels.
enum class StretchVectors { Default, Avx2, Avx512 };
// Every width this processor runs, narrowest first.
std::vector<StretchVectors> StretchVectorsThisProcessorRuns();
// Uses the given width from now on (for tests that compare them); false, changing nothing, for a
// width this processor does not run.
bool UseStretchVectors(StretchVectors vectors);

}  // namespace platform
