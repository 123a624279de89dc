#include "view/DecodedThumbnailCache.h"

void CDecodedThumbnailCache::Keep(std::shared_ptr<void> decoded, std::size_t bytes)
{
    if (!decoded || where_.count(decoded.get()) != 0)
        return;
    order_.push_front(Kept{std::move(decoded), bytes});
    where_[order_.front().decoded.get()] = order_.begin();
    bytes_ += bytes;
    while (order_.size() > 1 && (order_.size() > capacity_ || bytes_ > byteCapacity_)) {
        bytes_ -= order_.back().bytes;
        where_.erase(order_.back().decoded.get());
        order_.pop_back();
    }
}

void CDecodedThumbnailCache::Touch(const std::shared_ptr<void>& decoded)
{
    const auto found = where_.find(decoded.get());
    if (found != where_.end())
        order_.splice(order_.begin(), order_, found->second);
}

void CDecodedThumbnailCache::Clear()
{
    where_.clear();
    order_.clear();
    bytes_ = 0;
}
