#include "thumbgen/PictureStore.h"

#include "imaging/JpegPicture.h"
#include "imaging/RgbImage.h"
#include "log/EventLog.h"
#include "settings/Settings.h"
#include "thumbgen/FrameGrab.h"
#include "thumbgen/ThumbnailFile.h"
#include "thumbgen/ThumbnailSharer.h"

#include <exception>

namespace {

// A picture the worker sent, checked as a file read from disk would be.
bool AcceptPicture(const std::string& clipPath, std::vector<std::uint8_t> bytes, CJpegPicture& picture)
{
    std::string problem;
    if (picture.Adopt(std::move(bytes), CRgbImage::kMaxThumbnailPixels, problem))
        return true;
    LogEvent("Grab worker sent a damaged picture for [%s]: %s", clipPath.c_str(), problem.c_str());
    return false;
}

void StorePicture(ThumbnailQueue& queue, CThumbnailSharer& sharer, const std::string& clipPath, CJpegPicture picture)
{
    if (GetWriteThumbnails())
        WriteThumbnailFile(clipPath, picture);
    sharer.Add(clipPath, picture);
    ThumbnailResult result(std::move(picture));
    result.scale = GrabbedPictureScaleOf(result.jpeg.width, result.jpeg.height);
    queue.StoreResult(clipPath, std::move(result));
}

void Store(ThumbnailQueue& queue, CThumbnailSharer& sharer, CPictureStore::Answer answer)
{
    const std::string& clipPath = answer.request.path;
    const bool sent = !answer.picture.empty();
    CJpegPicture accepted;
    if (sent && AcceptPicture(clipPath, std::move(answer.picture), accepted))
        StorePicture(queue, sharer, clipPath, std::move(accepted));
    else
        queue.StoreResult(clipPath, ThumbnailResult::Failure(!sent && !answer.why.empty()
                                                                 ? answer.why
                                                                 : "the grab worker sent no usable picture"));
    queue.Finished(answer.request);
}

}  // namespace

CPictureStore::CPictureStore(std::shared_ptr<ThumbnailQueue> queue)
    : targets_(std::make_shared<Targets>(std::move(queue))),
      storer_([targets = targets_](Answer& answer) {
          try {
              Store(*targets->queue, targets->sharer, std::move(answer));
          } catch (const std::exception& error) {
              LogEvent("Failed to store a thumbnail: %s", error.what());
          }
      })
{
    if (!storer_.StartFailure().empty())
        LogEvent("Failed to start the thumbnail store (%s); pictures are stored by their slots",
                 storer_.StartFailure().c_str());
}

void CPictureStore::Add(ThumbnailQueue::Request request, std::vector<std::uint8_t> picture, std::string why)
{
    Answer answer{std::move(request), std::move(picture), std::move(why)};
    if (!storer_.Add(answer))
        Store(*targets_->queue, targets_->sharer, std::move(answer));
}

bool CPictureStore::Drain(std::chrono::milliseconds limit)
{
    return storer_.Drain(limit);
}
