#pragma once
#include "platform/AutoResetEvent.h"
#include "thumbgen/StripMaker.h"
#include "thumbgen/ThumbnailResult.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The generator's queue of clip paths and map of finished results, shared by the generator and
// its worker. It is owned jointly, so a worker that is still busy when the generator stops keeps
// everything it touches alive. The lock is held for one list or map operation only.
//
// Every Enqueue is a request of its own, counted and ended by its number, never by its path: a
// late maker of an earlier folder's request ends that request only, even when a new request
// names the same clip.
//
// Strips of recordings (for skimming) are asked for here too, and made before any thumbnail.
// They are no thumbnails: they are not counted as pending, and only the strip asked for last
// waits (the one it replaces ends as dropped).
class ThumbnailQueue {
public:
    // A strip wanted, and the identity of the recording it is for (see StripKeyOf).
    struct StripJob {
        std::string key;
        StripRequest request;
    };
    struct Request {
        std::uint64_t id = 0;
        std::string path;  // a strip's: its recording's first file
        // Only a picture already kept for the clip is wanted (generation is off): none is made.
        bool storedOnly = false;
        std::shared_ptr<const StripJob> strip;  // a strip instead of a thumbnail
    };
    // What became of a strip: each frame as it is made, then how it ended.
    struct StripResult {
        enum class Kind { Frame, Finished, Failed, Dropped };
        std::string key;
        Kind kind = Kind::Frame;
        int frames = 0;  // of the strip
        StripFrame frame;
        std::string why;  // for Failed

        static StripResult Of(std::string key, Kind kind, int frames, StripFrame frame = {}, std::string why = {})
        {
            return StripResult{std::move(key), kind, frames, std::move(frame), std::move(why)};
        }
    };

    void Enqueue(const std::string& clipPath, bool storedOnly = false);
    // Drops the waiting requests and the results not taken. The requests being made still count
    // until their makers finish: the status never says idle while a grab runs.
    void ClearAll();
    bool TakeResult(std::string& clipPath, ThumbnailResult& result);
    // Requests waiting or being made: one counts from Enqueue until its maker is done with it
    // (Finished), with or without a result.
    std::size_t PendingCount() const;
    // Called by the worker's producers once per thumbnail they make. A second result for a path
    // replaces (and frees) the first.
    void StoreResult(const std::string& clipPath, ThumbnailResult result);

    // Asks for a strip, ahead of every thumbnail waiting; a strip still waiting is dropped.
    void EnqueueStrip(StripJob job);
    void StoreStripResult(StripResult result);
    bool TakeStripResult(StripResult& result);

    // Moves the given paths that are still waiting to the front of the queue, in the order
    // given (the clips on screen, top to bottom); the rest keep their order behind them.
    void Prioritize(const std::vector<std::string>& clipPaths);

    // Called on the worker side after each stored result and each finished request, so the UI
    // can collect and count at once. It must not block; it runs on a worker thread. Once SetResultListener returns (an empty
    // listener included), the previous listener is not running and never runs again.
    using ResultListener = std::function<void()>;
    void SetResultListener(ResultListener listener);

    // Worker side. The next request; with `offScreenOnly`, none while a strip or a clip on screen
    // is waiting first or a clip on screen is being made, nor before the clips on screen are known.
    bool TakeNext(Request& request, bool offScreenOnly = false);
    // Returns a request taken but not begun to the front of the queue: behind the clips last
    // put first, unless it is one of them. A request of a folder that ClearAll dropped stays
    // taken (false), and its maker goes on with it. A strip goes back unless a newer one waits,
    // which drops it.
    bool PutBack(const Request& request);
    // The request taken is done, with or without a result.
    void Finished(const Request& request);
    bool HasPending() const;
    void WaitForWork() { wake_.Wait(); }

    // Set once when the generator stops; a running grab checks it to give up early.
    void RequestStop();
    bool StopRequested() const { return stopRequested_.load(std::memory_order_acquire); }

private:
    mutable std::mutex lock_;
    void NotifyListener();
    bool OnScreenClipInFlight() const;  // with the lock held

    std::deque<Request> pending_;
    std::map<std::uint64_t, std::string> inFlight_;
    std::uint64_t lastId_ = 0;
    std::uint64_t clearedThrough_ = 0;  // requests up to this one were dropped by ClearAll
    std::set<std::string> onScreen_;     // the paths last given to Prioritize
    std::map<std::string, ThumbnailResult> results_;
    std::optional<Request> pendingStrip_;
    std::deque<StripResult> stripResults_;
    platform::AutoResetEvent wake_;
    std::atomic<bool> stopRequested_{false};
    std::mutex listenerLock_;
    ResultListener listener_;
};
