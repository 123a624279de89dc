#pragma once
#include "platform/DeviceBitmap.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class ThumbnailQueue;

// The two ways of making a missing thumbnail from a clip's first frame, on the generator's
// worker. Each logs its own steps, stores a result on success and reports nothing else; each
// gives up early when the generator stops.

// Runs the ffmpeg program from the FFmpegExe and FFmpegParams settings. `limit` is how long
// ffmpeg may run before it is killed.
void GrabWithFFmpeg(ThumbnailQueue& queue, const std::string& clipPath,
                    std::chrono::milliseconds limit = std::chrono::milliseconds(15000));

// Takes the first frame through the media framework and stretches it to 384 x 216, in this
// process.
void GrabWithMediaFramework(ThumbnailQueue& queue, const std::string& clipPath);

// How long the media framework may take to the first frame of a clip (a slow card, a clip that
// is slow to decode) before the grab gives up with its own reason.
inline constexpr std::chrono::milliseconds kFirstFrameLimit{10000};

// The media-framework grab without storing anything: logs its steps and gives the 384 x 216
// picture, or null, with the reason in `why` when one is given. A grab worker process runs
// this for each clip it is sent.
std::unique_ptr<platform::DeviceBitmap> GrabFirstFrame(const std::string& clipPath,
                                                       const std::function<bool()>& cancelled,
                                                       std::string* why = nullptr,
                                                       std::chrono::milliseconds limit = kFirstFrameLimit);

inline constexpr int kGrabbedThumbnailWidth = 384;
inline constexpr int kGrabbedThumbnailHeight = 216;

// Pixels per grid pixel of the pictures this process makes (1 or 2): on a display scaled by two
// the grid shows a 384 x 216 place at 768 x 432 pixels, and a picture made at that size is drawn
// without being enlarged. Set once, before the first grab; a grab worker is told it when it
// starts. Thumbnail files stay at the grid's size.
void SetGrabbedPictureScale(int scale);
int GrabbedPictureScale();
// The scale of a picture of this size: the grabbed pictures' scale when it has exactly their
// size, else 1.
int GrabbedPictureScaleOf(int width, int height);
