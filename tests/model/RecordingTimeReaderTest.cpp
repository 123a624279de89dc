#include "model/RecordingTimeReader.h"
#include "support/MdpmClips.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

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
        return [this](const std::string& path) {
            std::unique_lock<std::mutex> guard(lock);
            order.push_back(path);
            changed.notify_all();
            changed.wait(guard, [this] { return !hold; });
            return ReadClipStreamFacts(path);
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

TEST(RecordingTimeReaderTest, VisibleClipsGoFirstAndReadsAreRememberedUntilTheFileChanges)
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
        EXPECT_EQ(result.time.has_value(), result.path == clips[2].path) << result.path;
    EXPECT_EQ(reader.PendingCount(), 0);

    // Each read is remembered for the file as listed; a file listed with another size or time is not.
    ASSERT_TRUE(reader.Remembered(clips[2]).has_value());
    EXPECT_EQ(reader.Remembered(clips[2])->value().hour, 23);
    ASSERT_TRUE(reader.Remembered(clips[3]).has_value());
    EXPECT_FALSE(reader.Remembered(clips[3])->has_value());
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
}

TEST(RecordingTimeReaderTest, ClipsOfAPulledCardAreNotRememberedAsHavingNoTime)
{
    TempDir dir;
    const std::string card = dir / "card";
    MakeDirs(card);
    std::vector<ClipFile> clips;
    for (int i = 0; i < 3; ++i) {
        clips.push_back(ClipFile{card + "/0000" + std::to_string(i) + ".MTS", 100u, 1000u});
        MakeDatedClip(clips.back().path, 0x02, 2008, 12, 31, 23, 16, 24 + i);
    }
    HeldReads reads;
    CRecordingTimeReader reader(reads.Function());
    reader.Enqueue(clips);
    ASSERT_TRUE(reads.WaitForReads(1));
    ASSERT_EQ(rename(card.c_str(), (dir / "away").c_str()), 0);  // pulled while the reads go on
    reads.SetHold(false);
    for (const auto& result : TakeResults(reader, 3))
        EXPECT_FALSE(result.time.has_value()) << result.path;
    for (const ClipFile& clip : clips)
        EXPECT_FALSE(reader.Remembered(clip).has_value()) << clip.path;

    // Back in the reader: the same files, as listed before, give their times.
    ASSERT_EQ(rename((dir / "away").c_str(), card.c_str()), 0);
    reader.Enqueue(clips);
    const auto again = TakeResults(reader, 3);
    ASSERT_EQ(again.size(), 3u);
    for (const auto& result : again)
        EXPECT_TRUE(result.time.has_value()) << result.path;
    EXPECT_EQ(reader.Remembered(clips[2])->value().second, 26);
}
