#include "thumbgen/ThumbnailGenerator.h"

#include "log/EventLog.h"
#include "settings/Settings.h"
#include "thumbgen/FrameGrab.h"
#include "thumbgen/SharedThumbnails.h"
#include "thumbgen/ThumbnailFile.h"

#include <condition_variable>
#include <exception>

// Everything the worker touches, owned jointly by the generator and the worker.
struct CThumbnailGenerator::WorkerState {
    std::shared_ptr<ThumbnailQueue> queue;
    Producer producer;
    std::mutex finishLock;
    std::condition_variable finishedChanged;
    bool finished = false;
};

CThumbnailGenerator::CThumbnailGenerator() : CThumbnailGenerator(&CThumbnailGenerator::MakeThumbnail) {}

CThumbnailGenerator::CThumbnailGenerator(Producer producer, std::chrono::milliseconds stopLimit)
    : queue_(std::make_shared<ThumbnailQueue>()),
      state_(std::make_shared<WorkerState>()),
      stopLimit_(stopLimit)
{
    state_->queue = queue_;
    state_->producer = std::move(producer);
    try {
        thread_ = std::thread(&CThumbnailGenerator::ThreadMain, state_);
    } catch (const std::system_error& error) {
        // Without a worker nothing is generated; the queue just fills and nothing blocks.
        LogEvent("Failed to start the thumbnail generator (%s)", error.what());
        stopped_ = true;
    }
}

CThumbnailGenerator::~CThumbnailGenerator()
{
    Stop();
}

void CThumbnailGenerator::MakeThumbnail(ThumbnailQueue& queue, const std::string& clipPath)
{
    if (LoadThumbnailFile(queue, clipPath))
        return;
    if (LoadSharedThumbnail(queue, clipPath))  // a file manager already pictured it
        return;
    if (settings::UseFFmpeg.Read())
        GrabWithFFmpeg(queue, clipPath);
    else
        GrabWithDirectShow(queue, clipPath);
}

void CThumbnailGenerator::ThreadMain(std::shared_ptr<WorkerState> state)
{
    ThumbnailQueue& queue = *state->queue;
    while (!queue.StopRequested()) {
        queue.WaitForWork();
        for (;;) {
            if (queue.StopRequested())
                break;
            std::string clipPath;
            if (queue.TakeNextPath(clipPath)) {
                try {
                    state->producer(queue, clipPath);
                } catch (const std::exception& error) {
                    // A producer's failure costs this clip its thumbnail, never the worker.
                    LogEvent("Failed to make thumbnail for [%s]: %s", clipPath.c_str(), error.what());
                }
            }
            if (!queue.HasPending())
                break;
        }
    }
    std::lock_guard<std::mutex> guard(state->finishLock);
    state->finished = true;
    state->finishedChanged.notify_all();
}

void CThumbnailGenerator::Stop()
{
    if (stopped_ && !thread_.joinable())
        return;
    stopped_ = true;
    queue_->RequestStop();
    bool finished = false;
    {
        std::unique_lock<std::mutex> guard(state_->finishLock);
        finished = state_->finishedChanged.wait_for(guard, stopLimit_, [this] { return state_->finished; });
    }
    if (thread_.joinable()) {
        if (finished) {
            thread_.join();
        } else {
            // No thread can be killed safely here: the worker finishes its clip on its own, its
            // grab having been told to give up, and the state it shares outlives it.
            LogEvent("Thumbnail generator did not stop within %lld ms; its last clip finishes in the background",
                     static_cast<long long>(stopLimit_.count()));
            thread_.detach();
        }
    }
    queue_->ClearAll();
}
