#include "thumbgen/PictureStore.h"

#include "imaging/JpegPicture.h"
#include "imaging/RgbImage.h"
#include "log/EventLog.h"
#include "settings/Settings.h"
#include "thumbgen/FrameGrab.h"
#include "thumbgen/SharedThumbnails.h"
#include "thumbgen/ThumbnailFile.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

struct Answer {
    ThumbnailQueue::Request request;
    std::vector<std::uint8_t> picture;
    std::string why;
};

// A picture the worker sent, checked as a file read from disk would be.
bool AcceptPicture(const std::string& clipPath, std::vector<std::uint8_t> bytes, CJpegPicture& picture)
{
    std::string problem;
    if (picture.Adopt(std::move(bytes), CRgbImage::kMaxThumbnailPixels, problem))
        return true;
    LogEvent("Grab worker sent a damaged picture for [%s]: %s", clipPath.c_str(), problem.c_str());
    return false;
}

void StorePicture(ThumbnailQueue& queue, const std::string& clipPath, CJpegPicture picture)
{
    if (GetWriteThumbnails())
        WriteThumbnailFile(clipPath, picture);
    ShareGrabbedThumbnail(clipPath, picture);
    ThumbnailResult result(std::move(picture));
    result.scale = GrabbedPictureScaleOf(result.jpeg.width, result.jpeg.height);
    queue.StoreResult(clipPath, std::move(result));
}

void Store(ThumbnailQueue& queue, Answer answer)
{
    const std::string& clipPath = answer.request.path;
    const bool sent = !answer.picture.empty();
    CJpegPicture accepted;
    if (sent && AcceptPicture(clipPath, std::move(answer.picture), accepted))
        StorePicture(queue, clipPath, std::move(accepted));
    else
        queue.StoreResult(clipPath, ThumbnailResult::Failure(!sent && !answer.why.empty()
                                                                 ? answer.why
                                                                 : "the grab worker sent no usable picture"));
    queue.Finished(answer.request);
}

}  // namespace

// Shared by the store and its thread, so a thread left writing to a hung disk touches nothing
// freed.
struct CPictureStore::State {
    std::shared_ptr<ThumbnailQueue> queue;
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Answer> waiting;  // guarded by lock
    bool storing = false;        // guarded by lock
    bool ending = false;         // guarded by lock
    bool threadRuns = false;

    void Run()
    {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            changed.wait(guard, [this] { return ending || !waiting.empty(); });
            if (waiting.empty())
                return;
            Answer answer = std::move(waiting.front());
            waiting.pop_front();
            storing = true;
            guard.unlock();
            try {
                Store(*queue, std::move(answer));
            } catch (const std::exception& error) {
                LogEvent("Failed to store a thumbnail: %s", error.what());
            }
            guard.lock();
            storing = false;
            changed.notify_all();
        }
    }
};

CPictureStore::CPictureStore(std::shared_ptr<ThumbnailQueue> queue) : state_(std::make_shared<State>())
{
    state_->queue = std::move(queue);
    try {
        thread_ = std::thread(&State::Run, state_);
        state_->threadRuns = true;
    } catch (const std::system_error& error) {
        LogEvent("Failed to start the thumbnail store (%s); pictures are stored by their slots", error.what());
    }
}

CPictureStore::~CPictureStore()
{
    const bool drained = Drain(std::chrono::milliseconds(7500));
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->ending = true;
        state_->changed.notify_all();
    }
    if (!thread_.joinable())
        return;
    if (drained)
        thread_.join();
    else
        thread_.detach();  // it holds what it uses, and ends once its write returns
}

void CPictureStore::Add(ThumbnailQueue::Request request, std::vector<std::uint8_t> picture, std::string why)
{
    Answer answer{std::move(request), std::move(picture), std::move(why)};
    if (!state_->threadRuns) {
        Store(*state_->queue, std::move(answer));
        return;
    }
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->waiting.push_back(std::move(answer));
    state_->changed.notify_all();
}

bool CPictureStore::Drain(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> guard(state_->lock);
    return state_->changed.wait_for(guard, limit, [this] { return state_->waiting.empty() && !state_->storing; });
}
