#pragma once
#include "thumbgen/ThumbnailQueue.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

// Makes thumbnails for clips without one on a worker thread, one clip at a time, oldest request
// first. The UI thread enqueues clip paths and polls for finished results; the worker never
// calls into the UI.
class CThumbnailGenerator {
public:
    // Makes (and stores) the thumbnail of one clip, on the worker thread.
    using Producer = std::function<void(ThumbnailQueue& queue, const std::string& clipPath)>;

    static constexpr std::chrono::milliseconds kStopLimit{7500};

    // Starts the worker at once. The default producer tries the clip's thumbnail file, then the
    // frame grab that the UseFFmpeg setting selects.
    CThumbnailGenerator();
    explicit CThumbnailGenerator(Producer producer, std::chrono::milliseconds stopLimit = kStopLimit);
    ~CThumbnailGenerator();
    CThumbnailGenerator(const CThumbnailGenerator&) = delete;
    CThumbnailGenerator& operator=(const CThumbnailGenerator&) = delete;

    void Enqueue(const std::string& clipPath) { queue_->Enqueue(clipPath); }
    void ClearAll() { queue_->ClearAll(); }
    bool TakeResult(std::string& clipPath, ThumbnailResult& result) { return queue_->TakeResult(clipPath, result); }
    int PendingCount() const { return static_cast<int>(queue_->PendingCount()); }
    void StoreResult(const std::string& clipPath, ThumbnailResult result)
    {
        queue_->StoreResult(clipPath, std::move(result));
    }

    // Ends the worker: waits for it up to the stop limit, then leaves a worker that is still busy
    // to finish on its own (its grab is told to give up) and frees what is queued. Called once;
    // the destructor calls it when nobody did.
    void Stop();

    // The default producer.
    static void MakeThumbnail(ThumbnailQueue& queue, const std::string& clipPath);

private:
    struct WorkerState;
    static void ThreadMain(std::shared_ptr<WorkerState> state);

    std::shared_ptr<ThumbnailQueue> queue_;
    std::shared_ptr<WorkerState> state_;
    std::thread thread_;
    std::chrono::milliseconds stopLimit_;
    bool stopped_ = false;
};
