// Time the desktop takes to picture one clip of a card, run as a file manager runs a
// thumbnailer (one process per clip, PNG of 256 pixels): viewmere-thumbnailer against
// ffmpegthumbnailer -s 256 on the same clips, for clips with a camera thumbnail and for clips
// without (a first frame each). The card is a realistic one: 113 clips, a THUMB.TDT of 131
// blocks with an index of 107 records, the last six clips without one.
// Last line: the larger of the two ratios.
#include "platform/ChildProcess.h"
#include "platform/DesktopApps.h"
#include "support/BenchTimer.h"
#include "support/CameraJpeg.h"
#include "support/RunTool.h"
#include "support/ScratchFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

// A reference tool or the thumbnailer, given a minute.
bool Run(const std::vector<std::string>& arguments)
{
    return bench::RunTool(arguments, std::chrono::minutes(1));
}

void Write(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ClipName(int number)
{
    char name[16];
    std::snprintf(name, sizeof name, "%05d.MTS", number);
    return name;
}

// The card's folders, its thumbnail files, real clips for the ones measured and small stand-ins
// for the rest; the STREAM folder's path.
std::string MakeCard(const std::string& card, const std::string& clip, const std::vector<int>& measured)
{
    const std::string avchd = card + "/PRIVATE/AVCHD", stream = avchd + "/BDMV/STREAM";
    for (const std::string& folder : {card, card + "/PRIVATE", avchd, avchd + "/BDMV", stream, avchd + "/AVCHDTN"})
        mkdir(folder.c_str(), 0755);
    std::string tdt, tid(72, '\0');
    for (int block = 0; block < 131; ++block) {
        std::string jpeg = bench::CameraThumbnailJpeg(block);
        jpeg.resize(16384, '\0');
        tdt += jpeg;
    }
    for (int number = 0; number < 107; ++number) {
        const int block = number + 18;
        tid += std::string{static_cast<char>(number >> 8), static_cast<char>(number & 255),
                           static_cast<char>(block >> 8), static_cast<char>(block & 255)};
        tid += std::string(8, '\0');
    }
    Write(avchd + "/AVCHDTN/THUMB.TDT", tdt);
    Write(avchd + "/AVCHDTN/THUMB.TID", tid);
    for (int number = 0; number < 113; ++number)
        if (std::find(measured.begin(), measured.end(), number) == measured.end())
            Write(stream + "/" + ClipName(number), "a clip of another day");
        else if (!Run({"/bin/cp", clip, stream + "/" + ClipName(number)}))
            return {};
    return stream;
}

struct Figures {
    double ours = 0, reference = 0;
};

// Alternating runs of both programs over the clips, median seconds per clip of each.
Figures Measure(const std::string& stream, const std::vector<int>& clips, const std::string& out)
{
    std::vector<double> ours, reference;
    for (int round = 0; round < 3; ++round)
        for (int number : clips) {
            const std::string path = stream + "/" + ClipName(number);
            const std::string uri = platform::FileUri(path);
            ours.push_back(bench::SecondsPerCall([&] { Run({THUMBNAILER, "-s", "256", uri, out}); }, 1));
            reference.push_back(
                bench::SecondsPerCall([&] { Run({"/usr/bin/ffmpegthumbnailer", "-s", "256", "-i", path, "-o", out}); }, 1));
        }
    return {bench::Median(ours), bench::Median(reference)};
}

}  // namespace

int main()
{
    const bench::ScratchFolder scratch;
    if (!scratch.Ok())
        return 1;
    const std::string& base = scratch.Path();
    const std::string clip = base + "/clip.MTS", out = base + "/thumbnail.png";
    if (!Run({"/usr/bin/ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
              "testsrc2=size=1920x1080:rate=25:duration=2", "-f", "lavfi", "-i", "sine=frequency=440:duration=2",
              "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-flags", "+ildct+ilme", "-x264opts",
              "tff=1", "-c:a", "ac3", "-b:a", "192k", "-f", "mpegts", "-mpegts_m2ts_mode", "1", clip})) {
        std::fprintf(stderr, "could not make the clip\n");
        return 1;
    }
    const std::vector<int> withCamera = {0, 1, 2, 3, 4, 5}, without = {107, 108, 109, 110, 111, 112};
    std::vector<int> measured = withCamera;
    measured.insert(measured.end(), without.begin(), without.end());
    const std::string stream = MakeCard(base + "/card", clip, measured);
    if (stream.empty() || access("/usr/bin/ffmpegthumbnailer", X_OK) != 0) {
        std::fprintf(stderr, "could not make the card, or ffmpegthumbnailer is not installed\n");
        return 1;
    }
    // Both programs once, so that the media framework's plugin registry exists and files are cached.
    if (!Run({THUMBNAILER, "-s", "256", platform::FileUri(stream + "/" + ClipName(107)), out}) ||
        !Run({"/usr/bin/ffmpegthumbnailer", "-s", "256", "-i", clip, "-o", out})) {
        std::fprintf(stderr, "a thumbnailer failed\n");
        return 1;
    }

    const Figures camera = Measure(stream, withCamera, out);
    const Figures frames = Measure(stream, without, out);
    std::printf("with camera thumbnail: viewmere-thumbnailer %6.1f ms, ffmpegthumbnailer %6.1f ms per clip (ratio %.3f)\n",
                camera.ours * 1e3, camera.reference * 1e3, camera.ours / camera.reference);
    std::printf("first frame:           viewmere-thumbnailer %6.1f ms, ffmpegthumbnailer %6.1f ms per clip (ratio %.3f)\n",
                frames.ours * 1e3, frames.reference * 1e3, frames.ours / frames.reference);
    bench::PrintRatio("thumbnailer", std::max(camera.ours / camera.reference, frames.ours / frames.reference), 1.0);
    return 0;
}
