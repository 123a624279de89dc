#include "log/EventLog.h"
#include "platform/BitmapStretch.h"
#include "platform/MediaGraph.h"
#include "platform/Ticks.h"
#include "settings/Settings.h"
#include "thumbgen/FrameGrab.h"
#include "thumbgen/ThumbnailFile.h"
#include "thumbgen/ThumbnailQueue.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr std::chrono::milliseconds kFirstFrameLimit{10000};

// Writes the thumbnail under a temporary name beside its final one and renames it, so a failed
// write never leaves half a picture where the next visit would look.
void WriteThumbnailFile(const std::string& clipPath, const platform::DeviceBitmap& thumbnail)
{
    const std::string fileName = ThumbnailFilePath(clipPath, true);
    CRgbImage picture;
    if (!picture.FromBitmap(thumbnail))
        return;
    const std::string partial = fileName + ".part";
    if (picture.SaveJpegFile(partial) && std::rename(partial.c_str(), fileName.c_str()) == 0)
        return;
    std::remove(partial.c_str());
}

// The frame's rows follow the 40-byte header bottom row first: a bottom-up bitmap as it is.
std::unique_ptr<platform::DeviceBitmap> FullSizeBitmap(const std::uint8_t* image, int width, int height)
{
    platform::DeviceBitmap bitmap = platform::MakeDeviceBitmap32(width, height);
    if (bitmap.bits.empty())
        return nullptr;
    std::memcpy(bitmap.bits.data(), image + platform::MediaGraph::kImageHeaderSize, bitmap.bits.size());
    return std::make_unique<platform::DeviceBitmap>(std::move(bitmap));
}

void GrabFrame(ThumbnailQueue& queue, const std::string& clipPath, platform::MediaGraph& graph)
{
    LogEvent("Retrieved BasicVideo");
    const int height = graph.VideoHeight();
    const int width = graph.VideoWidth();
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

    std::unique_ptr<std::uint8_t[]> image(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(size)]);
    if (!image)
        return;
    graph.GetCurrentImage(size, image.get());
    LogEvent("Retrieved Current Image DIB");
    const std::unique_ptr<platform::DeviceBitmap> frame = FullSizeBitmap(image.get(), width, height);
    image.reset();
    if (!frame)
        return;
    auto thumbnail = std::make_unique<platform::DeviceBitmap>(
        platform::StretchHalftone(*frame, kGrabbedThumbnailWidth, kGrabbedThumbnailHeight, false));
    if (thumbnail->bits.empty())
        return;
    if (GetWriteThumbnails())
        WriteThumbnailFile(clipPath, *thumbnail);
    queue.StoreResult(clipPath, ThumbnailResult{std::move(thumbnail), nullptr});
}

}  // namespace

void GrabWithDirectShow(ThumbnailQueue& queue, const std::string& clipPath)
{
    LogEvent("Generating thumbnail for [%s]", clipPath.c_str());
    const std::uint32_t start = platform::GetTickCount();
    if (std::unique_ptr<platform::MediaGraph> graph = platform::MediaGraph::Create()) {
        LogEvent("Created GraphBuilder");
        LogEvent("Created VideoWindow & MediaControl");
        graph->RenderFile(clipPath);
        graph->Pause(kFirstFrameLimit, [&queue] { return queue.StopRequested(); });
        if (graph->HasVideo()) {
            GrabFrame(queue, clipPath, *graph);
            LogEvent("Releasing basic video");
        }
        LogEvent("Releasing video window & media control");
        LogEvent("Releasing graph builder");
    }
    LogEvent("Generated thumbnail in %u ms", static_cast<unsigned>(platform::GetTickCount() - start));
}
