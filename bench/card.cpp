// A whole card without camera thumbnails: 200 clips of 1920 x 1080 interlaced H.264 at a
// camcorder's bitrate (20 Mbit/s), made once with ffmpeg and kept under the build folder.
//   (a) the viewer's document and generator, from opening the folder to the last thumbnail file,
//       after a run that is not timed (so that (a) to (d) all find the card and the decoder in
//       the page cache);
//   (b) ffmpegthumbnailer -s 384 over the same clips one after another, as a desktop thumbnailer;
//   (c) as (a) with a single grab slot;
//   (d) from opening the folder (grab workers starting at the same moment) to the 8th of the
//       clips on screen delivered;
//   (e) from starting the viewer program on the card, with the default settings, to the
//       thumbnail files of its first 8 clips on the disk (median of three starts), with the
//       media framework's plugin registry built, and on a first start that builds it;
//   (f) the same card served by a FUSE file system at a card reader's speed (40 MB/s, 0.5 ms
//       a request, one request at a time, mounted afresh for each program): the viewer as in
//       (a), its first screen (clips 0 to 7) as in (d), against ffmpegthumbnailer as in (b),
//       with the bytes and reads the card served a clip.
// Then the memory: peak resident size of the viewer and of its largest grab worker, resident
// bytes per thumbnail held, and a 4,000-clip card whose thumbnails are all made (served from
// their thumbnail files), against 300 MB.
// Last line: (a) against (b).
#include "log/EventLog.h"
#include "model/AVCHDDoc.h"
#include "platform/ChildProcess.h"
#include "settings/Settings.h"
#include "support/RunTool.h"
#include "support/ScratchFolder.h"
#include "support/SlowCard.h"
#ifdef VIEWMERE_PROGRAM
#include "support/FirstFiles.h"
#endif
#include "thumbgen/ThumbnailFile.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kClips = 200;
constexpr int kSources = 4;
constexpr int kBigCard = 4000;

bool Exists(const std::string& path)
{
    return access(path.c_str(), R_OK) == 0;
}

std::string ClipName(const std::string& folder, int index)
{
    char name[32];
    std::snprintf(name, sizeof name, "/%05d.MTS", index);
    return folder + name;
}

// Camcorder-like sources, different pictures each: film grain keeps the bitrate real.
bool MakeSources(const std::string& cache)
{
    for (int i = 0; i < kSources; ++i) {
        const std::string source = cache + "/source" + std::to_string(i) + ".MTS";
        if (Exists(source))
            continue;
        const std::string partial = source + ".part";
        if (!bench::RunTool({"/usr/bin/ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                  "testsrc2=size=1920x1080:rate=25:duration=3,hue=h=" + std::to_string(i * 90), "-f", "lavfi", "-i",
                  "sine=frequency=440:duration=3", "-vf", "noise=alls=20:allf=t", "-c:v", "libx264", "-preset",
                  "ultrafast", "-b:v", "20M", "-minrate", "20M", "-maxrate", "20M", "-bufsize", "8M", "-x264-params",
                  "nal-hrd=cbr", "-pix_fmt", "yuv420p", "-flags", "+ildct+ilme", "-x264opts", "tff=1", "-g", "12",
                  "-c:a", "ac3", "-b:a", "192k", "-f", "mpegts", "-mpegts_m2ts_mode", "1", partial}) ||
            std::rename(partial.c_str(), source.c_str()) != 0)
            return false;
    }
    return true;
}

bool MakeCard(const std::string& cache, const std::string& card)
{
    if (!bench::RunTool({"/bin/mkdir", "-p", card}))
        return false;
    for (int i = 0; i < kClips; ++i) {
        const std::string clip = ClipName(card, i);
        if (!Exists(clip) && !bench::RunTool({"/bin/cp", cache + "/source" + std::to_string(i % kSources) + ".MTS", clip}))
            return false;
    }
    return true;
}

// Set when a run made its thumbnails in its own process: then it measured no workers at all.
bool ranWithoutWorkers = false;

void DrainLog()
{
    std::string line;
    while (CEventLog::Instance().TakeLine(line))
        ranWithoutWorkers = ranWithoutWorkers || line.find("Could not start the grab worker") != std::string::npos;
}

long ResidentKilobytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

struct CardRun {
    double allSeconds = 0;      // opening to the last thumbnail file
    double visibleSeconds = 0;  // opening to the 8th clip on screen
    double timesSeconds = 0;    // opening to the last recording time and duration read
    int made = 0;
    long residentPerThumbnail = 0;  // bytes
    long workerPeakKilobytes = 0;   // the largest grab worker's peak resident size
};

// The peak resident size of a running process (VmHWM), in KB.
long PeakKilobytes(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

CardRun OpenCard(const std::string& card, const std::string& scratch, int slots, int firstVisible = 100)
{
    for (int i = 0; i < kClips; ++i)
        std::remove(ThumbnailFilePath(ClipName(card, i), false).c_str());
    // A desktop thumbnail cache of its own, so no run is served the pictures of the one before.
    static int runs = 0;
    setenv("XDG_CACHE_HOME", (scratch + "/cache-" + std::to_string(++runs)).c_str(), 1);
    GrabPoolOptions options;
    options.workerCommand = {GRAB_WORKER};
    options.slots = slots;
    options.failureFolder = scratch + "/failed";
    CAVCHDDoc document(options);
    std::set<std::string> visible;
    std::vector<std::string> onScreen;
    for (int i = firstVisible; i < firstVisible + 8; ++i) {
        onScreen.push_back(ClipName(card, i));
        visible.insert(onScreen.back());
    }
    const long residentBefore = ResidentKilobytes();
    CardRun run;
    const auto start = Clock::now();
    document.Generator().WarmUp();
    document.OpenDirectory(card);
    document.SetVisibleClips(onScreen);  // as the view does after its first layout
    int visibleMade = 0;
    while (run.made < kClips && Clock::now() - start < std::chrono::minutes(5)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!document.CollectGeneratedThumbnails())
            continue;
        run.made = 0;
        visibleMade = 0;
        const auto directory = document.GetDirectory(0);
        for (int slot = 0; slot < directory->clips->GetCount(); ++slot) {
            if (directory->thumbnails && directory->thumbnails->GetEntry(slot) != nullptr) {
                ++run.made;
                std::string path;
                directory->clips->GetClipPath(slot, path);
                visibleMade += visible.count(path) != 0;
            }
        }
        if (visibleMade == 8 && run.visibleSeconds == 0)
            run.visibleSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        DrainLog();
    }
    run.allSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.residentPerThumbnail = (ResidentKilobytes() - residentBefore) * 1024 / std::max(run.made, 1);
    while (document.GetPendingRecordingTimes() > 0 && Clock::now() - start < std::chrono::minutes(5)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        document.CollectRecordingTimes();
    }
    run.timesSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (const int pid : document.Generator().WorkerPids())
        run.workerPeakKilobytes = std::max(run.workerPeakKilobytes, PeakKilobytes(pid));
    return run;
}

double ThumbnailerSeconds(const std::string& card, const std::string& scratch)
{
    const auto start = Clock::now();
    for (int i = 0; i < kClips; ++i)
        bench::RunTool({"/usr/bin/ffmpegthumbnailer", "-s", "384", "-i", ClipName(card, i), "-o", scratch + "/thumbnailer.jpg"});
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// 4,000 clips (links to one clip) with their thumbnail files: every thumbnail made and held.
double BigCardMegabytes(const std::string& card, const std::string& scratch)
{
    const std::string big = scratch + "/big";
    bench::RunTool({"/bin/mkdir", "-p", big});
    const std::string picture = ThumbnailFilePath(ClipName(card, 0), false);
    for (int i = 0; i < kBigCard; ++i) {
        const std::string clip = ClipName(big, i);
        if (symlink(ClipName(card, i % kClips).c_str(), clip.c_str()) != 0 ||
            link(ThumbnailFilePath(ClipName(card, i % kClips), false).c_str(), ThumbnailFilePath(clip, false).c_str()) !=
                0)
            return -1;
    }
    (void)picture;
    GrabPoolOptions options;
    options.workerCommand = {GRAB_WORKER};
    options.failureFolder = scratch + "/failed";
    CAVCHDDoc document(options);
    document.OpenDirectory(big);
    int held = 0;
    const auto start = Clock::now();
    while (held < kBigCard && Clock::now() - start < std::chrono::minutes(5)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        document.CollectGeneratedThumbnails();
        const auto directory = document.GetDirectory(0);
        held = 0;
        for (int slot = 0; slot < directory->clips->GetCount(); ++slot)
            held += directory->thumbnails && directory->thumbnails->GetEntry(slot) != nullptr;
        DrainLog();
    }
    return held == kBigCard ? ResidentKilobytes() / 1024.0 : -1;
}

// What the card served a clip, and how long the run took.
struct SlowCardRun {
    CardRun viewer;
    double thumbnailerSeconds = 0;
    double viewerBytes = 0, viewerReads = 0;  // a clip
    double thumbnailerBytes = 0, thumbnailerReads = 0;
    bool mounted = false;
};

void CountReads(const bench::SlowCard& slowCard, double& bytes, double& reads)
{
    const std::vector<bench::SlowCard::Read> served = slowCard.Reads();
    bytes = reads = 0;
    for (const bench::SlowCard::Read& read : served) {
        bytes += read.bytes;
        ++reads;
    }
    bytes /= kClips;
    reads /= kClips;
}

// (f): each program has the card mounted afresh, so nothing read by one is in the page cache
// for the other.
SlowCardRun OnSlowCard(const std::string& card, const std::string& scratch)
{
    SlowCardRun run;
    // Thumbnail files left by the runs before would be served through the mount.
    for (int i = 0; i < kClips; ++i)
        std::remove(ThumbnailFilePath(ClipName(card, i), false).c_str());
    const std::string mountPoint = scratch + "/slow-card";
    const bench::SlowCard::Speed reader;  // 40 MB/s, 0.5 ms a request
    {
        const bench::SlowCard slowCard(card, mountPoint, reader);
        if (!(run.mounted = slowCard.Mounted()))
            return run;
        run.viewer = OpenCard(mountPoint, scratch, 0, 0);
        CountReads(slowCard, run.viewerBytes, run.viewerReads);
    }
    {
        const bench::SlowCard slowCard(card, mountPoint, reader);
        if (!(run.mounted = slowCard.Mounted()))
            return run;
        run.thumbnailerSeconds = ThumbnailerSeconds(mountPoint, scratch);
        CountReads(slowCard, run.thumbnailerBytes, run.thumbnailerReads);
    }
    return run;
}

#ifdef VIEWMERE_PROGRAM
// (e): the viewer started as a person starts it, with a settings home of its own that has every
// setting at its default but the folder to open and thumbnails to make (nothing kept between
// starts, so every start makes them). Returns the median of three starts, with the fastest and
// slowest.
struct Starts {
    double median = -1, fastest = -1, slowest = -1;
};

Starts FirstFilesSeconds(const std::string& card, const std::string& scratch, const std::string& registry,
                         bool registryBuilt)
{
    const std::string home = scratch + "/first-files";
    bench::RunTool({"/bin/mkdir", "-p", home + "/config/Corvane/Viewmere", home + "/tmp"});
    {
        std::ofstream settings(home + "/config/Corvane/Viewmere/settings.reg", std::ios::binary);
        settings << "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Corvane\\Viewmere]\r\n"
                 << "\"LastDirectory\"=\"" << card << "\"\r\n\"GenerateThumbnails\"=dword:00000001\r\n";
    }
    // The thumbnail files beside the first clips, where the default settings write them.
    std::vector<std::string> files;
    for (int i = 0; i < 8; ++i)
        files.push_back(ClipName(card, i) + ".viewmere.jpg");
    const std::string benchConfig = getenv("XDG_CONFIG_HOME");
    setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    setenv("TMPDIR", (home + "/tmp").c_str(), 1);
    setenv("NO_AT_BRIDGE", "1", 1);
    std::vector<double> starts;
    for (int run = 0; run < 3; ++run) {
        for (int i = 0; i < kClips; ++i)
            std::remove((ClipName(card, i) + ".viewmere.jpg").c_str());
        // No failure record, no shared picture from the start before.
        const std::string tag = (registryBuilt ? "built-" : "first-") + std::to_string(run);
        setenv("XDG_CACHE_HOME", (home + "/cache-" + tag).c_str(), 1);
        setenv("GST_REGISTRY", registryBuilt ? registry.c_str() : (home + "/registry-" + tag + ".bin").c_str(), 1);
        starts.push_back(bench::SecondsToFiles({VIEWMERE_PROGRAM}, files));
    }
    setenv("XDG_CONFIG_HOME", benchConfig.c_str(), 1);
    setenv("GST_REGISTRY", registry.c_str(), 1);
    std::sort(starts.begin(), starts.end());
    return {starts[1], starts[0], starts[2]};
}
#endif

// How long the media framework takes to build its plugin registry, as the first start of a grab
// worker after an install does it: the floor of a first start.
double RegistryBuildSeconds(const std::string& scratch)
{
    const std::string registry = scratch + "/registry-alone.bin";
    const std::string command = "GST_REGISTRY='" + registry + "' " + GRAB_WORKER + " < /dev/null > /dev/null";
    const auto start = Clock::now();
    bench::RunTool({"/bin/sh", "-c", command});
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main()
{
    const bench::ScratchFolder scratch;
    if (!scratch.Ok())
        return 1;
    const std::string cache = BENCH_CACHE;
    const std::string card = cache + "/card";
    if (!bench::RunTool({"/bin/mkdir", "-p", cache}) || !MakeSources(cache) || !MakeCard(cache, card)) {
        std::fprintf(stderr, "could not make the card under %s\n", cache.c_str());
        return 1;
    }
    settings::GenerateThumbnails.Write(true);
    settings::WriteThumbnails.Write(true);
    // Each run has a cache folder of its own, but the media framework's plugin registry stays
    // where a user's would be, built before anything is timed, as it is on a desktop that has
    // played or pictured a video before.
    setenv("GST_REGISTRY", (cache + "/gstreamer-registry.bin").c_str(), 1);
    bench::RunTool({"/bin/sh", "-c", std::string(GRAB_WORKER) + " < /dev/null"});

    // A first run, not timed, leaves in the page cache what the runs after it find there: the
    // card's pages and the decoder's code. Hosts that reclaim cold memory (as the machines this
    // was measured on do) page out files left unread for a minute, so the first timed run would
    // otherwise read them from the disk while the runs after it, ffmpegthumbnailer's included,
    // find them in memory.
    OpenCard(card, scratch.Path(), 0);
    const CardRun all = OpenCard(card, scratch.Path(), 0);
    const CardRun one = OpenCard(card, scratch.Path(), 1);
    const double thumbnailer = ThumbnailerSeconds(card, scratch.Path());
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    const double bigCard = BigCardMegabytes(card, scratch.Path());
    const SlowCardRun slow = OnSlowCard(card, scratch.Path());
    const std::string registry = cache + "/gstreamer-registry.bin";
#ifdef VIEWMERE_PROGRAM
    const Starts built = FirstFilesSeconds(card, scratch.Path(), registry, true);
    const Starts first = FirstFilesSeconds(card, scratch.Path(), registry, false);
#else
    const Starts built, first;
#endif
    const double registryBuild = RegistryBuildSeconds(scratch.Path());
    for (int i = 0; i < kClips; ++i)
        std::remove(ThumbnailFilePath(ClipName(card, i), false).c_str());

    const int slots = GrabPoolOptions::DefaultSlotCount();
    std::printf("clips: %d of 1920x1080i H.264 at 20 Mbit/s, %u cores, %d grab slots\n", kClips,
                std::thread::hardware_concurrency(), slots);
    std::printf("(a) viewer, %d slots:              %6.2f s (%d thumbnails, %.0f ms per clip)\n", slots, all.allSeconds,
                all.made, all.allSeconds * 1000 / kClips);
    std::printf("(b) ffmpegthumbnailer -s 384:      %6.2f s (%.0f ms per clip)\n", thumbnailer,
                thumbnailer * 1000 / kClips);
    std::printf("(c) viewer, one slot:              %6.2f s (%d thumbnails)\n", one.allSeconds, one.made);
    std::printf("(d) 8th clip on screen delivered:  %6.3f s (target <= 0.25)\n", all.visibleSeconds);
    std::printf("(e) program start to the first 8 thumbnail files, default settings: %.3f s (%.3f-%.3f) with the "
                "plugin registry built (target <= 0.5); %.3f s (%.3f-%.3f) on a first start that builds it (the build "
                "alone: %.3f s)\n",
                built.median, built.fastest, built.slowest, first.median, first.fastest, first.slowest, registryBuild);
    if (slow.mounted) {
        std::printf("(f) slow card, 40 MB/s and 0.5 ms a request: viewer %.2f s (times and durations read by %.2f s), "
                    "8th picture of the first screen %.3f s (target <= 0.6); ffmpegthumbnailer %.2f s\n",
                    slow.viewer.allSeconds, slow.viewer.timesSeconds, slow.viewer.visibleSeconds,
                    slow.thumbnailerSeconds);
        std::printf("(f) read from the card a clip: viewer %.0f KB in %.1f reads, ffmpegthumbnailer %.0f KB in %.1f "
                    "reads\n",
                    slow.viewerBytes / 1024, slow.viewerReads, slow.thumbnailerBytes / 1024, slow.thumbnailerReads);
        std::printf("(f): ratio %.3f (target <= 0.08)\n", slow.viewer.allSeconds / slow.thumbnailerSeconds);
    } else {
        std::printf("(f) not measured: the slow card could not be mounted (FUSE needs /dev/fuse and the right to mount)\n");
    }
    std::printf("(a)/(c): %.3f (target <= 0.6)\n", all.allSeconds / one.allSeconds);
    std::printf("peak resident: viewer %.1f MB, largest grab worker %.1f MB (target <= 100), largest other child %.1f MB\n",
                self.ru_maxrss / 1024.0, all.workerPeakKilobytes / 1024.0, children.ru_maxrss / 1024.0);
    std::printf("viewer resident per thumbnail held: %.1f KB (%.1f KB with one slot)\n",
                all.residentPerThumbnail / 1024.0, one.residentPerThumbnail / 1024.0);
    std::printf("4,000-clip card, every thumbnail held: %.1f MB resident (target <= 300)\n", bigCard);
    std::printf("card: ratio %.3f (target <= 0.08)\n", all.allSeconds / thumbnailer);
    if (ranWithoutWorkers)
        std::printf("the grab worker %s could not be started: the runs measured in-process grabs\n", GRAB_WORKER);
    return all.made == kClips && one.made == kClips && bigCard > 0 && slow.mounted && slow.viewer.made == kClips &&
                   !ranWithoutWorkers
               ? 0
               : 1;
}
