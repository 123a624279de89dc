#pragma once
#include "imaging/JpegPicture.h"
#include "thumbgen/WorkThread.h"

#include <chrono>
#include <cstddef>
#include <string>

// Grabbed pictures written to the desktop's shared thumbnail cache, for other programs, on a
// thread of its own at the lowest priority. Nobody waits for these files: the grid has its
// picture already. So their decodes and PNG encodes (a few milliseconds a picture) use only the
// CPU the grabs leave, and a cache on a slow or hung disk holds back no picture of the grid.
// Up to kMaxWaiting pictures wait their turn; past that, Add writes the picture itself, so a CPU
// that never idles cannot pile them up in memory. Going, it writes what waits, for up to
// CWorkThread's end limit.
class CThumbnailSharer {
public:
    static constexpr std::size_t kMaxWaiting = 256;  // about 5 MB of JPEG
    CThumbnailSharer();

    // Shares the clip's picture (when the settings share thumbnails): soon, when the CPU has room.
    void Add(const std::string& clipPath, const CJpegPicture& picture);
    // Waits up to `limit` for every picture added to be written; false when one is left then.
    bool Drain(std::chrono::milliseconds limit) { return writer_.Drain(limit); }

private:
    struct Waiting {
        std::string clipPath;
        CJpegPicture picture;
    };
    CWorkThread<Waiting> writer_;
};
