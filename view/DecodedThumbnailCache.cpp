#include "view/DecodedThumbnailCache.h"

void CDecodedThumbnailCache::Keep(std::shared_ptr<void> decoded)
{
    if (!decoded || where_.count(decoded.get()) != 0)
        return;
    order_.push_front(std::move(decoded));
    where_[order_.front().get()] = order_.begin();
    while (order_.size() > capacity_) {
        where_.erase(order_.back().get());
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
}
