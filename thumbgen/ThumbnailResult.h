#pragma once
#include "imaging/RgbImage.h"
#include "platform/DeviceBitmap.h"

#include <memory>

// One finished thumbnail: a grabbed frame (bitmap) or a decoded picture (image), never both.
// Single owner: the generator until TakeResult hands it out, then the caller.
struct ThumbnailResult {
    std::unique_ptr<platform::DeviceBitmap> bitmap;
    std::unique_ptr<CRgbImage> image;
};
