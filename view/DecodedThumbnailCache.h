#pragma once
#include <cstddef>
#include <list>
#include <memory>
#include <unordered_map>

// The decoded thumbnails of compressed pictures that were drawn last: at most `capacity`, the
// least recently drawn given up first. An entry keeps only a weak reference to its decoded
// form, so a thumbnail far off screen costs its compressed bytes alone. UI thread only.
class CDecodedThumbnailCache {
public:
    explicit CDecodedThumbnailCache(std::size_t capacity) : capacity_(capacity) {}

    // Keeps a newly decoded thumbnail, giving up the oldest beyond the capacity.
    void Keep(std::shared_ptr<void> decoded);
    // Marks a kept thumbnail as just drawn.
    void Touch(const std::shared_ptr<void>& decoded);
    void Clear();
    std::size_t Size() const { return order_.size(); }

    // About a screen and a half of cells on a large monitor: what is on screen and near it.
    static constexpr std::size_t kDefaultCapacity = 160;

private:
    std::size_t capacity_;
    std::list<std::shared_ptr<void>> order_;  // most recently drawn first
    std::unordered_map<const void*, std::list<std::shared_ptr<void>>::iterator> where_;
};
