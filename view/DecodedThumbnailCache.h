#pragma once
#include <cstddef>
#include <list>
#include <memory>
#include <unordered_map>

// The decoded thumbnails of compressed pictures that were drawn last: at most `capacity` of
// them holding at most `byteCapacity` bytes, the least recently drawn given up first; the one
// kept last always stays, as it is being drawn. An entry keeps only a weak reference to its
// decoded form, so a thumbnail far off screen costs its compressed bytes alone. UI thread only.
class CDecodedThumbnailCache {
public:
    CDecodedThumbnailCache(std::size_t capacity, std::size_t byteCapacity)
        : capacity_(capacity), byteCapacity_(byteCapacity)
    {
    }

    // Keeps a newly decoded thumbnail of `bytes`, giving up the oldest beyond the capacities.
    void Keep(std::shared_ptr<void> decoded, std::size_t bytes);
    // Marks a kept thumbnail as just drawn.
    void Touch(const std::shared_ptr<void>& decoded);
    void Clear();
    std::size_t Size() const { return order_.size(); }
    std::size_t Bytes() const { return bytes_; }

    // About a screen and a half of cells on a large monitor: what is on screen and near it.
    static constexpr std::size_t kDefaultCapacity = 160;
    // As many of the usual 384 x 216 thumbnails, with room to spare; far fewer of the largest
    // (2 megapixels, 8 MB decoded), which would otherwise hold more than a gigabyte.
    static constexpr std::size_t kDefaultByteCapacity = 128u * 1024 * 1024;

private:
    struct Kept {
        std::shared_ptr<void> decoded;
        std::size_t bytes = 0;
    };
    std::size_t capacity_;
    std::size_t byteCapacity_;
    std::size_t bytes_ = 0;
    std::list<Kept> order_;  // most recently drawn first
    std::unordered_map<const void*, std::list<Kept>::iterator> where_;
};
