#pragma once
#include "thumbgen/GrabPool.h"
#include "thumbgen/ThumbnailQueue.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// Makes thumbnails for clips without one in the background. Its worker thread is the one
// consumer of the queue: it hands each clip, clips on screen first and then the rest in the order
// asked, to a free slot of the grab pool, which makes up to one thumbnail per core at once in
// separate processes. With a producer of its own (tests, tools) the worker thread makes one
// clip at a time itself. The UI thread enqueues clip paths and collects finished results, woken
// by the result listener or polling; the worker never calls into the UI.
class CThumbnailGenerator {
public:
    // Makes (and stores) the thumbnail of one clip, on the worker thread.
    using Producer = std::function<void(ThumbnailQueue& queue, const std::string& clipPath)>;

    static constexpr std::chrono::milliseconds kStopLimit{7500};

    // Starts the worker at once, with the grab pool: each clip is served from its thumbnail file,
    // else by the frame grab that the UseFFmpeg setting selects (ffmpeg, or a grab worker).
    CThumbnailGenerator();
    explicit CThumbnailGenerator(GrabPoolOptions options, std::chrono::milliseconds stopLimit = kStopLimit);
    explicit CThumbnailGenerator(Producer producer, std::chrono::milliseconds stopLimit = kStopLimit);
    ~CThumbnailGenerator();
    CThumbnailGenerator(const CThumbnailGenerator&) = delete;
    CThumbnailGenerator& operator=(const CThumbnailGenerator&) = delete;

    // With `storedOnly` the clip is served from a picture kept for it (its thumbnail file or the
    // shared cache's entry) and nothing is made when there is none.
    void Enqueue(const std::string& clipPath, bool storedOnly = false) { queue_->Enqueue(clipPath, storedOnly); }
    void ClearAll() { queue_->ClearAll(); }
    bool TakeResult(std::string& clipPath, ThumbnailResult& result) { return queue_->TakeResult(clipPath, result); }
    int PendingCount() const { return static_cast<int>(queue_->PendingCount()); }
    void StoreResult(const std::string& clipPath, ThumbnailResult result)
    {
        queue_->StoreResult(clipPath, std::move(result));
    }
    // The clips on screen, top to bottom: those still waiting are made next.
    void Prioritize(const std::vector<std::string>& clipPaths) { queue_->Prioritize(clipPaths); }
    void SetResultListener(ThumbnailQueue::ResultListener listener) { queue_->SetResultListener(std::move(listener)); }
    // A strip of a recording, made before any thumbnail; see ThumbnailQueue.
    void EnqueueStrip(ThumbnailQueue::StripJob job) { queue_->EnqueueStrip(std::move(job)); }
    bool TakeStripResult(ThumbnailQueue::StripResult& result) { return queue_->TakeStripResult(result); }
    // Starts the grab workers ahead of the first clip.
    void WarmUp();
    // Answers whether clips are waiting or being made, from any thread, for as long as anyone
    // holds it (the generator may go first).
    std::function<bool()> BusyProbe() const
    {
        return [queue = queue_] { return queue->PendingCount() > 0; };
    }
    // The running grab worker processes (none with a producer of its own); only those that took a
    // clip and are still on it, when asked.
    std::vector<int> WorkerPids(bool onAClipOnly = false) const;

    // Tells the worker and the running grabs to give up, without waiting for them: from then on
    // a grab worker that dies (the program killing its children as it ends) costs no clip
    // anything. Stop still ends the worker.
    void RequestStop() { queue_->RequestStop(); }
    // Ends the worker: running grabs are cancelled and their processes killed at once; waits up
    // to the stop limit, then leaves a thread that is still busy to finish on its own (its grab
    // is told to give up) and frees what is queued. Called once;
    // the destructor calls it when nobody did.
    void Stop();

    // What a slot does for one clip, in this process: for a producer of one's own.
    static void MakeThumbnail(ThumbnailQueue& queue, const std::string& clipPath);

private:
    struct WorkerState;
    static void ThreadMain(std::shared_ptr<WorkerState> state);
    void StartWorker();

    std::shared_ptr<ThumbnailQueue> queue_;
    std::shared_ptr<WorkerState> state_;
    std::thread thread_;
    std::chrono::milliseconds stopLimit_;
    bool stopped_ = false;
};
