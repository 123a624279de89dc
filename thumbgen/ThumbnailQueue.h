#pragma once
#include "thumbgen/ThumbnailResult.h"
#include "platform/AutoResetEvent.h"

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <mutex>
#include <string>
#include <vector>

// The generator's queue of clip paths and map of finished results, shared by the generator and
// its worker. It is owned jointly, so a worker that is still busy when the generator stops keeps
// everything it touches alive. The lock is held for one list or map operation only.
class ThumbnailQueue {
public:
    void Enqueue(const std::string& clipPath);
    void ClearAll();
    // Clips waiting or being made: a clip counts from Enqueue until its result is stored or its
    // maker gives up (Finished).
    bool TakeResult(std::string& clipPath, ThumbnailResult& result);
    std::size_t PendingCount() const;
    // Called by the worker's producers once per thumbnail they make. A second result for a path
    // replaces (and frees) the first.
    void StoreResult(const std::string& clipPath, ThumbnailResult result);

    // Moves the given paths that are still waiting to the front of the queue, in the order
    // given (the clips on screen, top to bottom); the rest keep their order behind them.
    void Prioritize(const std::vector<std::string>& clipPaths);

    // Called on the worker side after each stored result, so the UI can collect at once. It
    // must not block; it runs on a worker thread. Once SetResultListener returns (an empty
    // listener included), the previous listener is not running and never runs again.
    using ResultListener = std::function<void()>;
    void SetResultListener(ResultListener listener);

    // Worker side.
    bool TakeNextPath(std::string& clipPath);
    // The clip taken is done, with or without a result.
    void Finished(const std::string& clipPath);
    bool HasPending() const;
    void WaitForWork() { wake_.Wait(); }

    // Set once when the generator stops; a running grab checks it to give up early.
    void RequestStop();
    bool StopRequested() const { return stopRequested_.load(std::memory_order_acquire); }

private:
    mutable std::mutex lock_;
    std::deque<std::string> pending_;
    std::multiset<std::string> inFlight_;
    std::map<std::string, ThumbnailResult> results_;
    platform::AutoResetEvent wake_;
    std::atomic<bool> stopRequested_{false};
    std::mutex listenerLock_;
    ResultListener listener_;
};
