#pragma once
#include "imaging/JpegPicture.h"
#include "imaging/RgbImage.h"
#include "platform/DeviceBitmap.h"

#include <memory>
#include <string>

// One finished thumbnail: a grabbed frame (bitmap), a decoded picture (image) or a compressed
// one (jpeg), never two; or none, and why the clip has no picture (failure).
// Single owner: the generator until TakeResult hands it out, then the caller.
struct ThumbnailResult {
    // No picture could be made: the reason the log names ("missing decoder for video/x-h265").
    static ThumbnailResult Failure(std::string why)
    {
        ThumbnailResult result;
        result.failure = std::move(why);
        return result;
    }

    ThumbnailResult() = default;
    ThumbnailResult(std::unique_ptr<platform::DeviceBitmap> frame, std::unique_ptr<CRgbImage> picture)
        : bitmap(std::move(frame)), image(std::move(picture))
    {
    }
    explicit ThumbnailResult(CJpegPicture compressed) : jpeg(std::move(compressed)) {}

    std::unique_ptr<platform::DeviceBitmap> bitmap;
    std::unique_ptr<CRgbImage> image;
    CJpegPicture jpeg;
    std::string failure;
    // The picture's pixels per grid pixel (ThumbnailEntry::scale).
    int scale = 1;
};
