// The MP4 clips of today's cameras beside AVCHD: a card laid out as cameras lay it out, scanned,
// pictured, timed and listed; and the files that describe these clips, which are untrusted, read
// with bounds or refused.
#include "model/AVCHDDoc.h"
#include "model/CameraXml.h"
#include "model/ClipListing.h"
#include "model/Mp4Movie.h"
#include "support/CameraCard.h"
#include "support/CardLayout.h"
#include "support/JpegFixtures.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <thread>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

std::span<const std::uint8_t> Bytes(const std::string& text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The red, green and blue of a camera picture's middle.
std::array<int, 3> PictureColour(const CThumbnailSet& pictures, int slot)
{
    const ThumbnailEntry* entry = pictures.GetEntry(slot);
    const std::unique_ptr<CRgbImage> picture = entry != nullptr ? entry->jpeg.Decode() : nullptr;
    if (!picture)
        return {-1, -1, -1};
    const std::uint8_t* p = picture->pixels.get() + picture->OffsetOf(picture->width / 2, picture->height / 2);
    return {p[2] / 16 * 16, p[1] / 16 * 16, p[0] / 16 * 16};
}

}  // namespace

TEST(VideoClipsTest, ACameraCardShowsEveryKindOfClipWithTheCamerasPictureTimeAndLengthAsTheListingDoes)
{
    TempDir dir;
    ScopedEnv config("XDG_CONFIG_HOME", dir / "config");
    const CameraCard card = WriteCameraCard(dir / "card");
    TakeLogMessages();
    CAVCHDDoc doc;
    doc.OpenDirectory(card.root);
    ASSERT_EQ(doc.GetDirectoryCount(), 3);  // the folder of photos is none
    const std::string clipFolder = card.root + "/PRIVATE/M4ROOT/CLIP", dcim = card.root + "/dcim/100canon";
    EXPECT_EQ(doc.GetDirectory(0)->path, card.root);  // AVCHD as before
    EXPECT_EQ(doc.GetDirectory(1)->path, clipFolder);
    EXPECT_EQ(doc.GetDirectory(2)->path, dcim);
    const CClipDetails& avchd = *doc.GetDirectory(0)->clips;
    const CClipDetails& xavc = *doc.GetDirectory(1)->clips;
    const CClipDetails& other = *doc.GetDirectory(2)->clips;
    EXPECT_EQ(avchd.GetCount(), 2);
    EXPECT_EQ(xavc.GetCount(), 3);
    EXPECT_EQ(other.GetCount(), 2);

    // The camera's pictures: its JPEG, the one its list names, none for the third.
    const CThumbnailSet& pictures = *doc.GetDirectory(1)->thumbnails;
    EXPECT_EQ(PictureColour(pictures, 0), (std::array<int, 3>{0, 240, 0}));
    EXPECT_EQ(PictureColour(pictures, 1), (std::array<int, 3>{240, 0, 240}));
    EXPECT_EQ(pictures.GetEntry(2), nullptr);
    EXPECT_EQ(doc.GetDirectory(2)->thumbnails->GetCount(), 0);
    EXPECT_EQ(doc.CountClipsWithoutPicture(), 1 + 1 + 2);

    // Times and lengths come from the background reader: the description's, the movie header's,
    // or the file's.
    for (int i = 0, settle = 0; i < 2000 && (doc.GetPendingRecordingTimes() > 0 || settle++ < 30); ++i) {
        std::this_thread::sleep_for(10ms);
        doc.CollectRecordingTimes();
    }
    EXPECT_EQ(xavc.FormatDetails(0), "C0001.MP4: 0:02, 1 file, recorded 06:10:57 3-Jan-2016 UTC-04:00, camera Sony ILCE-7M3");
    EXPECT_EQ(xavc.FormatDetails(1), "C0002.MP4: 0:01, 1 file, recorded 08:00:00 4-Jan-2016 UTC+09:00");
    EXPECT_EQ(xavc.FormatDetails(2), "C0003.MP4: 0:01, 1 file, recorded 07:00:00 2-Aug-2021 UTC+00:00");
    EXPECT_EQ(other.FormatDetails(0), "mvi_0001.mov: 0:01, 1 file, recorded 10:20:30 6-May-2022 UTC+00:00");
    EXPECT_EQ(other.FormatDetails(1), "mvi_0002.mp4: length unknown, 1 file, file time 14:05:09 7-Mar-2009 UTC");
    std::string caption;
    xavc.FormatCaption(0, caption);
    EXPECT_EQ(caption.substr(caption.find(", ")), ", 06:10:57 3-Jan-2016)");
    EXPECT_EQ(xavc.GetDateKey(1), 20160104);
    const auto log = TakeLogMessages();
    EXPECT_TRUE(Contains(log, "Clip description [" + clipFolder + "/C0003M01.XML] cannot be read ("));
    EXPECT_TRUE(Contains(log, "Movie header of [" + card.dcimDamaged + "] cannot be read (box 'mdat' at byte "));

    std::ostringstream out, errors;
    ASSERT_EQ(ListClips(card.root, out, errors), 0);
    auto size = [](const std::string& path) { return std::to_string(ReadFile(path).size()); };
    EXPECT_EQ(out.str(), card.avchdDated + "\t" + size(card.avchdDated) + "\t2010-02-28T18:45:59+05:30\tstream\t1.000\t1/1\n" +
                             card.avchdPlain + "\t" + size(card.avchdPlain) + "\t2009-03-07T14:05:09Z\tfile\t1.000\t1/1\n" +
                             card.xavcDescribed + "\t" + size(card.xavcDescribed) +
                             "\t2016-01-03T06:10:57-04:00\txml\t2.000\t1/1\n" + card.xavcListed + "\t" +
                             size(card.xavcListed) + "\t2016-01-04T08:00:00+09:00\txml\t1.000\t1/1\n" +
                             card.xavcDamaged + "\t" + size(card.xavcDamaged) + "\t2021-08-02T07:00:00Z\tmp4\t1.000\t1/1\n" +
                             card.dcimMovie + "\t" + size(card.dcimMovie) + "\t2022-05-06T10:20:30Z\tmp4\t1.000\t1/1\n" +
                             card.dcimDamaged + "\t3000\t2009-03-07T14:05:09Z\tfile\t-\t1/1\n");

    // A damaged picture is none, and one line of the log says why.
    WriteFile(card.root + "/PRIVATE/M4ROOT/THMBNL/C0001T01.JPG", "not a JPEG");
    doc.OpenDirectory(clipFolder);
    EXPECT_EQ(doc.GetDirectory(0)->thumbnails->GetEntry(0), nullptr);
    EXPECT_TRUE(Contains(TakeLogMessages(), "Camera picture [" + card.root + "/PRIVATE/M4ROOT/THMBNL/C0001T01.JPG] "
                                            "cannot be read (JPEG Exception: Not a JPEG file: starts with 0x6e 0x6f)"));

    // Each folder opened on its own is read the same, pictures included; a card is offered for
    // its MP4 clips, but not for photos alone.
    for (const std::string& folder : {clipFolder, card.root + "/PRIVATE/M4ROOT", dcim, card.root + "/dcim"}) {
        doc.OpenDirectory(folder);
        ASSERT_EQ(doc.GetDirectoryCount(), 1) << folder;
        EXPECT_EQ(doc.GetDirectory(0)->thumbnails->GetCount(), folder.find("M4ROOT") != std::string::npos ? 2 : 0);
    }
    // Without AVCHD clips the search goes on below as before, and meets the MP4 folders on its
    // way or beside it; they hide no folder beside them.
    RemoveTree(card.root + "/PRIVATE/AVCHD");
    WriteClips(dir / "holiday", {"00001.MTS"});
    doc.OpenDirectory(dir.Path());
    ASSERT_EQ(doc.GetDirectoryCount(), 3);
    EXPECT_EQ(doc.GetDirectory(0)->path + doc.GetDirectory(1)->path + doc.GetDirectory(2)->path,
              clipFolder + dcim + dir / "holiday");
    EXPECT_EQ(doc.GetDirectory(0)->thumbnails->GetCount(), 2);
    EXPECT_TRUE(CAVCHDDoc::HoldsClipTree(card.root));
    RemoveTree(card.root + "/PRIVATE");
    EXPECT_TRUE(CAVCHDDoc::HoldsClipTree(card.root));
    RemoveTree(dcim);
    EXPECT_FALSE(CAVCHDDoc::HoldsClipTree(card.root));
}

TEST(VideoClipsTest, DescriptionsAndMovieHeadersAreReadWithinBoundsOrRefusedWhole)
{
    std::string problem;
    // No DTD: no entity is defined, expanded or fetched; nor is anything else malformed taken.
    for (const std::string& hostile :
         {std::string("<!DOCTYPE a [<!ENTITY b \"bbbbbbbb\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;\">]>"
                      "<NonRealTimeMeta><Device modelName=\"&c;\"/></NonRealTimeMeta>"),
          std::string("<!DOCTYPE a SYSTEM \"http://example.com/a.dtd\"><NonRealTimeMeta/>"),
          std::string("<NonRealTimeMeta><Device modelName=\"&xxe;\"/></NonRealTimeMeta>"),
          std::string("<NonRealTimeMeta><Duration value=\"1\"/>"),
          std::string(200, '<') + "NonRealTimeMeta>", std::string("<MediaProfile/>")}) {
        problem.clear();
        EXPECT_FALSE(ParseClipDescription(Bytes(hostile), problem)) << hostile;
        EXPECT_FALSE(problem.empty());
    }
    EXPECT_FALSE(ParseClipDescription(Bytes("<!DOCTYPE NonRealTimeMeta><NonRealTimeMeta/>"), problem));
    EXPECT_EQ(problem, "it declares a document type, which camera files never do at line 1");
    std::string deep;
    for (int i = 0; i < 70; ++i)
        deep += "<NonRealTimeMeta>";
    EXPECT_FALSE(ParseClipDescription(Bytes(deep), problem));
    EXPECT_EQ(problem, "elements nested deeper than 64 at line 1");

    // A field that is impossible is left out; the rest is kept; text is made printable.
    const auto odd = ParseClipDescription(
        Bytes("<n:NonRealTimeMeta xmlns:n=\"x\"><n:Duration value=\"90\"/><n:LtcChangeTable tcFps=\"30\"/>"
              "<n:CreationDate value=\"2015-02-29T10:00:00+01:00\"/><n:Device modelName=\"A&#9;B&#10;\"/>"
              "<n:VideoFormat><n:VideoFrame formatFps=\"59.94i\"/></n:VideoFormat></n:NonRealTimeMeta>"),
        problem);
    ASSERT_TRUE(odd);
    EXPECT_FALSE(odd->created);
    EXPECT_DOUBLE_EQ(*odd->duration, 90 / (30 * 1000.0 / 1001));
    EXPECT_EQ(odd->device, "AB");
    EXPECT_FALSE(ParseDateTimeWithOffset("2016-01-03T06:10:57"));  // no zone: the clock is unknown
    EXPECT_EQ(ParseDateTimeWithOffset("2016-01-03T06:10:57.25+05:45")->OffsetMinutes(), 345);
    TempDir dir;
    WriteFile(dir / "huge.XML", "<NonRealTimeMeta/>");
    SetFileSize(dir / "huge.XML", kMaxClipDescriptionBytes + 1);
    EXPECT_FALSE(ReadClipDescription(dir / "huge.XML", problem));
    EXPECT_EQ(problem, "larger than 1048576 bytes");
    // A picture named outside its clip's Material is not its picture.
    const auto list = ParseMediaProfile(
        Bytes("<MediaProfile><Contents><Material uri=\"./CLIP/C0001.MP4\"/><Other>"
              "<RelevantInfo uri=\"./THMBNL/X.JPG\" type=\"JPG\"/></Other></Contents></MediaProfile>"),
        problem);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 1u);
    EXPECT_EQ(list->front().picture, "");

    // MP4 boxes: every size is checked against its box's room and the file's end.
    auto header = [&](const std::string& file, bool failAt = false) {
        bool failed = false;
        problem.clear();
        const Mp4ReadAt read = [&](std::uint64_t offset, std::uint8_t* into, std::size_t size, bool& readFailed) {
            EXPECT_LE(offset + size, file.size());
            readFailed = failAt;
            const std::size_t got = failAt ? 0 : std::min<std::size_t>(size, file.size() - offset);
            std::memcpy(into, file.data() + offset, got);
            return got;
        };
        return ReadMp4MovieHeader(read, file.size(), problem, failed);
    };
    auto box = [](const char* type, const std::string& payload) {
        const std::uint32_t size = static_cast<std::uint32_t>(payload.size() + 8);
        return std::string{char(size >> 24), char(size >> 16), char(size >> 8), char(size)} + type + payload;
    };
    const std::string mvhd1 = std::string("\x01\0\0\0", 4) + std::string("\0\0\0\x01\x0f\x7f\x7b\x80", 8) +
                              std::string(8, '\0') + std::string("\0\0\x03\xe8", 4) + std::string("\0\0\0\0\0\0\x0b\xb8", 8);
    const std::string large = std::string("\0\0\0\x01mdat\0\0\0\0\0\0\0\x18", 16) + std::string(8, 'x');
    const auto v1 = header(large + box("moov", box("mvhd", mvhd1)));
    ASSERT_TRUE(v1) << problem;
    EXPECT_EQ(*v1->createdUnixSeconds, 0x10f7f7b80 - 2082844800);
    EXPECT_DOUBLE_EQ(*v1->durationSeconds, 3.0);
    const auto unset = header(box("moov", box("mvhd", std::string(4, '\0') + std::string(8, '\0') +
                                                          std::string("\0\0\x03\xe8\xff\xff\xff\xff", 8))));
    ASSERT_TRUE(unset);
    EXPECT_FALSE(unset->createdUnixSeconds || unset->durationSeconds);
    EXPECT_FALSE(header(std::string("\0\0\x10\0mdat", 8) + box("moov", box("mvhd", mvhd1))));
    EXPECT_EQ(problem, "box 'mdat' at byte 0 claims 4096 bytes, more than there are");
    EXPECT_FALSE(header(std::string("\0\0\0\x04moov", 8)));
    EXPECT_EQ(problem, "box 'moov' at byte 0 claims 4 bytes, less than its header");
    std::string tiny;
    for (int i = 0; i < kMaxMp4Boxes; ++i)
        tiny += box("free", "");
    EXPECT_FALSE(header(tiny + box("moov", box("mvhd", mvhd1))));
    EXPECT_EQ(problem, "no 'moov' box among the first 4096");
    EXPECT_FALSE(header(box("moov", box("mvhd", mvhd1)), true));
    EXPECT_EQ(problem, "read error");
}
