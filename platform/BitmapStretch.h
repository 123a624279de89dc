#pragma once
#include "platform/DeviceBitmap.h"

namespace platform {

// Scales a 32-bit bitmap to the given size by area averaging: every target pixel is the mean of
// the source area it covers, weighted by coverage (the halftone stretch; never nearest
// neighbour). With `flipVertically` the rows come out in the opposite order, which turns a
// picture whose rows run top row first into a bottom-up bitmap and back. An empty bitmap results
// when the source has no pixels or the target size is not positive.
DeviceBitmap StretchHalftone(const DeviceBitmap& source, int width, int height, bool flipVertically);

}  // namespace platform
