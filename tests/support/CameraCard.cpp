#include "support/CameraCard.h"

#include "support/CardLayout.h"
#include "support/Clips.h"
#include "support/JpegFixtures.h"
#include "support/MdpmClips.h"
#include "support/TempDir.h"

#include <stdexcept>

namespace testing_support {
namespace {

void Encode(const std::string& path, const std::string& codec, const std::string& created)
{
    const std::string command = "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=320x180:rate=25:duration=1 " +
                                codec + " -preset ultrafast -pix_fmt yuv420p -metadata creation_time=" + created + " " +
                                ShellQuote(path);
    if (Shell(command) != 0)
        throw std::runtime_error("ffmpeg could not make " + path);
}

std::string Description(const std::string& created, int frames, const std::string& device)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<NonRealTimeMeta xmlns=\"urn:schemas-professionalDisc:nonRealTimeMeta:ver.2.00\">\n"
           "  <Duration value=\"" + std::to_string(frames) + "\"/>\n"
           "  <LtcChangeTable tcFps=\"25\" halfStep=\"true\">\n"
           "    <LtcChange frameCount=\"0\" value=\"00000000\" status=\"increment\"/>\n"
           "  </LtcChangeTable>\n"
           "  <CreationDate value=\"" + created + "\"/>\n"
           "  <VideoFormat><VideoFrame videoCodec=\"AVC_1920_1080_HP@L42\" formatFps=\"50p\"/></VideoFormat>\n" +
           device + "</NonRealTimeMeta>\n";
}

}  // namespace

CameraCard WriteCameraCard(const std::string& root)
{
    CameraCard card;
    card.root = root;
    CardOptions avchd;
    avchd.clips = {"00000.MTS", "00001.MTS"};
    avchd.thumbnailBlocks = 1;
    const std::string stream = WriteCard(root, avchd);
    card.avchdDated = stream + "/00000.MTS";
    card.avchdPlain = stream + "/00001.MTS";
    MakeDatedClip(card.avchdDated, 0x0b, 2010, 2, 28, 18, 45, 59);
    Shell("cp " + ShellQuote(TestClips().progressive720) + " " + ShellQuote(card.avchdPlain));

    const std::string m4root = root + "/PRIVATE/M4ROOT";
    MakeDirs(m4root + "/CLIP");
    card.xavcDescribed = m4root + "/CLIP/C0001.MP4";
    card.xavcListed = m4root + "/CLIP/C0002.MP4";
    card.xavcDamaged = m4root + "/CLIP/C0003.MP4";
    Encode(card.xavcDescribed, "-c:v libx264", "2016-01-03T10:10:57Z");
    Encode(card.xavcListed, "-c:v libx264", "2016-01-03T23:00:00Z");
    Encode(card.xavcDamaged, "-c:v libx264", "2021-08-02T07:00:00Z");
    WriteFile(m4root + "/CLIP/C0001M01.XML",
              Description("2016-01-03T06:10:57-04:00", 100,
                          "  <Device manufacturer=\"Sony\" modelName=\"ILCE-7M3\" serialNo=\"1\"/>\n"));
    WriteFile(m4root + "/CLIP/C0002M01.XML", Description("2016-01-04T08:00:00+09:00", 50, ""));
    const std::string damaged = Description("2016-01-05T09:00:00+01:00", 50, "");
    WriteFile(m4root + "/CLIP/C0003M01.XML", damaged.substr(0, damaged.size() / 2));
    WriteFile(m4root + "/THMBNL/C0001T01.JPG", SolidJpeg(640, 360, 0, 255, 0));
    WriteFile(m4root + "/THMBNL/PICTURE2.JPG", SolidJpeg(640, 360, 255, 0, 255));
    std::string profile = "<?xml version=\"1.0\"?>\n<MediaProfile><Contents>\n";
    for (const auto& [clip, picture] : {std::pair{"C0001", "C0001T01.JPG"}, {"C0002", "PICTURE2.JPG"}, {"C0003", "C0003T01.JPG"}})
        profile += std::string("<Material uri=\"./CLIP/") + clip + ".MP4\" type=\"MP4\"><RelevantInfo uri=\"./CLIP/" +
                   clip + "M01.XML\" type=\"XML\"/><RelevantInfo uri=\"./THMBNL/" + picture +
                   "\" type=\"JPG\"/></Material>\n";
    WriteFile(m4root + "/MEDIAPRO.XML", profile + "</Contents></MediaProfile>\n");

    MakeDirs(root + "/dcim/100canon");
    card.dcimMovie = root + "/dcim/100canon/mvi_0001.mov";
    card.dcimDamaged = root + "/dcim/100canon/mvi_0002.mp4";
    Encode(card.dcimMovie, "-c:v libx265 -x265-params log-level=error", "2022-05-06T10:20:30Z");
    Encode(card.dcimDamaged, "-c:v libx264", "2022-05-06T10:21:00Z");
    WriteFile(card.dcimDamaged, ReadFile(card.dcimDamaged).substr(0, 3000));
    WriteFile(root + "/dcim/101photo/img_0001.jpg", SolidJpeg(64, 48, 1, 2, 3));
    Shell("find " + ShellQuote(root) + " -type f -exec touch -d '2009-03-07 14:05:09 UTC' {} +");
    return card;
}

}  // namespace testing_support
