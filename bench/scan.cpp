// Opening a folder of 2,000 card folders with 20 clips each (40,000 zero-byte clip files), warm
// cache, against `find <root> -iname '*.mts' -o -iname '*.m2ts' -o -iname '*.mp4' -o -iname
// '*.mov'` over the same tree. A third of the cards hold AVCHD clips only; a third hold XAVC S
// clips beside them (PRIVATE/M4ROOT/CLIP with each clip's XML description, and the card's
// MEDIAPRO.XML), so half their clips are MP4s; a third hold MP4 and MOV clips in DCIM camera
// folders beside a folder of photos. As the AVCHD cards bring no thumbnail file, the XAVC S
// cards bring no pictures: what the camera's pictures cost is measured on realistic cards.
// Also reports the scan of realistic cards: 113 AVCHD clips with a 131-block THUMB.TDT, and
// 113 XAVC S clips with their XML descriptions, MEDIAPRO.XML and a JPEG picture each.
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

std::string MakeCard(const std::string& root, int clips, int firstClip = 0)
{
    MakeDir(root);
    MakeDir(root + "/PRIVATE");
    MakeDir(root + "/PRIVATE/AVCHD");
    MakeDir(root + "/PRIVATE/AVCHD/BDMV");
    const std::string stream = root + "/PRIVATE/AVCHD/BDMV/STREAM";
    MakeDir(stream);
    char name[32];
    for (int c = firstClip; c < firstClip + clips; ++c) {
        std::snprintf(name, sizeof name, "/%05d.MTS", c);
        Touch(stream + name);
    }
    return root + "/PRIVATE/AVCHD";
}

std::string ClipDescription(int clip)
{
    char text[512];
    std::snprintf(text, sizeof text,
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<NonRealTimeMeta>\n<Duration value=\"%d\"/>\n"
                  "<LtcChangeTable tcFps=\"25\" halfStep=\"true\"/>\n"
                  "<CreationDate value=\"2019-06-01T10:%02d:%02d+02:00\"/>\n"
                  "<Device manufacturer=\"Sony\" modelName=\"ILCE-7M3\"/>\n</NonRealTimeMeta>\n",
                  500 + clip, clip / 60 % 60, clip % 60);
    return text;
}

// PRIVATE/M4ROOT of a card: CLIP with the clips and their descriptions, MEDIAPRO.XML, and with
// `pictures` a THMBNL folder with the camera's picture of each clip.
void MakeXavcFolders(const std::string& root, int clips, bool pictures)
{
    MakeDir(root);
    MakeDir(root + "/PRIVATE");
    const std::string m4root = root + "/PRIVATE/M4ROOT";
    MakeDir(m4root);
    MakeDir(m4root + "/CLIP");
    if (pictures)
        MakeDir(m4root + "/THMBNL");
    std::string profile = "<?xml version=\"1.0\"?>\n<MediaProfile><Contents>\n";
    char name[64];
    for (int c = 1; c <= clips; ++c) {
        std::snprintf(name, sizeof name, "C%04d", c);
        Touch(m4root + "/CLIP/" + name + ".MP4");
        Touch(m4root + "/CLIP/" + name + "M01.XML", ClipDescription(c));
        if (pictures)
            Touch(m4root + "/THMBNL/" + name + "T01.JPG", bench::CameraThumbnailJpeg(c, 640, 360));
        profile += std::string("<Material uri=\"./CLIP/") + name + ".MP4\"><RelevantInfo uri=\"./THMBNL/" + name +
                   "T01.JPG\" type=\"JPG\"/></Material>\n";
    }
    Touch(m4root + "/MEDIAPRO.XML", profile + "</Contents></MediaProfile>\n");
}

// DCIM with a folder of MP4 and MOV clips and a folder of photos.
void MakeDcimFolders(const std::string& root, int clips)
{
    MakeDir(root);
    MakeDir(root + "/DCIM");
    MakeDir(root + "/DCIM/100CANON");
    MakeDir(root + "/DCIM/101PHOTO");
    char name[64];
    for (int c = 1; c <= clips; ++c) {
        std::snprintf(name, sizeof name, "/DCIM/100CANON/MVI_%04d.%s", c, c % 2 != 0 ? "MP4" : "MOV");
        Touch(root + name);
        std::snprintf(name, sizeof name, "/DCIM/101PHOTO/IMG_%04d.JPG", c);
        Touch(root + name);
    }
}

void RunFind(const std::string& root)
{
    platform::RunProcess({"/usr/bin/find", root, "-iname", "*.mts", "-o", "-iname", "*.m2ts", "-o", "-iname", "*.mp4",
                          "-o", "-iname", "*.mov"},
                         std::chrono::minutes(5));
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
        switch (card % 3) {
        case 0:
            MakeCard(tree + name, 20);
            break;
        case 1:  // ten AVCHD clips and ten XAVC S clips
            MakeCard(tree + name, 10);
            MakeXavcFolders(tree + name, 10, false);
            break;
        default:
            MakeDcimFolders(tree + name, 20);
            break;
        }
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

    MakeXavcFolders(base + "/xavc", 113, true);
    int pictured = 0;
    auto xavcCard = [&] {
        doc.OpenDirectory(base + "/xavc");
        pictured = doc.GetDirectoryCount() == 1 ? doc.GetDirectory(0)->thumbnails->GetCount() : 0;
    };
    std::vector<double> xavc;
    xavcCard();
    for (int i = 0; i < 7; ++i)
        xavc.push_back(bench::SecondsPerCall(xavcCard, 1));

    std::printf("tree: 2000 card folders, %d clip slots found\n", clipCount);
    std::printf("OpenDirectory: %.1f ms\n", result.candidate * 1e3);
    std::printf("find -iname:   %.1f ms\n", result.reference * 1e3);
    std::printf("realistic card (113 clips, 131-block THUMB.TDT): %.1f ms\n", bench::Median(real) * 1e3);
    std::printf("realistic XAVC S card (113 clips, %d camera pictures of 640 x 360): %.1f ms\n", pictured,
                bench::Median(xavc) * 1e3);

    bench::PrintRatio("scan", result.Ratio(), 1.0);
    return 0;
}
