#include "model/RecordingTimeReader.h"
#include "support/MdpmClips.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

using ClipFile = CRecordingTimeReader::ClipFile;

// The real reader, recording the order of the reads; while `hold` is on, a read waits.
struct HeldReads {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::string> order;
    bool hold = true;

    CRecordingTimeReader::FileReader Function()
    {
        return [this](const std::string& path, bool withDuration) {
            std::unique_lock<std::mutex> guard(lock);
            order.push_back(path);
            changed.notify_all();
            changed.wait(guard, [this] { return !hold; });
            return ReadClipStreamFacts(path, withDuration);
        };
    }
    bool WaitForReads(std::size_t count)
    {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, 20s, [&] { return order.size() >= count; });
    }
    void SetHold(bool on)
    {
        std::lock_guard<std::mutex> guard(lock);
        hold = on;
        changed.notify_all();
    }
};

std::vector<CRecordingTimeReader::Result> TakeResults(CRecordingTimeReader& reader, std::size_t count)
{
    std::vector<CRecordingTimeReader::Result> results;
    const auto end = std::chrono::steady_clock::now() + 20s;
    CRecordingTimeReader::Result result;
    while (results.size() < count && std::chrono::steady_clock::now() < end) {
        if (reader.TakeResult(result))
            results.push_back(result);
        else
            std::this_thread::sleep_for(5ms);
    }
    return results;
}

}  // namespace

TEST(RecordingTimeReaderTest, VisibleClipsGoFirstAndWhatWasReadIsRememberedUntilTheFileChanges)
{
    TempDir dir;
    std::vector<ClipFile> clips;
    for (int i = 0; i < 6; ++i) {
        clips.push_back(ClipFile{dir / ("clip" + std::to_string(i) + ".MTS"), 100u + i, 1000u + i});
        WriteFile(clips.back().path, "no camera date in here");
    }
    MakeDatedClip(clips[2].path, 0x02, 2008, 12, 31, 23, 16, 24);
    HeldReads reads;
    CRecordingTimeReader reader(reads.Function());

    reader.Enqueue(clips);
    ASSERT_TRUE(reads.WaitForReads(1));  // the first clip is being read
    reader.SetVisible({clips[4].path, clips[2].path});
    reader.Enqueue({clips[1]});  // already queued: keeps its place
    EXPECT_EQ(reader.PendingCount(), 5);
    reads.SetHold(false);
    const auto results = TakeResults(reader, 6);
    ASSERT_EQ(results.size(), 6u);
    const std::vector<std::string> expected = {clips[0].path, clips[4].path, clips[2].path,
                                               clips[1].path, clips[3].path, clips[5].path};
    EXPECT_EQ(reads.order, expected);
    for (const auto& result : results)
        EXPECT_EQ(result.facts.time.has_value(), result.path == clips[2].path) << result.path;
    EXPECT_EQ(reader.PendingCount(), 0);

    // Each read is remembered for the file as listed; a file listed with another size or time is not.
    ASSERT_TRUE(reader.Remembered(clips[2]).has_value());
    EXPECT_EQ(reader.Remembered(clips[2])->time.value().hour, 23);
    ASSERT_TRUE(reader.Remembered(clips[3]).has_value());
    EXPECT_FALSE(reader.Remembered(clips[3])->time.has_value());
    ClipFile touched = clips[2];
    touched.modified += 1;
    EXPECT_FALSE(reader.Remembered(touched).has_value());
    touched = clips[2];
    touched.size += 1;
    EXPECT_FALSE(reader.Remembered(touched).has_value());

    // A folder closed while a read runs: the read is remembered but never handed out.
    reads.SetHold(true);
    reader.Enqueue({touched, ClipFile{dir / "other.MTS", 1, 1}});
    ASSERT_TRUE(reads.WaitForReads(7));
    reader.ClearAll();
    EXPECT_EQ(reader.PendingCount(), 0);
    reads.SetHold(false);
    for (int i = 0; i < 400 && !reader.Remembered(touched).has_value(); ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(reader.Remembered(touched).has_value());
    CRecordingTimeReader::Result late;
    EXPECT_FALSE(reader.TakeResult(late));
    EXPECT_EQ(reads.order.size(), 7u);

    // A card pulled while the reads go on: what could not be read is not remembered as no time,
    // and once the card is back the clip gives its time.
    const ClipFile pulled{clips[2].path, 7, 7};
    ASSERT_EQ(rename(dir.Path().c_str(), (dir.Path() + "-away").c_str()), 0);
    reader.Enqueue({pulled});
    EXPECT_EQ(TakeResults(reader, 1).size(), 1u);
    EXPECT_FALSE(reader.Remembered(pulled).has_value());
    ASSERT_EQ(rename((dir.Path() + "-away").c_str(), dir.Path().c_str()), 0);
    reader.Enqueue({pulled});
    const auto back = TakeResults(reader, 1);
    EXPECT_TRUE(back.size() == 1 && back[0].facts.time.has_value());
}


TEST(RecordingTimeReaderTest, ClipsOffTheScreenWaitWhileTheCardServesPicturesAndVisibleOnesDoNot)
{
    TempDir dir;
    std::vector<ClipFile> clips;
    for (int i = 0; i < 4; ++i) {
        clips.push_back(ClipFile{dir / ("clip" + std::to_string(i) + ".MTS"), 100u + i, 1000u + i});
        WriteFile(clips.back().path, "no camera date in here");
    }
    std::atomic<bool> picturesBeingMade{true};
    HeldReads reads;
    reads.SetHold(false);
    CRecordingTimeReader reader(reads.Function());
    reader.HoldOffScreenReadsWhile([&picturesBeingMade] { return picturesBeingMade.load(); });
    reader.Enqueue(clips);
    reader.SetVisible({clips[2].path});
    const auto visible = TakeResults(reader, 1);
    ASSERT_EQ(visible.size(), 1u);
    EXPECT_EQ(visible[0].path, clips[2].path);
    // Scrolled: the clip that comes on screen is read too, the others still wait.
    reader.SetVisible({clips[3].path});
    const auto scrolled = TakeResults(reader, 1);
    ASSERT_EQ(scrolled.size(), 1u);
    EXPECT_EQ(scrolled[0].path, clips[3].path);
    std::this_thread::sleep_for(300ms);
    CRecordingTimeReader::Result early;
    EXPECT_FALSE(reader.TakeResult(early));
    EXPECT_EQ(reader.PendingCount(), 2);
    // The pictures are made: the rest are read, in their order.
    picturesBeingMade = false;
    EXPECT_EQ(TakeResults(reader, 2).size(), 2u);
    const std::vector<std::string> expected = {clips[2].path, clips[3].path, clips[0].path, clips[1].path};
    EXPECT_EQ(reads.order, expected);
}
