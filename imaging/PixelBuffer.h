#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace imaging {

// Memory for picture rows. A card holds hundreds of thumbnails of one size that live until the
// folder is closed; taking each from the system afresh costs a page fault per 4 KiB. This pool
// carves buffers from large huge-page regions and keeps freed buffers for the next picture of
// the same size, so opening a card again costs no fresh memory at all. What freed buffers keep
// in memory is bounded (kMaxIdlePixelBytes); past that their pages go back to the system.
struct PixelDeleter {
    std::size_t size = 0;
    void operator()(std::uint8_t* pixels) const;
};
using PixelBuffer = std::unique_ptr<std::uint8_t[], PixelDeleter>;

// A buffer of `size` bytes with undefined content, or an empty one when memory is exhausted.
PixelBuffer AllocatePixels(std::size_t size);

// The most memory that freed picture buffers keep for reuse: about a card of 1,000 camera
// thumbnails (300 KB each).
inline constexpr std::size_t kMaxIdlePixelBytes = std::size_t{384} << 20;
// Bytes of freed buffers kept in memory now, and whether the pool is in use at all (it is not
// in sanitizer builds, which want every buffer from the system).
std::size_t IdlePixelBytes();
bool PixelsArePooled();

}  // namespace imaging
