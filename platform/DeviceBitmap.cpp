#include "platform/DeviceBitmap.h"

#include <limits>

namespace platform {
namespace {
constexpr std::uint64_t kMaxBitmapBytes = std::uint64_t{1} << 31;
}

std::size_t DeviceBitmap::Stride() const
{
    if (width <= 0 || bitsPerPixel <= 0)
        return 0;
    const std::uint64_t bitsPerRow = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bitsPerPixel);
    return static_cast<std::size_t>((bitsPerRow + 31) / 32 * 4);
}

int DeviceBitmap::RowsAvailable() const
{
    const std::size_t stride = Stride();
    if (stride == 0 || height <= 0)
        return 0;
    const std::size_t rows = bits.size() / stride;
    return rows < static_cast<std::size_t>(height) ? static_cast<int>(rows) : height;
}

DeviceBitmap MakeDeviceBitmap32(int width, int height)
{
    DeviceBitmap bitmap;
    if (width <= 0 || height <= 0)
        return bitmap;
    const std::uint64_t bytes = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 4u;
    if (bytes > kMaxBitmapBytes)
        return bitmap;
    bitmap.width = width;
    bitmap.height = height;
    bitmap.bitsPerPixel = 32;
    bitmap.bits.assign(static_cast<std::size_t>(bytes), 0);
    return bitmap;
}

}  // namespace platform
