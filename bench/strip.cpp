// Strips for skimming: 16 frames spread over each of 50 clips without thumbnails, 1920 x 1080
// interlaced H.264 at a camcorder's bitrate (20 Mbit/s, a key frame every 12 pictures), 10 s
// each, made once with ffmpeg and kept under the build folder.
//   (a) the viewer's way: the strip asked of the generator, made by a warm grab worker, from the
//       request to the last frame delivered (and kept on disk);
//   (b) the ffmpeg program run once per frame with a seek: ffmpeg -ss T -i CLIP -frames:v 1,
//       scaled to the strip's 384 x 216.
// Side by side: each clip's (a), then its (b). Also the time from the request to the first frame.
// Last line: (a) against (b), medians per clip.
#include "platform/ChildProcess.h"
#include "support/BenchTimer.h"
#include "support/RunTool.h"
#include "support/ScratchFolder.h"
#include "thumbgen/StripCache.h"
#include "thumbgen/ThumbnailGenerator.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kClips = 50;
constexpr int kFrames = 16;
constexpr double kSeconds = 10.0;

bool MakeSource(const std::string& source)
{
    if (access(source.c_str(), R_OK) == 0)
        return true;
    const std::string partial = source + ".part", seconds = std::to_string(static_cast<int>(kSeconds));
    return bench::RunTool({"/usr/bin/ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                "testsrc2=size=1920x1080:rate=25:duration=" + seconds, "-f", "lavfi", "-i",
                "sine=frequency=440:duration=" + seconds, "-vf", "noise=alls=20:allf=t", "-c:v", "libx264", "-preset",
                "ultrafast", "-b:v", "20M", "-minrate", "20M", "-maxrate", "20M", "-bufsize", "8M", "-x264-params",
                "nal-hrd=cbr", "-pix_fmt", "yuv420p", "-flags", "+ildct+ilme", "-x264opts", "tff=1", "-g", "12", "-c:a",
                "ac3", "-b:a", "192k", "-f", "mpegts", "-mpegts_m2ts_mode", "1", partial}) &&
           std::rename(partial.c_str(), source.c_str()) == 0;
}

struct StripTimes {
    double first = 0;  // seconds from the request to the first frame
    double whole = 0;  // to the last
    int frames = 0;
};

StripTimes MakeStripThroughGenerator(CThumbnailGenerator& generator, const std::string& clip)
{
    StripTimes times;
    const auto start = Clock::now();
    generator.EnqueueStrip({StripKeyOf({clip}), StripRequest{{{clip, 0}}, kFrames}});
    for (;;) {
        ThumbnailQueue::StripResult result;
        if (!generator.TakeStripResult(result)) {
            std::this_thread::sleep_for(std::chrono::microseconds(500));
            continue;
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (result.kind != ThumbnailQueue::StripResult::Kind::Frame) {
            times.whole = elapsed;
            return times;
        }
        if (times.frames++ == 0)
            times.first = elapsed;
    }
}

double FFmpegPerFrame(const std::string& clip, const std::string& out)
{
    const auto start = Clock::now();
    for (int i = 0; i < kFrames; ++i) {
        char seek[32];
        std::snprintf(seek, sizeof seek, "%.3f", kSeconds * i / (kFrames - 1) * 0.999);
        bench::RunTool({"/usr/bin/ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-ss", seek, "-i", clip, "-frames:v", "1", "-s",
             "384x216", out});
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main()
{
    const bench::ScratchFolder scratch;
    if (!scratch.Ok())
        return 1;
    const std::string base = scratch.Path();
    setenv("XDG_CACHE_HOME", (base + "/cache").c_str(), 1);
    const std::string source = std::string(BENCH_CACHE) + "/source.MTS";
    if (bench::RunTool({"mkdir", "-p", BENCH_CACHE}), !MakeSource(source)) {
        std::fprintf(stderr, "could not make the clip\n");
        return 1;
    }
    // Thumbnail-free clips of a card: links to the one clip under names of their own.
    std::vector<std::string> clips;
    for (int i = 0; i < kClips; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/%05d.MTS", i);
        clips.push_back(base + name);
        if (link(source.c_str(), clips.back().c_str()) != 0)
            return 1;
    }

    GrabPoolOptions options;
    options.workerCommand = {GRAB_WORKER};
    options.slots = 1;  // strips are asked for one at a time, as the pointer rests on a clip
    options.stripFolder = base + "/strips";
    options.failureFolder = base + "/failed";
    CThumbnailGenerator generator(options);
    generator.WarmUp();
    std::this_thread::sleep_for(std::chrono::seconds(2));  // the worker is ready, as in the viewer

    std::vector<double> firsts, wholes, references;
    int made = 0;
    for (const std::string& clip : clips) {
        const StripTimes strip = MakeStripThroughGenerator(generator, clip);
        made += strip.frames;
        firsts.push_back(strip.first);
        wholes.push_back(strip.whole);
        references.push_back(FFmpegPerFrame(clip, base + "/frame.jpg"));
    }
    const double first = bench::Median(firsts), whole = bench::Median(wholes), reference = bench::Median(references);
    std::printf("frames made: %d of %d\n", made, kClips * kFrames);
    // The grid asks once the pointer has rested on the clip for CSkimming::kRestMilliseconds (60).
    std::printf("first frame of one clip (%s): %6.1f ms from the request, %6.1f ms from pointing (target <= 300 ms)\n",
                clips[0].c_str(), firsts[0] * 1e3, firsts[0] * 1e3 + 60);
    std::printf("first frame, median of %d clips: %6.1f ms, slowest %6.1f ms\n", kClips, first * 1e3,
                *std::max_element(firsts.begin(), firsts.end()) * 1e3);
    std::printf("(a) whole strip of %d frames:   %6.1f ms per clip, slowest %6.1f ms (target <= 1500 ms)\n", kFrames,
                whole * 1e3, *std::max_element(wholes.begin(), wholes.end()) * 1e3);
    std::printf("(b) ffmpeg -ss T once per frame: %6.1f ms per clip\n", reference * 1e3);
    bench::PrintRatio("strip", whole / reference, 0.25);
    return 0;
}
