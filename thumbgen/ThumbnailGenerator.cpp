#include "thumbgen/ThumbnailGenerator.h"

#include "log/EventLog.h"
#include "settings/Settings.h"
#include "thumbgen/FrameGrab.h"
#include "thumbgen/StripCollector.h"
#include "thumbgen/ThumbnailFile.h"

#include <condition_variable>
#include <exception>

// Everything the worker touches, owned jointly by the generator and the worker.
struct CThumbnailGenerator::WorkerState {
    std::shared_ptr<ThumbnailQueue> queue;
    Producer producer;                // or
    std::shared_ptr<CGrabPool> pool;  // the slots the worker hands clips to
    std::mutex finishLock;
    std::condition_variable finishedChanged;
    bool finished = false;
};

CThumbnailGenerator::CThumbnailGenerator() : CThumbnailGenerator(GrabPoolOptions{}) {}

CThumbnailGenerator::CThumbnailGenerator(GrabPoolOptions options, std::chrono::milliseconds stopLimit)
    : queue_(std::make_shared<ThumbnailQueue>()),
      state_(std::make_shared<WorkerState>()),
      stopLimit_(stopLimit)
{
    state_->queue = queue_;
    state_->pool = std::make_shared<CGrabPool>(queue_, std::move(options));
    StartWorker();
}

CThumbnailGenerator::CThumbnailGenerator(Producer producer, std::chrono::milliseconds stopLimit)
    : queue_(std::make_shared<ThumbnailQueue>()),
      state_(std::make_shared<WorkerState>()),
      stopLimit_(stopLimit)
{
    state_->queue = queue_;
    state_->producer = std::move(producer);
    StartWorker();
}

void CThumbnailGenerator::StartWorker()
{
    try {
        thread_ = std::thread(&CThumbnailGenerator::ThreadMain, state_);
    } catch (const std::system_error& error) {
        // Without a worker nothing is generated; the queue just fills and nothing blocks.
        LogEvent("Failed to start the thumbnail generator (%s)", error.what());
        stopped_ = true;
    }
}

void CThumbnailGenerator::WarmUp()
{
    if (state_->pool)
        state_->pool->WarmUp();
}

std::vector<int> CThumbnailGenerator::WorkerPids(bool onAClipOnly) const
{
    return state_->pool ? state_->pool->WorkerPids(onAClipOnly) : std::vector<int>{};
}

CThumbnailGenerator::~CThumbnailGenerator()
{
    Stop();
}

void CThumbnailGenerator::MakeThumbnail(ThumbnailQueue& queue, const std::string& clipPath)
{
    if (LoadStoredThumbnail(queue, clipPath))
        return;
    if (settings::UseFFmpeg.Read())
        GrabWithFFmpeg(queue, clipPath);
    else
        GrabWithMediaFramework(queue, clipPath);
}

namespace {

// Hands the next clip to the pool or makes it; false when nothing was waiting.
bool ServeNext(ThumbnailQueue& queue, CGrabPool* pool, const CThumbnailGenerator::Producer& producer)
{
    // With a pool, the clip is taken only once a slot is free, so clips that come on screen
    // meanwhile still go first.
    if (pool != nullptr && !pool->WaitForFreeSlot())
        return false;
    const bool offScreenOnly = pool != nullptr && pool->OnlyReadingSlotFree();
    ThumbnailQueue::Request request;
    if (!queue.TakeNext(request, offScreenOnly)) {
        // A clip wanted at once waits for a slot that decodes.
        return offScreenOnly && queue.HasPending() && pool->WaitForFreeSlot(true);
    }
    if (pool != nullptr) {
        pool->Dispatch(std::move(request));
        return true;
    }
    try {
        if (request.strip)
            CStripCollector(queue, *request.strip, CStripFiles()).MakeHere([&queue] { return queue.StopRequested(); });
        else if (request.storedOnly)
            LoadStoredThumbnail(queue, request.path);
        else
            producer(queue, request.path);
    } catch (const std::exception& error) {
        // A producer's failure costs this clip its thumbnail, never the worker.
        LogEvent("Failed to make thumbnail for [%s]: %s", request.path.c_str(), error.what());
    }
    queue.Finished(request);
    return true;
}

}  // namespace

void CThumbnailGenerator::ThreadMain(std::shared_ptr<WorkerState> state)
{
    ThumbnailQueue& queue = *state->queue;
    while (!queue.StopRequested()) {
        queue.WaitForWork();
        while (!queue.StopRequested() && ServeNext(queue, state->pool.get(), state->producer)) {
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
    if (state_->pool)
        state_->pool->Stop(stopLimit_);
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
