#include "thumbgen/ThumbnailQueue.h"

void ThumbnailQueue::Enqueue(const std::string& clipPath)
{
    std::lock_guard<std::mutex> guard(lock_);
    pending_.push_back(clipPath);
    wake_.Set();
}

void ThumbnailQueue::ClearAll()
{
    std::map<std::string, ThumbnailResult> dropped;
    {
        std::lock_guard<std::mutex> guard(lock_);
        pending_.clear();
        dropped.swap(results_);
    }
    // The pictures are freed here, outside the lock.
}

bool ThumbnailQueue::TakeResult(std::string& clipPath, ThumbnailResult& result)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (results_.empty())
        return false;
    auto first = results_.begin();
    clipPath = first->first;
    result = std::move(first->second);
    results_.erase(first);
    return true;
}

std::size_t ThumbnailQueue::PendingCount() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return pending_.size();
}

void ThumbnailQueue::StoreResult(const std::string& clipPath, ThumbnailResult result)
{
    ThumbnailResult replaced;
    std::lock_guard<std::mutex> guard(lock_);
    replaced = std::move(results_[clipPath]);
    results_[clipPath] = std::move(result);
}

bool ThumbnailQueue::TakeNextPath(std::string& clipPath)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (pending_.empty())
        return false;
    clipPath = std::move(pending_.front());
    pending_.pop_front();
    return true;
}

bool ThumbnailQueue::HasPending() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return !pending_.empty();
}

void ThumbnailQueue::RequestStop()
{
    stopRequested_.store(true, std::memory_order_release);
    wake_.Set();
}
