#include "thumbgen/ThumbnailQueue.h"

#include <set>

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
        inFlight_.clear();
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
    return pending_.size() + inFlight_.size();
}

void ThumbnailQueue::StoreResult(const std::string& clipPath, ThumbnailResult result)
{
    {
        ThumbnailResult replaced;
        std::lock_guard<std::mutex> guard(lock_);
        replaced = std::move(results_[clipPath]);
        results_[clipPath] = std::move(result);
        if (const auto made = inFlight_.find(clipPath); made != inFlight_.end())
            inFlight_.erase(made);
    }
    std::lock_guard<std::mutex> guard(listenerLock_);
    if (listener_)
        listener_();
}

void ThumbnailQueue::SetResultListener(ResultListener listener)
{
    std::lock_guard<std::mutex> guard(listenerLock_);
    listener_ = std::move(listener);
}

void ThumbnailQueue::Prioritize(const std::vector<std::string>& clipPaths)
{
    if (clipPaths.empty())
        return;
    const std::set<std::string> wanted(clipPaths.begin(), clipPaths.end());
    std::lock_guard<std::mutex> guard(lock_);
    std::set<std::string> waiting;
    std::deque<std::string> rest;
    for (std::string& path : pending_) {
        if (wanted.count(path) != 0)
            waiting.insert(std::move(path));
        else
            rest.push_back(std::move(path));
    }
    std::deque<std::string> reordered;
    for (const std::string& path : clipPaths)
        if (waiting.erase(path) != 0)
            reordered.push_back(path);
    for (std::string& path : rest)
        reordered.push_back(std::move(path));
    pending_.swap(reordered);
}

bool ThumbnailQueue::TakeNextPath(std::string& clipPath)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (pending_.empty())
        return false;
    clipPath = std::move(pending_.front());
    pending_.pop_front();
    inFlight_.insert(clipPath);
    return true;
}

void ThumbnailQueue::Finished(const std::string& clipPath)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (const auto made = inFlight_.find(clipPath); made != inFlight_.end())
        inFlight_.erase(made);
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
