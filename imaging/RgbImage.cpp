#include "imaging/RgbImage.h"

#include "platform/BitmapStretch.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace imaging {

void SwapRedBlue(int width, int height, std::uint8_t* packed)
{
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    for (std::size_t i = 0; i < count; ++i)
        std::swap(packed[i * 3], packed[i * 3 + 2]);
}

bool FlipRows(int width, int height, std::uint8_t* packed)
{
    const std::size_t rowLength = static_cast<std::size_t>(width) * 3u;
    std::unique_ptr<std::uint8_t[]> spare(new (std::nothrow) std::uint8_t[rowLength == 0 ? 1 : rowLength]);
    if (!spare)
        return false;
    for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
        std::uint8_t* a = packed + static_cast<std::size_t>(top) * rowLength;
        std::uint8_t* b = packed + static_cast<std::size_t>(bottom) * rowLength;
        std::memcpy(spare.get(), a, rowLength);
        std::memcpy(a, b, rowLength);
        std::memcpy(b, spare.get(), rowLength);
    }
    return true;
}

PackedBuffer PackedCopy(const CRgbImage& image)
{
    const std::size_t rowLength = static_cast<std::size_t>(image.width) * 3u;
    PackedBuffer copy(new (std::nothrow) std::uint8_t[rowLength * static_cast<std::size_t>(image.height)]);
    if (!copy)
        return nullptr;
    for (int row = 0; row < image.height; ++row)
        std::memcpy(copy.get() + static_cast<std::size_t>(row) * rowLength,
                    image.pixels.get() + static_cast<std::size_t>(row) * static_cast<std::size_t>(image.stride), rowLength);
    return copy;
}

}  // namespace imaging

bool CRgbImage::FromBitmap(const platform::DeviceBitmap& bitmap)
{
    pixels.reset();
    if (bitmap.bitsPerPixel != 32)
        return false;
    if (bitmap.width <= 0 || bitmap.height <= 0)
        return false;
    const std::uint64_t bytes32 = static_cast<std::uint64_t>(bitmap.width) * static_cast<std::uint64_t>(bitmap.height) * 4u;
    if (bytes32 > 0xffffffffull)
        return false;  // as an allocation failure
    if (bitmap.RowsAvailable() != bitmap.height)
        return false;

    const std::int64_t newStride = StrideFor(bitmap.width);
    imaging::PixelBuffer buffer =
        imaging::AllocatePixels(static_cast<std::size_t>(newStride) * static_cast<std::size_t>(bitmap.height));
    if (!buffer)
        return false;
    // Both layouts are bottom-up, so rows map one to one; the fourth byte is dropped.
    const std::size_t sourceStride = bitmap.Stride();
    for (int row = 0; row < bitmap.height; ++row) {
        const std::uint8_t* source = bitmap.bits.data() + static_cast<std::size_t>(row) * sourceStride;
        std::uint8_t* target = buffer.get() + static_cast<std::size_t>(row) * static_cast<std::size_t>(newStride);
        for (int x = 0; x < bitmap.width; ++x) {
            target[x * 3] = source[x * 4];
            target[x * 3 + 1] = source[x * 4 + 1];
            target[x * 3 + 2] = source[x * 4 + 2];
        }
        std::memset(target + bitmap.width * 3, 0, static_cast<std::size_t>(newStride) - static_cast<std::size_t>(bitmap.width) * 3u);
    }
    pixels = std::move(buffer);
    width = bitmap.width;
    height = bitmap.height;
    stride = static_cast<std::int32_t>(newStride);
    return true;
}

std::unique_ptr<CRgbImage> CRgbImage::FittedInto(int boxWidth, int boxHeight) const
{
    if (!HasPicture() || width <= 0 || height <= 0 || boxWidth <= 0 || boxHeight <= 0)
        return nullptr;
    const double scale = std::min({1.0, static_cast<double>(boxWidth) / width, static_cast<double>(boxHeight) / height});
    const int fittedWidth = std::max(1, static_cast<int>(width * scale + 0.5));
    const int fittedHeight = std::max(1, static_cast<int>(height * scale + 0.5));
    // The stretch reads 32-bit pixels: the rows are widened once (both layouts are bottom-up).
    platform::DeviceBitmap wide = platform::MakeDeviceBitmap32(width, height);
    if (wide.bits.empty())
        return nullptr;
    for (int row = 0; row < height; ++row) {
        const std::uint8_t* source = pixels.get() + static_cast<std::size_t>(row) * static_cast<std::size_t>(stride);
        std::uint8_t* target = wide.bits.data() + static_cast<std::size_t>(row) * wide.Stride();
        for (int x = 0; x < width; ++x)
            std::memcpy(target + x * 4, source + x * 3, 3);
    }
    auto fitted = std::make_unique<CRgbImage>();
    const platform::DeviceBitmap stretched = fittedWidth == width && fittedHeight == height
                                                 ? std::move(wide)
                                                 : platform::StretchHalftone(wide, fittedWidth, fittedHeight);
    if (!fitted->FromBitmap(stretched))
        return nullptr;
    return fitted;
}
