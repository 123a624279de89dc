#include "log/EventLog.h"
#include "platform/BitmapStretch.h"
#include "platform/FileSystem.h"
#include "platform/MediaGraph.h"
#include "platform/Ticks.h"
#include "settings/Settings.h"
#include "thumbgen/FrameGrab.h"
#include "thumbgen/SharedThumbnails.h"
#include "thumbgen/ThumbnailFile.h"
#include "thumbgen/ThumbnailQueue.h"

#include <cstdio>
#include <memory>

namespace {

constexpr std::chrono::milliseconds kFirstFrameLimit{10000};

void WriteThumbnailOf(const std::string& clipPath, const platform::DeviceBitmap& thumbnail)
{
    CRgbImage picture;
    if (picture.FromBitmap(thumbnail))
        WriteThumbnailFile(clipPath, picture);
}

void GrabFrame(ThumbnailQueue& queue, const std::string& clipPath, platform::MediaGraph& graph)
{
    LogEvent("Retrieved BasicVideo");
    int size = 0;
    const std::uint32_t status = graph.GetCurrentImage(size, nullptr);
    if (status != 0) {
        LogEvent("GetImage failed (hr == %x)", status);
        return;
    }
    if (size < 1) {
        LogEvent("Failed to get current image data size");
        return;
    }
    LogEvent("Current image size retrieved: %d bytes", size);

    // The frame is stretched straight from the decoder's buffer to 384 x 216 and turned upright;
    // the two full-size copies a frame grab would otherwise make (about 8 MB each for full HD)
    // give the same picture, so they are skipped.
    auto thumbnail = std::make_unique<platform::DeviceBitmap>(
        graph.StretchCurrentImage(kGrabbedThumbnailWidth, kGrabbedThumbnailHeight));
    LogEvent("Retrieved Current Image DIB");
    if (thumbnail->bits.empty())
        return;
    if (GetWriteThumbnails())
        WriteThumbnailOf(clipPath, *thumbnail);
    ShareGrabbedThumbnail(clipPath, *thumbnail);
    queue.StoreResult(clipPath, ThumbnailResult{std::move(thumbnail), nullptr});
}

}  // namespace

void GrabWithDirectShow(ThumbnailQueue& queue, const std::string& clipPath)
{
    LogEvent("Generating thumbnail for [%s]", clipPath.c_str());
    const std::uint32_t start = platform::GetTickCount();
    std::string failure;
    if (platform::FileExists(clipPath) && !platform::IsRegularFile(clipPath)) {
        // A FIFO or device named like a clip would block the file source forever.
        failure = "not a regular file";
    } else if (std::unique_ptr<platform::MediaGraph> graph = platform::MediaGraph::Create()) {
        LogEvent("Created GraphBuilder");
        LogEvent("Created VideoWindow & MediaControl");
        graph->RenderFile(clipPath);
        graph->Pause(kFirstFrameLimit, [&queue] { return queue.StopRequested(); });
        if (graph->HasVideo()) {
            GrabFrame(queue, clipPath, *graph);
            LogEvent("Releasing basic video");
        } else {
            failure = graph->FailureReason();
        }
        LogEvent("Releasing video window & media control");
        LogEvent("Releasing graph builder");
    }
    LogEvent("Generated thumbnail in %u ms", static_cast<unsigned>(platform::GetTickCount() - start));
    // Why the clip has no thumbnail ("missing decoder: ...", "no video stream"), after the usual lines.
    if (!failure.empty())
        LogEvent("No first frame from [%s]: %s", clipPath.c_str(), failure.c_str());
}
