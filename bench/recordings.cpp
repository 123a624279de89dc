// Reading the playlist and the durations of a card of 2,000 clips against the bare cost of
// reading each clip's first and last 64 KB (read and pread of one descriptor), side by side over
// the same files. Each clip holds the bytes of three seconds of 1920 x 1080 interlaced video as
// a camcorder records it (17 Mbit/s, groups of 12 pictures with two B pictures between P
// pictures, the camera's date in the first picture): its first 256 KB and last 512 KB, all the
// readers ever look at, with a hole between (a sparse file, so the card takes 1.5 GB of disk
// rather than 13).
// Two cases over the same files: the card with its playlist (every duration from the playlist,
// each clip's start read for its recording time) and the card without it, as a copy of the
// STREAM folder alone would be (every duration read from the stream's first and last pictures).
// Cold: the files' cached pages are dropped before each timed pass (support/ClipFiles.h); warm:
// the same passes with the pages cached. Last line: the cold ratio of the case without the
// playlist, the one that reads more.
#include "model/AVCHDDoc.h"
#include "model/RecordingTime.h"
#include "platform/ChildProcess.h"
#include "support/BenchTimer.h"
#include "support/CardPlaylist.h"
#include "support/ClipFiles.h"
#include "support/ScratchFolder.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kClips = 2000;
constexpr std::size_t kHead = 256 * 1024;
constexpr std::size_t kTail = 512 * 1024;
constexpr std::size_t kBareRead = 64 * 1024;

bool MakeClip(const std::string& path)
{
    const std::string mdpm = "MDPM\x03\x18\x02\x20\x08\x12\x19\x31\x23\x16\x24\x70\x41\x42\x43\x44";
    return platform::RunProcess({"/usr/bin/ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                 "testsrc2=size=1920x1080:rate=25:duration=3", "-f", "lavfi", "-i",
                                 "sine=frequency=440:duration=3", "-c:v", "libx264", "-preset", "superfast", "-b:v",
                                 "17M", "-maxrate", "17M", "-bufsize", "6M", "-g", "12", "-bf", "2", "-pix_fmt", "yuv420p",
                                 "-flags", "+ildct+ilme", "-x264opts", "tff=1", "-bsf:v",
                                 "h264_metadata=sei_user_data=17ee8c60-f84d-11d9-8cd6-0800200c9a66+" + mdpm, "-c:a",
                                 "ac3", "-b:a", "192k", "-f", "mpegts", "-mpegts_m2ts_mode", "1", path},
                                std::chrono::minutes(2)) == platform::ProcessOutcome::Exited;
}

std::string ReadWhole(const std::string& path)
{
    std::string bytes;
    const bench::Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    char chunk[65536];
    for (ssize_t got; file.Get() >= 0 && (got = read(file.Get(), chunk, sizeof chunk)) > 0;)
        bytes.append(chunk, static_cast<std::size_t>(got));
    return bytes;
}

// The clip's first and last bytes at their places in a file of the clip's size.
bool WriteSparseCopy(const std::string& path, const std::string& clip)
{
    const bench::Descriptor file(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    const std::size_t tail = std::min(kTail, clip.size());
    return file.Get() >= 0 && ftruncate(file.Get(), static_cast<off_t>(clip.size())) == 0 &&
           pwrite(file.Get(), clip.data(), kHead, 0) == static_cast<ssize_t>(kHead) &&
           pwrite(file.Get(), clip.data() + clip.size() - tail, tail, static_cast<off_t>(clip.size() - tail)) ==
               static_cast<ssize_t>(tail);
}

struct Clip {
    std::string path;
    bool durationKnown = false;  // from the playlist
};

}  // namespace

int main()
{
    const bench::ScratchFolder scratch;
    if (!scratch.Ok())
        return 1;
    const std::string card = scratch.Path() + "/card";
    const std::string bdmv = card + "/PRIVATE/AVCHD/BDMV";
    const std::string stream = bdmv + "/STREAM";
    const std::string source = scratch.Path() + "/source.MTS";
    if (std::system(("mkdir -p '" + stream + "' '" + bdmv + "/PLAYLIST'").c_str()) != 0 || !MakeClip(source)) {
        std::fprintf(stderr, "could not make the clip\n");
        return 1;
    }
    const std::string clip = ReadWhole(source);
    std::vector<std::string> paths;
    for (int i = 0; i < kClips; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/%05d.MTS", i);
        paths.push_back(stream + name);
        if (!WriteSparseCopy(paths.back(), clip)) {
            std::fprintf(stderr, "could not write %s\n", paths.back().c_str());
            return 1;
        }
    }
    const std::string playlist = bdmv + "/PLAYLIST/00000.MPL", away = bdmv + "/PLAYLIST/put-away";
    {
        const bench::Descriptor file(open(playlist.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        const std::string bytes = bench::CardPlaylist(kClips);
        if (file.Get() < 0 || write(file.Get(), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            return 1;
    }
    bench::SyncFolder(card);

    CAVCHDDoc doc;
    int durations = 0, times = 0;
    auto readCard = [&] {
        durations = times = 0;
        doc.ScanFolder(card);
        const CClipDetails& clips = *doc.GetDirectory(0)->clips;
        for (int slot = 0; slot < clips.GetCount(); ++slot) {
            const CClipDetails::ClipEntry* entry = clips.GetEntry(slot);
            std::string path;
            clips.GetClipPath(slot, path);
            const ClipStreamFacts facts = ReadClipStreamFacts(path, !entry->durationFromPlaylist);
            durations += entry->durationFromPlaylist || (facts.duration && *facts.duration > 2.9) ? 1 : 0;
            times += facts.time ? 1 : 0;
        }
    };
    std::vector<char> buffer(kBareRead);
    auto bareReads = [&] {
        for (const std::string& path : paths) {
            const bench::Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
            struct stat info {};
            if (file.Get() < 0 || fstat(file.Get(), &info) != 0 || read(file.Get(), buffer.data(), kBareRead) < 0 ||
                pread(file.Get(), buffer.data(), kBareRead, info.st_size - static_cast<off_t>(kBareRead)) < 0)
                std::perror("read");
        }
    };

    struct Case {
        const char* name;
        bool playlist;
        bench::PairResult warm{}, cold{};
        bool dropped = false;
        int durations = 0, times = 0;
    };
    Case cases[] = {{"with the playlist", true}, {"without the playlist", false}};
    for (Case& c : cases) {
        if (!c.playlist && std::rename(playlist.c_str(), away.c_str()) != 0)
            return 1;
        c.warm = bench::MeasurePair(readCard, bareReads, 1, 5);
        std::vector<double> candidate, reference;
        for (int round = 0; round < 3; ++round) {
            c.dropped = bench::DropCachedPages(paths, kHead);
            candidate.push_back(bench::SecondsPerCall(readCard, 1));
            bench::DropCachedPages(paths, kHead);
            reference.push_back(bench::SecondsPerCall(bareReads, 1));
        }
        c.cold = {bench::Median(candidate), bench::Median(reference)};
        c.durations = durations;
        c.times = times;
    }

    bool complete = true;
    std::printf("clips: %d, each %zu KB (%zu KB of it written)\n", kClips, clip.size() / 1024, (kHead + kTail) / 1024);
    for (const Case& c : cases) {
        std::printf("%s: %d durations and %d recording times found\n", c.name, c.durations, c.times);
        std::printf("  warm: %.1f ms, bare first and last 64 KB %.1f ms, ratio %.3f\n", c.warm.candidate * 1e3,
                    c.warm.reference * 1e3, c.warm.Ratio());
        std::printf("  %s: %.1f ms, bare first and last 64 KB %.1f ms, ratio %.3f\n",
                    c.dropped ? "cold (pages dropped)" : "cold not possible here, warm again", c.cold.candidate * 1e3,
                    c.cold.reference * 1e3, c.cold.Ratio());
        complete = complete && c.durations == kClips && c.times == kClips;
    }
    bench::PrintRatio("recordings", cases[1].cold.Ratio(), 1.5);
    return complete ? 0 : 1;
}
