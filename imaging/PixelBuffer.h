#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace imaging {

// Memory for picture rows. A card holds hundreds of thumbnails of one size that live until the
// folder is closed; taking each from the system afresh costs a page fault per 4 KiB. This pool
// carves buffers from large huge-page regions and keeps freed buffers for the next picture of
// the same size, so opening a card again costs no fresh memory at all.
struct PixelDeleter {
    std::size_t size = 0;
    void operator()(std::uint8_t* pixels) const;
};
using PixelBuffer = std::unique_ptr<std::uint8_t[], PixelDeleter>;

// A buffer of `size` bytes with undefined content, or an empty one when memory is exhausted.
PixelBuffer AllocatePixels(std::size_t size);

}  // namespace imaging
