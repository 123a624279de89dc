// Time to make one thumbnail of the same 1920 x 1080 interlaced AVCHD clip by:
//   (a) the media-framework grab over GStreamer, in one process, over 20 grabs;
//   (b) the ffmpeg grab with the default template;
//   (c) the bare ffmpeg command of that template;
//   (d) ffmpegthumbnailer -s 384.
// Last line: (a) against (c).
#include "log/EventLog.h"
#include "settings/Settings.h"
#include "support/BenchTimer.h"
#include "support/ScratchFolder.h"
#include "thumbgen/FrameGrab.h"
#include "thumbgen/ThumbnailQueue.h"

#include "platform/ChildProcess.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Runs a program to its end, output discarded; true when it ran.
bool Run(const std::vector<std::string>& arguments)
{
    return platform::RunProcess(arguments, std::chrono::minutes(5)) == platform::ProcessOutcome::Exited;
}

void DrainLog()
{
    std::string line;
    while (CEventLog::Instance().TakeLine(line)) {
    }
}

}  // namespace

int main()
{
    const bench::ScratchFolder scratch;  // settings at their defaults
    if (!scratch.Ok())
        return 1;
    const std::string& base = scratch.Path();
    setenv("TMPDIR", base.c_str(), 1);
    settings::WriteThumbnails.Write(false);  // every method makes the picture in memory or a temp file
    settings::ShareThumbnails.Write(false);

    const std::string clip = base + "/00000.MTS";
    if (!Run({"/usr/bin/ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
              "testsrc2=size=1920x1080:rate=25:duration=2", "-f", "lavfi", "-i", "sine=frequency=440:duration=2",
              "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-flags", "+ildct+ilme", "-x264opts",
              "tff=1", "-c:a", "ac3", "-b:a", "192k", "-f", "mpegts", "-mpegts_m2ts_mode", "1", clip}) ||
        access(clip.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "could not make the clip\n");
        return 1;
    }

    ThumbnailQueue queue;
    int stored = 0;
    auto takeAll = [&] {
        std::string path;
        ThumbnailResult result;
        while (queue.TakeResult(path, result))
            ++stored;
        DrainLog();
    };
    auto mediaGrab = [&] {
        GrabWithMediaFramework(queue, clip);
        takeAll();
    };
    auto ffmpegGrab = [&] {
        GrabWithFFmpeg(queue, clip);
        takeAll();
    };
    const std::string out = base + "/bare.jpg";
    auto bareFFmpeg = [&] {
        Run({"/usr/bin/ffmpeg", "-y", "-i", clip, "-vframes", "1", "-s", "416x234", "-vcodec", "mjpeg", out});
    };
    const std::string thumbOut = base + "/thumbnailer.jpg";
    const std::string thumbnailerPath = "/usr/bin/ffmpegthumbnailer";
    const bool haveThumbnailer = Run({thumbnailerPath, "-i", clip, "-o", thumbOut, "-s", "384"}) &&
                                 access(thumbOut.c_str(), R_OK) == 0;
    auto thumbnailer = [&] { Run({thumbnailerPath, "-i", clip, "-o", thumbOut, "-s", "384"}); };

    mediaGrab();  // plugin registry and decoder loading happen once per process
    std::vector<double> a, b, c, d;
    for (int round = 0; round < 20; ++round) {
        a.push_back(bench::SecondsPerCall(mediaGrab, 1));
        c.push_back(bench::SecondsPerCall(bareFFmpeg, 1));
        if (round % 2 == 0) {
            b.push_back(bench::SecondsPerCall(ffmpegGrab, 1));
            if (haveThumbnailer)
                d.push_back(bench::SecondsPerCall(thumbnailer, 1));
        }
    }
    const double ma = bench::Median(a), mb = bench::Median(b), mc = bench::Median(c);
    std::printf("thumbnails stored: %d\n", stored);
    std::printf("(a) media-framework grab (GStreamer, in process): %6.1f ms per clip (%.2fx the 34 ms decode floor)\n",
                ma * 1e3, ma * 1e3 / 34.0);
    std::printf("(b) ffmpeg grab, default template:                 %6.1f ms (%.2fx (c); target <= 1.10)\n", mb * 1e3,
                mb / mc);
    std::printf("(c) bare ffmpeg command:                           %6.1f ms\n", mc * 1e3);
    if (haveThumbnailer) {
        const double md = bench::Median(d);
        std::printf("(d) ffmpegthumbnailer -s 384:                      %6.1f ms ((a) is %.2fx (d); target < 1)\n",
                    md * 1e3, ma / md);
    } else {
        std::printf("(d) ffmpegthumbnailer: not installed\n");
    }
    bench::PrintRatio("grab", ma / mc, 0.4);
    return 0;
}
