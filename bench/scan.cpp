// Opening a folder of 2,000 card folders with 20 clips each (40,000 zero-byte stream files),
// warm cache, against `find <root> -iname '*.mts' -o -iname '*.m2ts'` over the same tree.
// Also reports the scan of one realistic card: 113 clips with a 131-block THUMB.TDT.
#include "model/AVCHDDoc.h"
#include "support/BenchTimer.h"
#include "support/ScratchFolder.h"
#include "support/CameraJpeg.h"

#include "platform/ChildProcess.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>


namespace {

void MakeDir(const std::string& path)
{
    ::mkdir(path.c_str(), 0755);
}

void Touch(const std::string& path, const std::string& bytes = {})
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f != nullptr) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

std::string MakeCard(const std::string& root, int clips)
{
    MakeDir(root);
    MakeDir(root + "/PRIVATE");
    MakeDir(root + "/PRIVATE/AVCHD");
    MakeDir(root + "/PRIVATE/AVCHD/BDMV");
    const std::string stream = root + "/PRIVATE/AVCHD/BDMV/STREAM";
    MakeDir(stream);
    char name[32];
    for (int c = 0; c < clips; ++c) {
        std::snprintf(name, sizeof name, "/%05d.MTS", c);
        Touch(stream + name);
    }
    return root + "/PRIVATE/AVCHD";
}

void RunFind(const std::string& root)
{
    platform::RunProcess({"/usr/bin/find", root, "-iname", "*.mts", "-o", "-iname", "*.m2ts"}, std::chrono::minutes(5));
}

}  // namespace

int main()
{
    const bench::ScratchFolder scratch;  // settings at their defaults
    if (!scratch.Ok())
        return 1;
    const std::string& base = scratch.Path();

    const std::string tree = base + "/tree";
    MakeDir(tree);
    for (int card = 0; card < 2000; ++card) {
        char name[32];
        std::snprintf(name, sizeof name, "/card%04d", card);
        MakeCard(tree + name, 20);
    }

    CAVCHDDoc doc;
    int clipCount = 0;
    auto scan = [&] {
        doc.OpenDirectory(tree);
        clipCount = doc.GetClipCount();
    };
    auto find = [&] { RunFind(tree); };
    const bench::PairResult result = bench::MeasurePair(scan, find, 1, 9);

    // One realistic card: 113 clips, a THUMB.TDT of 131 blocks with an index of 113 records.
    const std::string avchd = MakeCard(base + "/real", 113);
    MakeDir(avchd + "/AVCHDTN");
    std::string tdt, tid(72, '\0');
    for (int block = 0; block < 131; ++block)
        {
            std::string jpeg = bench::CameraThumbnailJpeg(block);
            jpeg.resize(16384, '\0');
            tdt += jpeg;
        }
    for (int clip = 0; clip < 113; ++clip) {
        const int block = clip + 18;
        tid += std::string{static_cast<char>(clip >> 8), static_cast<char>(clip & 255), static_cast<char>(block >> 8),
                           static_cast<char>(block & 255)};
        tid += std::string(8, '\0');
    }
    Touch(avchd + "/AVCHDTN/THUMB.TDT", tdt);
    Touch(avchd + "/AVCHDTN/THUMB.TID", tid);
    auto realCard = [&] { doc.OpenDirectory(base + "/real"); };
    std::vector<double> real;
    realCard();
    for (int i = 0; i < 7; ++i)
        real.push_back(bench::SecondsPerCall(realCard, 1));

    std::printf("tree: 2000 card folders, %d clip slots found\n", clipCount);
    std::printf("OpenDirectory: %.1f ms\n", result.candidate * 1e3);
    std::printf("find -iname:   %.1f ms\n", result.reference * 1e3);
    std::printf("realistic card (113 clips, 131-block THUMB.TDT): %.1f ms\n", bench::Median(real) * 1e3);

    bench::PrintRatio("scan", result.Ratio(), 1.0);
    return 0;
}
