// Reading the recording times of 2,000 clips against the bare cost of reading each clip's first
// 16 KB with read(2), side by side over the same files. Each clip is the first 256 KB (all the
// reader may ever read) of a 1920 x 1080 interlaced AVCHD clip whose first picture carries the
// camera's date, as camcorders write it.
// Cold: before every timed pass the files' cached pages are dropped (see support/ClipFiles.h);
// where the kernel does not drop them the pass is warm, and it says so.
// Warm: the same passes with the pages cached. Last line: the cold ratio (warm where cold is
// not possible).
#include "model/RecordingTime.h"
#include "platform/ChildProcess.h"
#include "support/BenchTimer.h"
#include "support/ClipFiles.h"
#include "support/ScratchFolder.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kClips = 2000;
constexpr std::size_t kBareRead = 16 * 1024;

bool MakeClip(const std::string& path)
{
    const std::string mdpm = "MDPM\x03\x18\x02\x20\x08\x12\x19\x31\x23\x16\x24\x70\x41\x42\x43\x44";
    return platform::RunProcess({"/usr/bin/ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                 "testsrc2=size=1920x1080:rate=25:duration=1", "-f", "lavfi", "-i",
                                 "sine=frequency=440:duration=1", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt",
                                 "yuv420p", "-flags", "+ildct+ilme", "-x264opts", "tff=1", "-bsf:v",
                                 "h264_metadata=sei_user_data=17ee8c60-f84d-11d9-8cd6-0800200c9a66+" + mdpm, "-c:a",
                                 "ac3", "-b:a", "192k", "-f", "mpegts", "-mpegts_m2ts_mode", "1", path},
                                std::chrono::minutes(2)) == platform::ProcessOutcome::Exited;
}

std::vector<char> ReadStart(const std::string& path, std::size_t size)
{
    std::vector<char> bytes(size);
    const bench::Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const ssize_t got = file.Get() >= 0 ? read(file.Get(), bytes.data(), size) : -1;
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return bytes;
}

bool WriteFile(const std::string& path, const std::vector<char>& bytes)
{
    const bench::Descriptor file(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    return file.Get() >= 0 && write(file.Get(), bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

}  // namespace

int main()
{
    const bench::ScratchFolder scratch;
    if (!scratch.Ok())
        return 1;
    const std::string& base = scratch.Path();
    const std::string full = base + "/full.MTS";
    if (!MakeClip(full)) {
        std::fprintf(stderr, "could not make the clip\n");
        return 1;
    }
    const std::vector<char> start = ReadStart(full, kRecordingTimeReadLimit);
    std::vector<std::string> paths;
    for (int i = 0; i < kClips; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/%05d.MTS", i);
        paths.push_back(base + name);
        if (!WriteFile(paths.back(), start)) {
            std::fprintf(stderr, "could not write %s\n", paths.back().c_str());
            return 1;
        }
    }
    bench::SyncFolder(base);

    int found = 0;
    auto readTimes = [&] {
        found = 0;
        for (const std::string& path : paths)
            found += ReadRecordingTime(path).has_value() ? 1 : 0;
    };
    std::vector<char> buffer(kBareRead);
    auto bareReads = [&] {
        for (const std::string& path : paths) {
            const bench::Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
            if (file.Get() >= 0 && read(file.Get(), buffer.data(), buffer.size()) < 0)
                std::perror("read");
        }
    };

    const bench::PairResult warm = bench::MeasurePair(readTimes, bareReads, 1, 7);
    const bool cold = bench::DropCachedPages(paths, kRecordingTimeReadLimit);
    std::vector<double> coldTimes, coldReads;
    for (int round = 0; round < 5; ++round) {
        bench::DropCachedPages(paths, kRecordingTimeReadLimit);
        coldTimes.push_back(bench::SecondsPerCall(readTimes, 1));
        bench::DropCachedPages(paths, kRecordingTimeReadLimit);
        coldReads.push_back(bench::SecondsPerCall(bareReads, 1));
    }
    const double coldRatio = bench::Median(coldTimes) / bench::Median(coldReads);

    std::printf("clips: %d of %zu KB, %d with a recording time found\n", kClips, start.size() / 1024, found);
    std::printf("warm: recording times %.1f ms, bare 16 KB reads %.1f ms, ratio %.3f\n", warm.candidate * 1e3,
                warm.reference * 1e3, warm.Ratio());
    std::printf("%s: recording times %.1f ms, bare 16 KB reads %.1f ms, ratio %.3f\n",
                cold ? "cold (pages dropped)" : "cold not possible here, warm again", bench::Median(coldTimes) * 1e3,
                bench::Median(coldReads) * 1e3, coldRatio);
    bench::PrintRatio("rectime", coldRatio, 1.5);
    return found == kClips ? 0 : 1;
}
