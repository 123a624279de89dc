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

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>

namespace {

std::atomic<int> grabbedPictureScale{1};

// Logs the frame steps and gives the held frame stretched to the thumbnail size; null when the
// frame cannot be had.
std::unique_ptr<platform::DeviceBitmap> StretchFrame(platform::MediaGraph& graph)
{
    LogEvent("Retrieved BasicVideo");
    int size = 0;
    const std::uint32_t status = graph.GetCurrentImage(size, nullptr);
    if (status != 0) {
        LogEvent("GetImage failed (hr == %x)", status);
        return nullptr;
    }
    if (size < 1) {
        LogEvent("Failed to get current image data size");
        return nullptr;
    }
    LogEvent("Current image size retrieved: %d bytes", size);

    // The frame is stretched straight from the decoder's planes to 384 x 216 and turned
    // upright; a full-size RGB copy (8 MB for full HD) would give the same picture.
    const int scale = GrabbedPictureScale();
    auto thumbnail = std::make_unique<platform::DeviceBitmap>(
        graph.StretchCurrentImage(kGrabbedThumbnailWidth * scale, kGrabbedThumbnailHeight * scale));
    LogEvent("Retrieved Current Image DIB");
    if (thumbnail->bits.empty())
        return nullptr;
    return thumbnail;
}

// The graph of this thread, built at its first grab and kept from clip to clip: its elements and
// the decoder are made once, not for every clip.
std::unique_ptr<platform::MediaGraph>& ThreadGraphSlot()
{
    thread_local std::unique_ptr<platform::MediaGraph> graph;
    return graph;
}

platform::MediaGraph* ThreadGraph()
{
    std::unique_ptr<platform::MediaGraph>& graph = ThreadGraphSlot();
    if (!graph)
        graph = platform::MediaGraph::Create();
    return graph.get();
}

void ReleaseThreadGraph()
{
    ThreadGraphSlot().reset();
}

}  // namespace

void SetGrabbedPictureScale(int scale)
{
    grabbedPictureScale = std::clamp(scale, 1, 2);
}

int GrabbedPictureScale()
{
    return grabbedPictureScale;
}

int GrabbedPictureScaleOf(int width, int height)
{
    const int scale = GrabbedPictureScale();
    return width == kGrabbedThumbnailWidth * scale && height == kGrabbedThumbnailHeight * scale ? scale : 1;
}

std::unique_ptr<platform::DeviceBitmap> GrabFirstFrame(const std::string& clipPath,
                                                       const std::function<bool()>& cancelled, std::string* why,
                                                       std::chrono::milliseconds limit)
{
    LogEvent("Generating thumbnail for [%s]", clipPath.c_str());
    const std::uint32_t start = platform::GetTickCount();
    std::unique_ptr<platform::DeviceBitmap> thumbnail;
    std::string failure;
    if (platform::FileExists(clipPath) && !platform::IsRegularFile(clipPath)) {
        // A FIFO or device named like a clip would block the file source forever.
        failure = "not a regular file";
    } else if (platform::MediaGraph* graph = ThreadGraph()) {
        LogEvent("Created GraphBuilder");
        LogEvent("Created VideoWindow & MediaControl");
        graph->RenderFile(clipPath);
        graph->Pause(limit, cancelled);
        if (graph->HasVideo()) {
            thumbnail = StretchFrame(*graph);
            LogEvent("Releasing basic video");
        } else {
            failure = graph->FailureReason();
        }
        LogEvent("Releasing video window & media control");
        LogEvent("Releasing graph builder");
        // The graph is kept for the next clip, but never the clip's file.
        if (thumbnail)
            graph->ReleaseFile();
        else
            ReleaseThreadGraph();  // a graph that failed is not trusted with the next clip
    }
    LogEvent("Generated thumbnail in %u ms", static_cast<unsigned>(platform::GetTickCount() - start));
    // Why the clip has no thumbnail ("missing decoder: ...", "no video stream"), after the usual lines.
    if (!failure.empty())
        LogEvent("No first frame from [%s]: %s", clipPath.c_str(), failure.c_str());
    if (why != nullptr)
        *why = thumbnail ? std::string() : !failure.empty() ? failure : "the first frame could not be read";
    return thumbnail;
}

void GrabWithMediaFramework(ThumbnailQueue& queue, const std::string& clipPath)
{
    std::string why;
    std::unique_ptr<platform::DeviceBitmap> thumbnail =
        GrabFirstFrame(clipPath, [&queue] { return queue.StopRequested(); }, &why);
    if (!thumbnail) {
        if (!queue.StopRequested())
            queue.StoreResult(clipPath, ThumbnailResult::Failure(why));
        return;
    }
    const bool write = GetWriteThumbnails(), share = settings::ShareThumbnails.Read();
    CRgbImage picture;
    if ((write || share) && picture.FromBitmap(*thumbnail)) {
        if (write)
            WriteThumbnailFile(clipPath, picture);
        if (share)
            ShareGrabbedThumbnail(clipPath, picture);
    }
    ThumbnailResult result{std::move(thumbnail), nullptr};
    result.scale = GrabbedPictureScaleOf(result.bitmap->width, result.bitmap->height);
    queue.StoreResult(clipPath, std::move(result));
}
