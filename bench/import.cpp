// Importing a card of about 1 GB (one recording split across three files by the camera, and
// eight recordings of one file) into a fresh folder on the same disk, against what a careful
// user does by hand: cp, sync the copies, then sha256sum of the sources and of the copies after
// dropping their cached pages. Side by side in alternating rounds, each with the card's pages
// dropped first, as from a card put in. Also against bare cp and sync, and the process's peak
// memory (the import holds at most one 8 MB buffer, whatever the file sizes).
#include "import/Importer.h"
#include "support/BenchTimer.h"
#include "support/CardPlaylist.h"
#include "support/ClipFiles.h"
#include "support/ScratchFolder.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kMiB = 1024 * 1024;
constexpr int kRounds = 3;

// Writes `bytes` of random data (no disk-compressible runs) in 8 MB pieces.
bool WriteRandomFile(const std::string& path, std::size_t bytes, std::mt19937_64& random)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    std::vector<std::uint64_t> piece(8 * kMiB / 8);
    bool ok = true;
    for (std::size_t written = 0; ok && written < bytes; written += 8 * kMiB) {
        for (std::uint64_t& word : piece)
            word = random();
        const std::size_t count = std::min(bytes - written, 8 * kMiB);
        ok = std::fwrite(piece.data(), 1, count, file) == count;
    }
    return std::fclose(file) == 0 && ok;
}

double Seconds(const std::function<bool()>& work, bool& ok)
{
    const auto start = std::chrono::steady_clock::now();
    ok = work() && ok;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool Run(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

long PeakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

}  // namespace

int main()
{
    const bench::ScratchFolder scratch;
    if (!scratch.Ok())
        return 1;
    const std::string bdmv = scratch.Path() + "/card/PRIVATE/AVCHD/BDMV";
    const std::string stream = bdmv + "/STREAM";
    if (!Run("mkdir -p '" + stream + "' '" + bdmv + "/PLAYLIST'"))
        return 1;
    std::mt19937_64 random(29);
    std::vector<std::string> sources;
    constexpr int kClips = 11;
    for (int i = 0; i < kClips; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/%05d.MTS", i);
        sources.push_back(stream + name);
        if (!WriteRandomFile(sources.back(), (i < 3 ? 200 : 50) * kMiB - 192 * static_cast<std::size_t>(i), random))
            return 1;
    }
    std::FILE* playlist = std::fopen((bdmv + "/PLAYLIST/00000.MPL").c_str(), "wb");
    const std::string playlistBytes = bench::CardPlaylist(kClips, [](int i) { return i == 1 || i == 2; });  // 0-2 one recording
    std::fwrite(playlistBytes.data(), 1, playlistBytes.size(), playlist);
    std::fclose(playlist);
    const long memoryBefore = PeakMegabytes();
    Run("sync -f '" + stream + "'");

    std::string files;
    for (const std::string& source : sources)
        files += " '" + source + "'";
    std::vector<double> imports, manual, bare;
    bool ok = true;
    std::size_t recordings = 0;
    for (int round = 0; round < kRounds; ++round) {
        const std::string out = scratch.Path() + "/import", copies = scratch.Path() + "/copies";
        bench::DropCachedPages(sources, 4096);
        imports.push_back(Seconds([&] {
            ImportRequest request;
            request.recordings = FindCardRecordings(scratch.Path() + "/card");
            recordings = request.recordings.size();
            request.destination = out;
            request.pattern = "%Y/%Y-%m-%d/%Y-%m-%d %H-%M-%S";
            request.source = scratch.Path() + "/card";
            request.catalogPath = scratch.Path() + "/imports-" + std::to_string(round) + ".sqlite";
            const std::atomic<bool> cancel{false};
            const ImportReport report = RunImport(request, {}, cancel);
            if (!report.Complete())
                std::fprintf(stderr, "%s\n", report.Message().c_str());
            return report.Complete();
        }, ok));
        Run("rm -rf '" + out + "'");

        bench::DropCachedPages(sources, 4096);
        manual.push_back(Seconds([&] {
            std::string copied;
            for (const std::string& source : sources)
                copied += " '" + copies + source.substr(source.rfind('/')) + "'";
            const bool copiedOk = Run("mkdir -p '" + copies + "' && cp" + files + " '" + copies + "' && sync" + copied);
            std::vector<std::string> all = sources;
            for (const std::string& source : sources)
                all.push_back(copies + source.substr(source.rfind('/')));
            bench::DropCachedPages(all, 4096);
            return copiedOk && Run("sha256sum" + files + copied + " >/dev/null");
        }, ok));
        Run("rm -rf '" + copies + "'");

        bench::DropCachedPages(sources, 4096);
        bare.push_back(Seconds([&] {
            std::string copied;
            for (const std::string& source : sources)
                copied += " '" + copies + source.substr(source.rfind('/')) + "'";
            return Run("mkdir -p '" + copies + "' && cp" + files + " '" + copies + "' && sync" + copied);
        }, ok));
        Run("rm -rf '" + copies + "'");
    }
    if (!ok) {
        std::fprintf(stderr, "import: a pass failed\n");
        return 1;
    }
    const double candidate = bench::Median(imports), reference = bench::Median(manual), cpSync = bench::Median(bare);
    std::printf("import: %d files, 1.0 GB, as %zu recordings (one of three files): import (copy, flush, read back, "
                "compare) %.2f s, by hand (cp, sync, sha256sum of both after dropping their pages) %.2f s, bare cp "
                "and sync %.2f s (medians of %d rounds)\n",
                kClips, recordings, candidate, reference, cpSync, kRounds);
    std::printf("import: peak memory of the process %ld MB after making the card, %ld MB after the imports\n",
                memoryBefore, PeakMegabytes());
    std::printf("import: ratio to bare cp and sync %.2f\n", candidate / cpSync);
    std::printf("import: ratio %.2f (target <= 1.0)\n", candidate / reference);
    return 0;
}
