#include "imaging/PixelBuffer.h"

#include "platform/NoDestructor.h"

#include <sys/mman.h>
#include <unistd.h>

#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VIEWMERE_PLAIN_PIXEL_MEMORY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define VIEWMERE_PLAIN_PIXEL_MEMORY 1
#endif
#endif

namespace imaging {
namespace {

#ifndef VIEWMERE_PLAIN_PIXEL_MEMORY
constexpr std::size_t kRegionSize = std::size_t{64} << 20;
constexpr std::size_t kLargestPooled = std::size_t{8} << 20;  // bigger pictures go to the system
constexpr std::size_t kKeptIdle = kMaxIdlePixelBytes;
constexpr std::size_t kAlignment = 64;
// Buffers start 16 bytes past a cache line, as the C library's allocator places large blocks.
// Measured here: libjpeg-turbo's SIMD row output into 32-byte-aligned rows of a 416-pixel
// thumbnail runs about 10% slower than into rows at 16 modulo 32.
constexpr std::size_t kStartOffset = 16;

class PixelPool {
public:
    std::uint8_t* Allocate(std::size_t size)
    {
        std::lock_guard<std::mutex> guard(lock_);
        Spare& spare = freeBySize_[size];
        if (!spare.warm.empty()) {
            std::uint8_t* pixels = spare.warm.back();
            spare.warm.pop_back();
            idleBytes_ -= size;
            return pixels;
        }
        if (!spare.cold.empty()) {
            std::uint8_t* pixels = spare.cold.back();
            spare.cold.pop_back();
            return pixels;
        }
        if (regionLeft_ < size && !NewRegion())
            return nullptr;
        std::uint8_t* pixels = regionNext_;
        regionNext_ += size;
        regionLeft_ -= size;
        return pixels;
    }

    // Up to kKeptIdle bytes of freed buffers stay in memory for the next folder; past that a
    // freed buffer's pages go back to the system, and only its address range is kept.
    void Release(std::uint8_t* pixels, std::size_t size)
    {
        std::lock_guard<std::mutex> guard(lock_);
        Spare& spare = freeBySize_[size];
        if (idleBytes_ + size <= kKeptIdle) {
            spare.warm.push_back(pixels);
            idleBytes_ += size;
            return;
        }
        GiveBackPages(pixels, size);
        spare.cold.push_back(pixels);
    }

    std::size_t IdleBytes()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return idleBytes_;
    }

    // The size of the slot that holds a buffer of `size` bytes.
    static std::size_t Rounded(std::size_t size)
    {
        return (size + kStartOffset + kAlignment - 1) / kAlignment * kAlignment;
    }

private:
    bool NewRegion()
    {
        void* region = mmap(nullptr, kRegionSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (region == MAP_FAILED)
            return false;
        madvise(region, kRegionSize, MADV_HUGEPAGE);  // a hint; fine where refused
        // The rest of the previous region is given up; at most one picture's worth is wasted.
        regionNext_ = static_cast<std::uint8_t*>(region);
        regionLeft_ = kRegionSize;
        return true;
    }

    // The whole pages inside a slot; their content is dropped, and read back as zeros.
    static void GiveBackPages(std::uint8_t* slot, std::size_t size)
    {
        const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
        const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(slot) + page - 1) / page * page;
        const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(slot) + size) / page * page;
        if (end > begin)
            madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
    }

    struct Spare {
        std::vector<std::uint8_t*> warm;  // pages still in memory
        std::vector<std::uint8_t*> cold;  // pages given back
    };
    std::mutex lock_;
    std::unordered_map<std::size_t, Spare> freeBySize_;
    std::size_t idleBytes_ = 0;
    std::uint8_t* regionNext_ = nullptr;
    std::size_t regionLeft_ = 0;
};

PixelPool& Pool()
{
    // Never destroyed: pictures owned by objects that outlive main may still be freed into it.
    static platform::NoDestructor<PixelPool> pool;
    return pool.get();
}
#endif

}  // namespace

void PixelDeleter::operator()(std::uint8_t* pixels) const
{
#ifndef VIEWMERE_PLAIN_PIXEL_MEMORY
    const std::size_t rounded = PixelPool::Rounded(size);
    if (rounded <= kLargestPooled) {
        Pool().Release(pixels - kStartOffset, rounded);
        return;
    }
#endif
    delete[] pixels;
}

std::size_t IdlePixelBytes()
{
#ifndef VIEWMERE_PLAIN_PIXEL_MEMORY
    return Pool().IdleBytes();
#else
    return 0;
#endif
}

bool PixelsArePooled()
{
#ifndef VIEWMERE_PLAIN_PIXEL_MEMORY
    return true;
#else
    return false;
#endif
}

PixelBuffer AllocatePixels(std::size_t size)
{
    const std::size_t bytes = size == 0 ? 1 : size;
#ifndef VIEWMERE_PLAIN_PIXEL_MEMORY
    const std::size_t rounded = PixelPool::Rounded(bytes);
    if (rounded <= kLargestPooled) {
        std::uint8_t* slot = Pool().Allocate(rounded);
        return PixelBuffer(slot == nullptr ? nullptr : slot + kStartOffset, PixelDeleter{bytes});
    }
#endif
    return PixelBuffer(new (std::nothrow) std::uint8_t[bytes], PixelDeleter{bytes});
}

}  // namespace imaging
