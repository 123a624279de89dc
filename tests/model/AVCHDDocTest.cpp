#include "model/AVCHDDoc.h"
#include "platform/BusyCursor.h"
#include "settings/Settings.h"
#include "support/CardLayout.h"
#include "support/JpegFixtures.h"
#include "support/LogCapture.h"
#include "support/MdpmClips.h"
#include "support/MessageBoxRecorder.h"
#include "support/TempDir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <regex>
#include <set>
#include <thread>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

// Records the clips the generator is asked for and answers each with a picture of the path's
// length, after an optional hold.
struct RecordingProducer {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::string> seen;
    bool hold = false;
    int entered = 0;  // paths the producer has started on

    CThumbnailGenerator::Producer Function()
    {
        return [this](ThumbnailQueue& queue, const std::string& path) {
            std::unique_lock<std::mutex> guard(lock);
            ++entered;
            changed.notify_all();
            changed.wait(guard, [this] { return !hold; });
            auto image = std::make_unique<CRgbImage>();
            image->width = 100;
            image->height = 50;
            queue.StoreResult(path, ThumbnailResult{nullptr, std::move(image)});
            seen.push_back(path);
            changed.notify_all();
        };
    }
    bool WaitForCount(std::size_t count)
    {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, 20s, [&] { return seen.size() >= count; });
    }
    bool WaitUntilEntered(int count)
    {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, 20s, [&] { return entered >= count; });
    }
    void SetHold(bool on)
    {
        std::lock_guard<std::mutex> guard(lock);
        hold = on;
        changed.notify_all();
    }
};

class AVCHDDocTest : public ::testing::Test {
protected:
    AVCHDDocTest() : config_("XDG_CONFIG_HOME", dir_ / "config") { TakeLogMessages(); }

    std::vector<std::string> Paths(const CAVCHDDoc& doc)
    {
        std::vector<std::string> paths;
        for (int i = 0; i < doc.GetDirectoryCount(); ++i)
            paths.push_back(doc.GetDirectory(i)->path);
        return paths;
    }

    TempDir dir_;
    ScopedEnv config_;
    MessageBoxRecorder boxes_;
    RecordingProducer producer_;
};

}  // namespace

TEST_F(AVCHDDocTest, CardRootGivesOneNumberedRecordWithCameraThumbnails)
{
    WriteCard(dir_ / "card", CardOptions{{"00000.MTS", "00001.MTS", "00003.MTS"}});
    int busyCalls = 0;
    bool busyNow = false;
    auto previous = platform::SetBusyCursorHandler([&](bool busy) {
        ++busyCalls;
        busyNow = busy;
    });
    CAVCHDDoc doc(producer_.Function());
    doc.OpenDirectory(dir_ / "card");
    platform::SetBusyCursorHandler(previous);
    EXPECT_EQ(busyCalls, 2);
    EXPECT_FALSE(busyNow);

    ASSERT_EQ(doc.GetDirectoryCount(), 1);
    const auto record = doc.GetDirectory(0);
    EXPECT_EQ(record->path, dir_ / "card");
    EXPECT_TRUE(record->clips->IsNumbered());
    EXPECT_EQ(record->clips->GetCount(), 4);
    EXPECT_EQ(doc.GetClipCount(), 3);  // the status bar counts clips, not the empty slot 2
    ASSERT_TRUE(record->thumbnails);
    EXPECT_EQ(record->thumbnails->GetCount(), 2);
    std::string clip;
    ASSERT_TRUE(record->clips->GetClipPath(3, clip));
    EXPECT_EQ(clip, dir_ / "card/PRIVATE/AVCHD/BDMV/STREAM/00003.MTS");

    const auto log = TakeLogMessages();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(std::regex_match(log[0], std::regex("Opened directory \\[" + dir_.Path() +
                                                    "/card\\] in [0-9]+\\.[0-9]{3} seconds")))
        << log[0];
    EXPECT_TRUE(boxes_.Boxes().empty());
}

TEST_F(AVCHDDocTest, CardLayoutsOfDifferentMakers)
{
    CardOptions noThumbnails;  // no AVCHDTN and no thumbnail file at all
    noThumbnails.thumbnailBlocks = 0;
    WriteCard(dir_ / "plain", noThumbnails);

    CardOptions inAvchd;  // the thumbnail file in AVCHD itself
    inAvchd.thumbnailFolder = false;
    WriteCard(dir_ / "inavchd", inAvchd);

    CardOptions atRoot;  // AVCHD at the root, no PRIVATE
    atRoot.privateFolder = false;
    WriteCard(dir_ / "atroot", atRoot);

    CardOptions lower;  // mounted with lower-case names
    lower.lowerCase = true;
    WriteCard(dir_ / "lower", lower);

    CardOptions besideAFile = lower;  // a file "PRIVATE" lists before the folder "private"
    WriteCard(dir_ / "besidefile", besideAFile);
    WriteFile(dir_ / "besidefile/PRIVATE", "a file, not the folder");

    CAVCHDDoc doc(producer_.Function());
    for (const char* card : {"plain", "inavchd", "atroot", "lower", "besidefile"}) {
        doc.OpenDirectory(dir_ / card);
        ASSERT_EQ(doc.GetDirectoryCount(), 1) << card;
        const auto record = doc.GetDirectory(0);
        EXPECT_EQ(record->clips->GetCount(), 3) << card;
        ASSERT_TRUE(record->thumbnails) << card;
        const bool hasThumbnails = std::string(card) != "plain";
        EXPECT_EQ(record->thumbnails->GetCount(), hasThumbnails ? 2 : 0) << card;
        EXPECT_EQ(record->clips->IsNumbered(), hasThumbnails) << card;
    }
    // The lower-case card's index was found too: its entries are by clip number.
    EXPECT_EQ(doc.GetDirectory(0)->thumbnails->BlockToClip().size(), 2u);
    EXPECT_TRUE(boxes_.Boxes().empty());
}

TEST_F(AVCHDDocTest, AvchdlIsFollowedWhenBothExist)
{
    CardOptions avchdl;
    avchdl.avchdName = "AVCHDL";
    avchdl.clips = {"00007.MTS"};
    WriteCard(dir_ / "card", avchdl);
    WriteCard(dir_ / "card", CardOptions{});
    CAVCHDDoc doc(producer_.Function());
    doc.OpenDirectory(dir_ / "card");
    ASSERT_EQ(doc.GetDirectoryCount(), 1);
    std::string clip;
    ASSERT_TRUE(doc.GetDirectory(0)->clips->GetClipPath(7, clip));
    EXPECT_EQ(clip, dir_ / "card/PRIVATE/AVCHDL/BDMV/STREAM/00007.MTS");
}

TEST_F(AVCHDDocTest, LooseFilesAndNestedFoldersAreFoundDepthFirst)
{
    // Made out of name order.
    WriteCard(dir_ / "top/B/D/E");
    WriteClips(dir_ / "top/B/C", {"y.m2ts", "z.MTS"});
    WriteClips(dir_ / "top/A", {"x.MTS"});
    WriteClips(dir_ / "top/A/deeper", {"hidden.MTS"});  // below a folder with clips: not searched
    MakeDirs(dir_ / "top/empty");
    CAVCHDDoc doc(producer_.Function());
    doc.OpenDirectory(dir_ / "top");

    // Depth-first in name order.
    const std::vector<std::string> expected{dir_ / "top/A", dir_ / "top/B/C", dir_ / "top/B/D/E"};
    EXPECT_EQ(Paths(doc), expected);
    EXPECT_EQ(doc.GetClipCount(), 1 + 2 + 3);
    const auto loose = doc.GetDirectory(0);
    EXPECT_FALSE(loose->clips->IsNumbered());
    ASSERT_TRUE(loose->thumbnails);
    EXPECT_EQ(loose->thumbnails->GetCount(), 0);
}

TEST_F(AVCHDDocTest, APrivateFolderWithoutClipsHidesItsSiblings)
{
    MakeDirs(dir_ / "folder/PRIVATE/SONY");
    WriteClips(dir_ / "folder/clips", {"00000.MTS"});
    CAVCHDDoc doc(producer_.Function());
    doc.OpenDirectory(dir_ / "folder");
    EXPECT_EQ(doc.GetDirectoryCount(), 0);
}

TEST_F(AVCHDDocTest, LinkLoopsEndAndEveryFolderIsScannedOnce)
{
    WriteClips(dir_ / "root/A/B", {"00000.MTS"});
    ASSERT_EQ(symlink("..", (dir_ / "root/A/up").c_str()), 0);
    ASSERT_EQ(symlink((dir_ / "root").c_str(), (dir_ / "root/A/again").c_str()), 0);
    ASSERT_EQ(symlink((dir_ / "nowhere").c_str(), (dir_ / "root/dangling").c_str()), 0);
    CAVCHDDoc doc(producer_.Function());
    doc.OpenDirectory(dir_ / "root");
    ASSERT_EQ(doc.GetDirectoryCount(), 1);
    EXPECT_EQ(doc.GetDirectory(0)->path, dir_ / "root/A/B");
}

TEST_F(AVCHDDocTest, UnreadableAndMissingFoldersAreSkippedQuietly)
{
    WriteClips(dir_ / "root/open", {"00000.MTS"});
    WriteClips(dir_ / "root/locked/inside", {"00000.MTS"});
    chmod((dir_ / "root/locked").c_str(), 0);
    CAVCHDDoc doc(producer_.Function());
    doc.OpenDirectory(dir_ / "root");
    if (geteuid() != 0) {
        EXPECT_EQ(Paths(doc), std::vector<std::string>{dir_ / "root/open"});
    }
    EXPECT_TRUE(boxes_.Boxes().empty());

    TakeLogMessages();
    doc.OpenDirectory(dir_ / "missing");
    EXPECT_EQ(doc.GetDirectoryCount(), 0);
    EXPECT_EQ(doc.GetClipCount(), 0);
    const auto log = TakeLogMessages();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("Opened directory [" + (dir_ / "missing") + "] in ", 0), 0u);
}

TEST_F(AVCHDDocTest, DamagedThumbnailFileShowsOneBoxAndListsClipsUnnumbered)
{
    const std::string stream = WriteCard(dir_ / "card");
    WriteFile(dir_ / "card/PRIVATE/AVCHD/AVCHDTN/THUMB.TDT", std::string(16385, '\0'));
    CAVCHDDoc doc(producer_.Function());
    doc.OpenDirectory(dir_ / "card");
    ASSERT_EQ(boxes_.Boxes().size(), 1u);
    EXPECT_EQ(boxes_.Boxes()[0].text,
              "Failed to load thumbnails (AVCHD Exception: Thumbnail file [" +
                  (dir_ / "card/PRIVATE/AVCHD/AVCHDTN/THUMB.TDT") +
                  "] size (16385 bytes) is not a multiple of the thumbnail offset multiple (16384 bytes) as "
                  "expected.  No thumbnails will be read.)");
    EXPECT_EQ(boxes_.Boxes()[0].icon, platform::MessageBoxIcon::None);
    ASSERT_EQ(doc.GetDirectoryCount(), 1);
    EXPECT_FALSE(doc.GetDirectory(0)->thumbnails);
    EXPECT_FALSE(doc.GetDirectory(0)->clips->IsNumbered());

    // Its clips are still generated, into a new thumbnail set.
    doc.QueueMissingThumbnails();
    ASSERT_TRUE(producer_.WaitForCount(3));
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(doc.CollectGeneratedThumbnails());
    ASSERT_TRUE(doc.GetDirectory(0)->thumbnails);
    EXPECT_EQ(doc.GetDirectory(0)->thumbnails->GetCount(), 3);
}

TEST_F(AVCHDDocTest, MissingThumbnailsAreQueuedOnceAndCollectedIntoTheirSlots)
{
    WriteCard(dir_ / "card", CardOptions{{"00000.MTS", "00001.MTS", "00002.MTS", "00004.MTS"}});
    settings::GenerateThumbnails.Write(true);
    CAVCHDDoc doc(producer_.Function());
    doc.OpenDirectory(dir_ / "card");  // camera thumbnails for 0 and 1
    ASSERT_TRUE(producer_.WaitForCount(2));
    doc.QueueMissingThumbnails();  // nothing new: both were requested already
    std::this_thread::sleep_for(100ms);
    const std::string stream = dir_ / "card/PRIVATE/AVCHD/BDMV/STREAM/";
    EXPECT_EQ(producer_.seen, (std::vector<std::string>{stream + "00002.MTS", stream + "00004.MTS"}));

    EXPECT_TRUE(doc.CollectGeneratedThumbnails());
    EXPECT_FALSE(doc.CollectGeneratedThumbnails());
    const auto thumbnails = doc.GetDirectory(0)->thumbnails;
    EXPECT_EQ(thumbnails->GetCount(), 5);
    EXPECT_EQ(thumbnails->GetEntry(2)->Width(), 100);
    EXPECT_EQ(thumbnails->GetEntry(4)->Width(), 100);
    EXPECT_EQ(thumbnails->GetEntry(3), nullptr);
    EXPECT_EQ(thumbnails->GetEntry(0)->Width(), 416);  // the camera's own stays
}

TEST_F(AVCHDDocTest, AResultOfAFolderClosedSinceIsFreedNotAttached)
{
    CardOptions noThumbnails;
    noThumbnails.thumbnailBlocks = 0;
    WriteCard(dir_ / "first", noThumbnails);
    WriteCard(dir_ / "second", noThumbnails);
    settings::GenerateThumbnails.Write(true);
    producer_.SetHold(true);
    CAVCHDDoc doc(producer_.Function());
    doc.OpenDirectory(dir_ / "first");
    ASSERT_TRUE(producer_.WaitUntilEntered(1));  // a grab of the first folder is running
    EXPECT_EQ(doc.GetPendingCount(), 3);  // the running grab counts until it is done
    settings::GenerateThumbnails.Write(false);
    doc.OpenDirectory(dir_ / "second");  // the first folder's work is dropped
    // But the grab still runs, and the status says so; behind it wait the second folder's three
    // look-ups of kept pictures, which generation off still makes.
    EXPECT_EQ(doc.GetPendingCount(), 1 + 3);
    producer_.SetHold(false);  // the grab that was running finishes
    ASSERT_TRUE(producer_.WaitForCount(1));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(doc.GetPendingCount(), 0);
    EXPECT_FALSE(doc.CollectGeneratedThumbnails());
    EXPECT_EQ(doc.GetDirectory(0)->thumbnails->GetCount(), 0);
}

TEST_F(AVCHDDocTest, OpenLastDirectoryUsesTheSetting)
{
    WriteClips(dir_ / "loose", {"a.MTS"});
    CAVCHDDoc doc(producer_.Function());
    doc.OpenLastDirectory();
    EXPECT_TRUE(TakeLogMessages().empty());  // nothing stored: nothing opened
    settings::LastDirectory.Write(dir_ / "loose");
    doc.OpenLastDirectory();
    EXPECT_EQ(doc.GetDirectoryCount(), 1);
    EXPECT_EQ(TakeLogMessages().size(), 1u);
}

TEST_F(AVCHDDocTest, SecondVisitServesEveryClipFromItsThumbnailFile)
{
    CardOptions noThumbnails;
    noThumbnails.thumbnailBlocks = 0;
    const std::string stream = WriteCard(dir_ / "card", noThumbnails);
    for (const char* clip : {"00000.MTS", "00001.MTS", "00002.MTS"})
        WriteFile(stream + "/" + clip + ".viewmere.jpg", SolidJpeg(384, 216, 1, 2, 3));
    settings::GenerateThumbnails.Write(true);
    CAVCHDDoc doc;  // the real producers
    doc.OpenDirectory(dir_ / "card");
    int collected = 0;
    for (int i = 0; i < 400 && collected < 3; ++i) {
        std::this_thread::sleep_for(10ms);
        doc.CollectGeneratedThumbnails();
        collected = 0;
        for (int slot = 0; slot < 3; ++slot)
            collected += doc.GetDirectory(0)->thumbnails->GetEntry(slot) != nullptr ? 1 : 0;
    }
    EXPECT_EQ(collected, 3);
    const auto log = TakeLogMessages();
    int loaded = 0;
    for (const auto& line : log)
        loaded += line.rfind("Loaded thumbnail file [", 0) == 0 ? 1 : 0;
    EXPECT_EQ(loaded, 3);
    EXPECT_FALSE(Contains(log, "Generating thumbnail"));
    EXPECT_FALSE(Contains(log, "ffmpeg"));
}

TEST_F(AVCHDDocTest, ClipsOnScreenAreMadeFirstAndAfterAScrollTheNewlyVisibleComeNext)
{
    settings::GenerateThumbnails.Write(true);
    const std::string folder = dir_ / "card";
    MakeDirs(folder);
    std::vector<std::string> clips;
    for (int i = 0; i < 500; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "/%05d.MTS", i);
        clips.push_back(folder + name);
        WriteFile(clips.back(), "x");
    }
    auto slice = [&](int from) { return std::vector<std::string>(clips.begin() + from, clips.begin() + from + 8); };

    // The first two clips in folder order wait at a gate until the test has told the document
    // what is on screen.
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::string> seen;
    std::set<std::string> open;
    auto producer = [&](ThumbnailQueue& queue, const std::string& path) {
        std::unique_lock<std::mutex> guard(lock);
        seen.push_back(path);
        changed.notify_all();
        if (path == clips[0] || path == clips[1])
            changed.wait(guard, [&] { return open.count(path) != 0; });
        auto image = std::make_unique<CRgbImage>();
        queue.StoreResult(path, ThumbnailResult{nullptr, std::move(image)});
    };
    auto reachGateAndOpenIt = [&](const std::string& gate, const std::vector<std::string>& visible, CAVCHDDoc& doc) {
        {
            std::unique_lock<std::mutex> guard(lock);
            ASSERT_TRUE(changed.wait_for(guard, 20s, [&] { return !seen.empty() && seen.back() == gate; }));
        }
        doc.SetVisibleClips(visible);
        std::lock_guard<std::mutex> guard(lock);
        open.insert(gate);
        changed.notify_all();
    };
    CAVCHDDoc doc(producer);
    doc.OpenDirectory(folder);
    reachGateAndOpenIt(clips[0], slice(240), doc);  // laid out: clips 240 to 247 on screen
    reachGateAndOpenIt(clips[1], slice(400), doc);  // scrolled: 400 to 407
    std::unique_lock<std::mutex> guard(lock);
    ASSERT_TRUE(changed.wait_for(guard, 20s, [&] { return seen.size() >= 18; }));
    std::vector<std::string> expected{clips[0]};
    for (const std::string& path : slice(240))
        expected.push_back(path);
    expected.push_back(clips[1]);
    for (const std::string& path : slice(400))
        expected.push_back(path);
    EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + 18), expected);
}

TEST_F(AVCHDDocTest, RecordingTimesReplaceLyingFileTimesAndARevisitReadsNothingAgain)
{
    // A card copied so that every file has the copy's time; one file has no camera date.
    const std::string card = dir_ / "copied";
    MakeDirs(card);
    MakeDatedClip(card + "/a.MTS", 0x02, 2008, 12, 31, 23, 16, 24);
    MakeDatedClip(card + "/b.MTS", 0x2a, 2009, 1, 1, 1, 5, 1);
    WriteFile(card + "/c.MTS", "no camera date in here");
    for (const char* name : {"a.MTS", "b.MTS", "c.MTS"})
        SetModificationTime(card + "/" + name, 1236434709);  // 7 March 2009, 14:05:09 UTC
    CAVCHDDoc doc(producer_.Function());
    auto caption = [&](int slot) {
        std::string text;
        doc.GetDirectory(0)->clips->FormatCaption(slot, text);
        return text.substr(text.find(", ") + 2);
    };
    auto collectAll = [&] {
        CAVCHDDoc::RecordingTimeChanges all;
        for (int i = 0; i < 2000 && (doc.GetPendingRecordingTimes() > 0 || !all.labels); ++i) {
            std::this_thread::sleep_for(10ms);
            const CAVCHDDoc::RecordingTimeChanges changes = doc.CollectRecordingTimes();
            all.labels = all.labels || changes.labels;
            all.dateGroups = all.dateGroups || changes.dateGroups;
        }
        return all;
    };

    doc.OpenDirectory(card);
    EXPECT_EQ(caption(0), "14:05:09 7-Mar-2009)");  // until the times are read
    const CAVCHDDoc::RecordingTimeChanges changes = collectAll();
    EXPECT_TRUE(changes.labels && changes.dateGroups);
    EXPECT_EQ(caption(0), "23:16:24 31-Dec-2008)");  // the camera's clock, not UTC
    EXPECT_EQ(caption(1), "01:05:01 1-Jan-2009)");
    EXPECT_EQ(caption(2), "14:05:09 7-Mar-2009)");
    EXPECT_EQ(doc.GetDirectory(0)->clips->GetDateKey(0), 20081231);
    EXPECT_EQ(doc.GetDirectory(0)->clips->FormatDate(1), "1-Jan-2009");

    // Opened again: every time is known at once and nothing is read; a clip changed since is.
    doc.OpenDirectory(card);
    EXPECT_EQ(doc.GetPendingRecordingTimes(), 0);
    EXPECT_EQ(caption(0), "23:16:24 31-Dec-2008)");
    EXPECT_EQ(caption(2), "14:05:09 7-Mar-2009)");
    SetModificationTime(card + "/b.MTS", 1236434710);
    doc.OpenDirectory(card);
    EXPECT_EQ(caption(0), "23:16:24 31-Dec-2008)");
    EXPECT_EQ(caption(1), "14:05:10 7-Mar-2009)");
    collectAll();
    EXPECT_EQ(caption(1), "01:05:01 1-Jan-2009)");
}

TEST_F(AVCHDDocTest, APulledCardsQueuedThumbnailsAreDroppedAndItsClipsStayListed)
{
    CardOptions noThumbnails;
    noThumbnails.thumbnailBlocks = 0;
    WriteCard(dir_ / "card", noThumbnails);
    settings::GenerateThumbnails.Write(true);
    producer_.SetHold(true);
    CAVCHDDoc doc(producer_.Function());
    doc.OpenDirectory(dir_ / "card");
    ASSERT_TRUE(producer_.WaitUntilEntered(1));  // the first clip's grab is running
    EXPECT_EQ(doc.GetPendingCount(), 3);  // the running grab counts too
    doc.DropQueuedThumbnails();
    EXPECT_EQ(doc.GetPendingCount(), 1);
    EXPECT_EQ(doc.GetPendingRecordingTimes(), 0);  // nor is the card read for times any more
    producer_.SetHold(false);  // the running grab ends; its result still lands in its slot
    ASSERT_TRUE(producer_.WaitForCount(1));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(producer_.seen.size(), 1u);
    EXPECT_TRUE(doc.CollectGeneratedThumbnails());
    EXPECT_EQ(doc.GetClipCount(), 3);
    doc.QueueMissingThumbnails();  // the card is back: the dropped clips are asked for again
    ASSERT_TRUE(producer_.WaitForCount(3));
    EXPECT_TRUE(doc.CollectGeneratedThumbnails());
    EXPECT_TRUE(boxes_.Boxes().empty());
}

TEST_F(AVCHDDocTest, ClipTreesAreRecognisedAtAVolumesRootWithoutRegardToCase)
{
    MakeDirs(dir_ / "a/private/avchd");
    MakeDirs(dir_ / "b/AVCHD");
    MakeDirs(dir_ / "c/Bdmv/STREAM");
    MakeDirs(dir_ / "d/DCIM/100CANON");
    MakeDirs(dir_ / "e/PRIVATE/SONY");
    WriteFile(dir_ / "f/AVCHD", "a file, not a folder");
    for (const char* yes : {"a", "b", "c"})
        EXPECT_TRUE(CAVCHDDoc::HoldsClipTree(dir_ / yes)) << yes;
    for (const char* no : {"d", "e", "f", "missing"})
        EXPECT_FALSE(CAVCHDDoc::HoldsClipTree(dir_ / no)) << no;
}
