#include "thumbgen/ThumbnailQueue.h"

#include <algorithm>
#include <set>

void ThumbnailQueue::Enqueue(const std::string& clipPath, bool storedOnly)
{
    std::lock_guard<std::mutex> guard(lock_);
    pending_.push_back(Request{++lastId_, clipPath, storedOnly, nullptr});
    wake_.Set();
}

void ThumbnailQueue::EnqueueStrip(StripJob job)
{
    std::optional<Request> replaced;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const std::string path = job.request.parts.empty() ? std::string() : job.request.parts.front().path;
        replaced.swap(pendingStrip_);
        pendingStrip_ = Request{++lastId_, path, false, std::make_shared<const StripJob>(std::move(job))};
        wake_.Set();
    }
    if (replaced)
        StoreStripResult(StripResult::Of(replaced->strip->key, StripResult::Kind::Dropped, replaced->strip->request.frames));
}

void ThumbnailQueue::StoreStripResult(StripResult result)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        stripResults_.push_back(std::move(result));
    }
    NotifyListener();
}

bool ThumbnailQueue::TakeStripResult(StripResult& result)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (stripResults_.empty())
        return false;
    result = std::move(stripResults_.front());
    stripResults_.pop_front();
    return true;
}

void ThumbnailQueue::ClearAll()
{
    std::map<std::string, ThumbnailResult> dropped;
    std::deque<StripResult> droppedStrips;
    {
        std::lock_guard<std::mutex> guard(lock_);
        pending_.clear();
        pendingStrip_.reset();
        clearedThrough_ = lastId_;
        dropped.swap(results_);
        droppedStrips.swap(stripResults_);
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
    }
    NotifyListener();
}

void ThumbnailQueue::NotifyListener()
{
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
    std::set<std::string> wanted(clipPaths.begin(), clipPaths.end());
    std::lock_guard<std::mutex> guard(lock_);
    std::multimap<std::string, Request> waiting;
    std::deque<Request> rest;
    for (Request& request : pending_) {
        if (wanted.count(request.path) != 0)
            waiting.emplace(request.path, std::move(request));
        else
            rest.push_back(std::move(request));
    }
    std::deque<Request> reordered;
    for (const std::string& path : clipPaths) {
        const auto [first, last] = waiting.equal_range(path);
        for (auto same = first; same != last; ++same)
            reordered.push_back(std::move(same->second));
        waiting.erase(first, last);
    }
    for (Request& request : rest)
        reordered.push_back(std::move(request));
    pending_.swap(reordered);
    onScreen_.swap(wanted);
}

bool ThumbnailQueue::OnScreenClipInFlight() const
{
    return std::any_of(inFlight_.begin(), inFlight_.end(),
                       [this](const auto& taken) { return onScreen_.count(taken.second) > 0; });
}

bool ThumbnailQueue::TakeNext(Request& request, bool offScreenOnly)
{
    std::lock_guard<std::mutex> guard(lock_);
    // Before the view has said what is on screen, any clip may be. While a clip on screen is
    // being made, a clip off it would take a core (or the card) from it.
    if (offScreenOnly && (pendingStrip_ || onScreen_.empty() ||
                          (!pending_.empty() && onScreen_.count(pending_.front().path) > 0) || OnScreenClipInFlight()))
        return false;
    if (pendingStrip_) {  // not in flight: a strip is no thumbnail the status counts
        request = std::move(*pendingStrip_);
        pendingStrip_.reset();
        return true;
    }
    if (pending_.empty())
        return false;
    request = std::move(pending_.front());
    pending_.pop_front();
    inFlight_.emplace(request.id, request.path);
    return true;
}

bool ThumbnailQueue::PutBack(const Request& request)
{
    if (request.strip) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (request.id <= clearedThrough_)
                return false;
            if (!pendingStrip_) {
                pendingStrip_ = request;
                wake_.Set();
                return true;
            }
        }
        StoreStripResult(StripResult::Of(request.strip->key, StripResult::Kind::Dropped, request.strip->request.frames));
        return true;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (request.id <= clearedThrough_ || inFlight_.erase(request.id) == 0)
            return false;
        // Behind the clips on screen, unless it is one of them.
        auto place = pending_.begin();
        if (onScreen_.count(request.path) == 0)
            place = std::find_if(pending_.begin(), pending_.end(),
                                 [this](const Request& waiting) { return onScreen_.count(waiting.path) == 0; });
        pending_.insert(place, request);
    }
    wake_.Set();
    return true;
}

void ThumbnailQueue::Finished(const Request& request)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        inFlight_.erase(request.id);
    }
    NotifyListener();
}

bool ThumbnailQueue::HasPending() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return !pending_.empty() || pendingStrip_.has_value();
}

void ThumbnailQueue::RequestStop()
{
    stopRequested_.store(true, std::memory_order_release);
    wake_.Set();
}
