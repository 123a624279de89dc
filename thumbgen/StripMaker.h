#pragma once
#include "imaging/JpegPicture.h"
#include "thumbgen/FrameGrab.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// A strip: frames spread evenly over a whole recording, every file of a split one, for skimming
// through it in the grid. Frame i of n stands for the time i / (n - 1) of the way through, so the
// first is the recording's start and the last its end; each is the key frame nearest its time.

// One file of a recording and how long it lasts (0: not known, read from the file).
struct StripPart {
    std::string path;
    double seconds = 0;
};

struct StripRequest {
    std::vector<StripPart> parts;  // in the order they are played
    int frames = 16;
    int first = 0;  // the frame made first: the one under the pointer
    int width = kGrabbedThumbnailWidth;
    int height = kGrabbedThumbnailHeight;

    // Largest strip asked for: far more frames than any picture is wide in 24-pixel steps.
    static constexpr int kMaxFrames = 256;
    static constexpr int kMaxParts = 64;
};

struct StripFrame {
    int index = 0;
    double seconds = 0;   // where in the recording the frame lies
    double duration = 0;  // of the whole recording
    CJpegPicture picture;
};

// The order a strip's frames are made in: `first`, then both ends, then the middles of the gaps
// left, so a pointer anywhere soon has a frame near it.
std::vector<int> StripOrder(int frames, int first);
// The time frame `index` of `frames` stands for.
double StripFrameTime(int index, int frames, double duration);

// How long one frame's key picture may take to decode before the frame is given up.
inline constexpr std::chrono::milliseconds kStripFrameLimit{5000};

// Makes the frames of a strip in StripOrder and hands each to `deliver` as soon as it is made
// (false from it stops the strip). A frame that cannot be made is logged and left out. The
// recording's files are open only while the strip is made. False when no frame was made, with
// the reason in `why`.
bool MakeStrip(const StripRequest& request, const std::function<bool(StripFrame)>& deliver,
               const std::function<bool()>& cancelled, std::string* why = nullptr);
