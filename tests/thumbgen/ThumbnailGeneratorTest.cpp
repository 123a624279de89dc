#include "imaging/JPEGException.h"
#include "support/FailingFs.h"
#include "support/JpegFixtures.h"
#include "support/LogCapture.h"
#include "support/MessageBoxRecorder.h"
#include "support/TempDir.h"
#include "platform/FileSystem.h"
#include "settings/Settings.h"
#include "thumbgen/PictureStore.h"
#include "thumbgen/SharedThumbnails.h"
#include "thumbgen/ThumbnailFile.h"
#include "thumbgen/ThumbnailGenerator.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <map>
#include <optional>
#include <thread>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

// A producer the test steers: it records the paths it is given, stores a small picture for each,
// and can hold a chosen path until released.
class SteeredProducer {
public:
    CThumbnailGenerator::Producer Function()
    {
        return [this](ThumbnailQueue& queue, const std::string& path) { Produce(queue, path); };
    }

    void HoldAt(const std::string& path)
    {
        std::lock_guard<std::mutex> guard(lock_);
        holdPath_ = path;
    }
    void Release()
    {
        std::lock_guard<std::mutex> guard(lock_);
        released_ = true;
        changed_.notify_all();
    }
    bool WaitUntilHeld(std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, limit, [this] { return holding_; });
    }
    bool WaitForCount(std::size_t count, std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, limit, [&] { return seen_.size() >= count; });
    }
    std::vector<std::string> Seen()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return seen_;
    }

private:
    void Produce(ThumbnailQueue& queue, const std::string& path)
    {
        {
            std::unique_lock<std::mutex> guard(lock_);
            if (path == holdPath_) {
                holding_ = true;
                changed_.notify_all();
                changed_.wait(guard, [this] { return released_; });
            }
        }
        auto image = std::make_unique<CRgbImage>();
        image->width = static_cast<int>(path.size());
        queue.StoreResult(path, ThumbnailResult{nullptr, std::move(image)});
        std::lock_guard<std::mutex> guard(lock_);
        seen_.push_back(path);
        changed_.notify_all();
    }

    std::mutex lock_;
    std::condition_variable changed_;
    std::string holdPath_;
    bool holding_ = false;
    bool released_ = false;
    std::vector<std::string> seen_;
};

// A clip counts until its maker is done with it, a moment after its result is stored.
int PendingOnceSettled(const CThumbnailGenerator& generator)
{
    for (int i = 0; i < 2000 && generator.PendingCount() != 0; ++i)
        std::this_thread::sleep_for(1ms);
    return generator.PendingCount();
}

std::vector<std::string> TakeAllPaths(CThumbnailGenerator& generator)
{
    std::vector<std::string> paths;
    std::string path;
    ThumbnailResult result;
    while (generator.TakeResult(path, result))
        paths.push_back(path);
    return paths;
}

class ThumbnailFileFixture : public ::testing::Test {
protected:
    ThumbnailFileFixture() : config_("XDG_CONFIG_HOME", dir_ / "config") { TakeLogMessages(); }

    TempDir dir_;
    ScopedEnv config_;
};

}  // namespace

TEST(ThumbnailGeneratorTest, WorksInOrderOfEnqueueingAndHandsResultsOutInPathOrder)
{
    SteeredProducer producer;
    CThumbnailGenerator generator(producer.Function());
    for (const char* path : {"/card/b.MTS", "/card/a.MTS", "/card/B.MTS"})
        generator.Enqueue(path);
    ASSERT_TRUE(producer.WaitForCount(3, 20s));
    EXPECT_EQ(producer.Seen(), (std::vector<std::string>{"/card/b.MTS", "/card/a.MTS", "/card/B.MTS"}));
    EXPECT_EQ(PendingOnceSettled(generator), 0);
    EXPECT_EQ(TakeAllPaths(generator), (std::vector<std::string>{"/card/B.MTS", "/card/a.MTS", "/card/b.MTS"}));
    std::string untouched = "x";
    ThumbnailResult none;
    EXPECT_FALSE(generator.TakeResult(untouched, none));
    EXPECT_EQ(untouched, "x");
}

TEST(ThumbnailGeneratorTest, ClearAllDuringWorkDropsTheQueueButTheRunningResultArrivesLater)
{
    SteeredProducer producer;
    producer.HoldAt("/card/slow.MTS");
    CThumbnailGenerator generator(producer.Function());
    generator.Enqueue("/card/slow.MTS");
    generator.Enqueue("/card/next1.MTS");
    generator.Enqueue("/card/next2.MTS");
    ASSERT_TRUE(producer.WaitUntilHeld(20s));
    EXPECT_EQ(generator.PendingCount(), 3);  // the clip being worked on counts until it is done
    generator.ClearAll();
    EXPECT_EQ(generator.PendingCount(), 1);  // still being made: the status does not say idle
    producer.Release();
    ASSERT_TRUE(producer.WaitForCount(1, 20s));
    EXPECT_EQ(PendingOnceSettled(generator), 0);
    generator.Stop();
    EXPECT_EQ(producer.Seen(), std::vector<std::string>{"/card/slow.MTS"});
    // The result was stored after the clear; Stop frees it with everything else.
    EXPECT_TRUE(TakeAllPaths(generator).empty());
}

TEST(ThumbnailQueueTest, RequestsAreCountedAndEndedOneByOneNotByPath)
{
    // A clip asked for twice is two requests, and both stay when the screen reorders the queue.
    ThumbnailQueue queue;
    queue.Enqueue("/card/00000.MTS");
    queue.Enqueue("/card/00000.MTS");
    queue.Prioritize({"/card/00000.MTS"});
    EXPECT_EQ(queue.PendingCount(), 2u);
    // A slot still makes the clip for a folder closed since; another makes it for the new folder.
    ThumbnailQueue::Request early, again;
    ASSERT_TRUE(queue.TakeNext(early));
    queue.ClearAll();
    EXPECT_EQ(queue.PendingCount(), 1u);
    queue.Enqueue(early.path);
    ASSERT_TRUE(queue.TakeNext(again));
    queue.StoreResult(early.path, ThumbnailResult{nullptr, std::make_unique<CRgbImage>()});
    queue.Finished(early);
    EXPECT_EQ(queue.PendingCount(), 1u);  // the new request still runs
    queue.Finished(again);
    EXPECT_EQ(queue.PendingCount(), 0u);
}

TEST(ThumbnailQueueTest, ARequestPutBackWaitsBehindTheClipsOnScreenAndOneOfAClosedFolderStaysTaken)
{
    ThumbnailQueue queue;
    for (const char* clip : {"/card/00000.MTS", "/card/00001.MTS", "/card/00005.MTS", "/card/00006.MTS"})
        queue.Enqueue(clip);
    ThumbnailQueue::Request first, onScreen;
    ASSERT_TRUE(queue.TakeNext(first));
    ASSERT_TRUE(queue.TakeNext(onScreen));
    queue.Prioritize({"/card/00006.MTS", "/card/00005.MTS", "/card/00001.MTS"});
    EXPECT_TRUE(queue.PutBack(first));
    EXPECT_TRUE(queue.PutBack(onScreen));  // on screen itself: first of all
    EXPECT_EQ(queue.PendingCount(), 4u);
    std::vector<std::string> order;
    for (ThumbnailQueue::Request request; queue.TakeNext(request);)
        order.push_back(request.path);
    EXPECT_EQ(order, (std::vector<std::string>{"/card/00001.MTS", "/card/00006.MTS", "/card/00005.MTS",
                                               "/card/00000.MTS"}));
    // The slot for clips off the screen takes none while a clip on screen is still being made.
    queue.Enqueue("/card/00007.MTS");
    queue.Enqueue("/card/00008.MTS");
    ThumbnailQueue::Request beingMade, offScreen;
    ASSERT_TRUE(queue.TakeNext(beingMade));
    EXPECT_EQ(beingMade.path, "/card/00007.MTS");
    queue.Prioritize({"/card/00007.MTS"});
    EXPECT_FALSE(queue.TakeNext(offScreen, true));
    queue.Finished(beingMade);
    ASSERT_TRUE(queue.TakeNext(offScreen, true));
    EXPECT_EQ(offScreen.path, "/card/00008.MTS");
    queue.Finished(offScreen);
    // Taken before the folder was closed: it stays with its maker, as every taken request does.
    queue.Enqueue("/old/00000.MTS");
    ThumbnailQueue::Request old;
    ASSERT_TRUE(queue.TakeNext(old));
    queue.ClearAll();
    EXPECT_FALSE(queue.PutBack(old));
    EXPECT_FALSE(queue.HasPending());
    EXPECT_EQ(queue.PendingCount(), 5u);
}

TEST(ThumbnailGeneratorTest, StopWhileIdleReturnsAtOnce)
{
    SteeredProducer producer;
    CThumbnailGenerator generator(producer.Function());
    const auto start = std::chrono::steady_clock::now();
    generator.Stop();
    // Far below the 7500 ms limit: the worker saw the request at once.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    generator.Stop();  // a second stop does nothing
}

TEST(ThumbnailGeneratorTest, StopWhileAProducerIsSlowReturnsAtTheLimitAndNothingBreaksAfterwards)
{
    auto finished = std::make_shared<std::promise<void>>();
    std::future<void> producerDone = finished->get_future();
    {
        CThumbnailGenerator generator(
            [finished](ThumbnailQueue& queue, const std::string& path) {
                std::this_thread::sleep_for(1500ms);
                // The generator is gone by now; the queue it shared is not.
                queue.StoreResult(path, ThumbnailResult{nullptr, std::make_unique<CRgbImage>()});
                LogEvent("slow producer finished [%s]", path.c_str());
                finished->set_value();
            },
            200ms);
        generator.Enqueue("/card/slow.MTS");
        std::this_thread::sleep_for(100ms);
        const auto start = std::chrono::steady_clock::now();
        generator.Stop();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1400ms);
        EXPECT_EQ(producerDone.wait_for(0ms), std::future_status::timeout);
    }
    EXPECT_EQ(producerDone.wait_for(20s), std::future_status::ready);
    std::this_thread::sleep_for(50ms);  // let the detached worker leave its loop
    EXPECT_TRUE(Contains(TakeLogMessages(), "slow producer finished [/card/slow.MTS]"));
}

TEST(ThumbnailGeneratorTest, ProcessExitRightAfterAStopThatTimedOutIsClean)
{
    // The helper stops a generator whose producer is busy and returns from main at once.
    const std::string helper = GENERATOR_EXIT_CHECK;
    for (int run = 0; run < 3; ++run) {
        const int status = std::system(helper.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << "helper did not exit normally";
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
}

TEST(ThumbnailGeneratorTest, AFailingProducerNeverEndsTheWorker)
{
    TakeLogMessages();
    std::atomic<int> calls{0};
    CThumbnailGenerator generator([&calls](ThumbnailQueue& queue, const std::string& path) {
        ++calls;
        if (path == "/jpeg")
            throw CJPEGException("\r\nNot a JPEG file: starts with 0x00 0x00");
        if (path == "/other")
            throw std::runtime_error("disk gone");
        queue.StoreResult(path, ThumbnailResult{nullptr, std::make_unique<CRgbImage>()});
    });
    generator.Enqueue("/jpeg");
    generator.Enqueue("/other");
    generator.Enqueue("/fine");
    std::string path;
    ThumbnailResult result;
    for (int i = 0; i < 2000 && !generator.TakeResult(path, result); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(path, "/fine");
    EXPECT_EQ(calls.load(), 3);
    const auto log = TakeLogMessages();
    EXPECT_TRUE(Contains(log, "Failed to make thumbnail for [/jpeg]: JPEG Exception: \r\nNot a JPEG file"));
    EXPECT_TRUE(Contains(log, "Failed to make thumbnail for [/other]: disk gone"));
}

TEST_F(ThumbnailFileFixture, FilePathsBesideTheClipOrInTheSubdirectory)
{
    EXPECT_EQ(ThumbnailFilePath("/card/STREAM/00001.MTS", true), "/card/STREAM/00001.MTS.viewmere.jpg");
    EXPECT_EQ(ThumbnailFilePath("00001.MTS", true), "00001.MTS.viewmere.jpg");

    MakeDirs(dir_ / "STREAM");
    settings::WriteToSubdir.Write(true);
    const std::string clip = dir_ / "STREAM/00001.MTS";
    EXPECT_EQ(ThumbnailFilePath(clip, false), dir_ / "STREAM/Viewmere/00001.MTS.viewmere.jpg");
    EXPECT_FALSE(platform::IsDirectory(dir_ / "STREAM/Viewmere"));
    EXPECT_EQ(ThumbnailFilePath("00001.MTS", true), "00001.MTS.viewmere.jpg");

    settings::WriteThumbnails.Write(false);
    ThumbnailFilePath(clip, true);
    EXPECT_FALSE(platform::IsDirectory(dir_ / "STREAM/Viewmere"));  // nothing is written, so nothing is made

    settings::WriteThumbnails.Write(true);
    EXPECT_EQ(ThumbnailFilePath(clip, true), dir_ / "STREAM/Viewmere/00001.MTS.viewmere.jpg");
    EXPECT_TRUE(platform::IsDirectory(dir_ / "STREAM/Viewmere"));
    EXPECT_EQ(ThumbnailFilePath(clip, true), dir_ / "STREAM/Viewmere/00001.MTS.viewmere.jpg");  // exists: fine
}

TEST_F(ThumbnailFileFixture, ThumbnailFilesAreServedWithoutAnyGrab)
{
    const std::string clip = dir_ / "my clip \"1\" & more.MTS";
    WriteFile(clip, "dummy");
    WriteFile(clip + ".viewmere.jpg", SolidJpeg(416, 234, 10, 20, 30));
    CThumbnailGenerator generator;
    generator.Enqueue(clip);
    std::string path;
    ThumbnailResult result;
    for (int i = 0; i < 2000 && !generator.TakeResult(path, result); ++i)
        std::this_thread::sleep_for(10ms);
    // Kept compressed, as read from the file.
    ASSERT_FALSE(result.jpeg.Empty());
    EXPECT_FALSE(result.bitmap || result.image);
    EXPECT_EQ(path, clip);
    const std::unique_ptr<CRgbImage> picture = result.jpeg.Decode();
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, 416);
    EXPECT_EQ(picture->height, 234);
    generator.Stop();
    const auto log = TakeLogMessages();
    EXPECT_TRUE(Contains(log, "Loaded thumbnail file [" + clip + ".viewmere.jpg]"));
    EXPECT_FALSE(Contains(log, "Generating thumbnail"));
    EXPECT_FALSE(Contains(log, "ffmpeg"));
}

TEST_F(ThumbnailFileFixture, BadThumbnailFileIsLoggedAndTheClipGoesOnToAGrab)
{
    const std::string clip = dir_ / "00001.MTS";
    WriteFile(clip, "dummy");
    WriteFile(clip + ".viewmere.jpg", "this is no picture");
    ThumbnailQueue queue;
    EXPECT_FALSE(LoadThumbnailFile(queue, clip));
    std::string path;
    ThumbnailResult result;
    EXPECT_FALSE(queue.TakeResult(path, result));
    const auto log = TakeLogMessages();
    EXPECT_TRUE(Contains(log, "Ignored thumbnail file [" + clip + ".viewmere.jpg]: JPEG Exception: \r\nNot a JPEG file"));

    // No file at all: nothing is logged.
    EXPECT_FALSE(LoadThumbnailFile(queue, dir_ / "00002.MTS"));
    EXPECT_TRUE(TakeLogMessages().empty());

    // Empty (an interrupted copy), cut short, or a FIFO: each is bad, said in one line and no
    // box, and never waited on.
    MessageBoxRecorder boxes;
    const std::string picture = SolidJpeg(64, 36, 10, 20, 30);
    WriteFile(dir_ / "00003.MTS.viewmere.jpg", "");
    WriteFile(dir_ / "00004.MTS.viewmere.jpg", picture.substr(0, picture.size() - 40));
    ASSERT_EQ(mkfifo((dir_ / "00005.MTS.viewmere.jpg").c_str(), 0600), 0);
    for (const char* name : {"00003.MTS", "00004.MTS", "00005.MTS"})
        EXPECT_FALSE(LoadThumbnailFile(queue, dir_ / name)) << name;
    const auto lines = TakeLogMessages();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Ignored thumbnail file [" + dir_ / "00003.MTS.viewmere.jpg" +
                            "]: JPEG Exception: \r\nEmpty input file");
    EXPECT_EQ(lines[1], "Ignored thumbnail file [" + dir_ / "00004.MTS.viewmere.jpg" +
                            "]: JPEG Exception: \r\nPremature end of JPEG file");
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(ThumbnailFileFixture, AThumbnailThatCannotBeWrittenIsReportedOncePerFolder)
{
    CRgbImage picture;
    ASSERT_TRUE(picture.FromBitmap(platform::MakeDeviceBitmap32(8, 8)));
    settings::WriteToSubdir.Write(true);
    WriteFile(dir_ / "Viewmere", "a file where the folder would go");
    TakeLogMessages();
    EXPECT_FALSE(WriteThumbnailFile(dir_ / "00001.MTS", picture));
    EXPECT_FALSE(WriteThumbnailFile(dir_ / "00002.MTS", picture));
    const auto lines = TakeLogMessages();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Could not write thumbnail files to [" + dir_ / "Viewmere" +
                            "]: Not a directory. The thumbnails are shown but not kept.");
    settings::WriteToSubdir.Write(false);
    EXPECT_TRUE(WriteThumbnailFile(dir_ / "00001.MTS", picture));
    EXPECT_FALSE(platform::FileExists(dir_ / "00001.MTS.viewmere.jpg.part"));
}

TEST_F(ThumbnailFileFixture, UseFFmpegIsReadForEveryClip)
{
    std::vector<std::string> log;  // kept from one wait to the next: a line may come in the same batch
    auto waitForLine = [&log](const std::string& text) {
        for (int i = 0; i < 2000 && !Contains(log, text); ++i) {
            std::this_thread::sleep_for(10ms);
            for (auto& m : TakeLogMessages())
                log.push_back(m);
        }
        return Contains(log, text);
    };
    CThumbnailGenerator generator;
    generator.Enqueue(dir_ / "a.MTS");
    // Neither file exists: each method fails in its own words.
    EXPECT_TRUE(waitForLine("Generating thumbnail for [" + (dir_ / "a.MTS") + "]"));
    EXPECT_TRUE(waitForLine("Generated thumbnail in"));
    settings::UseFFmpeg.Write(true);
    settings::FFmpegExe.Write(dir_ / "no-ffmpeg-here");
    generator.Enqueue(dir_ / "b.MTS");
    EXPECT_TRUE(waitForLine("Failed to run ffmpeg with \"" + (dir_ / "no-ffmpeg-here") + "\" -i \"" + (dir_ / "b.MTS")));
}

// What the grab workers answered, stored behind the slots' backs: each picture checked, written
// beside its clip and handed out, each failure with its reason, and every request ended once the
// store is drained. The desktop's shared cache is written when the CPU has room: on a disk that
// hangs (where the test may mount one) it holds back none of this, and its files come once the
// disk answers.
TEST_F(ThumbnailFileFixture, WorkersAnswersAreStoredWithTheirFilesAndReasonsAndTheirRequestsEnd)
{
    std::optional<FailingFs> disk;
    if (CanMount()) {
        ASSERT_EQ(mkdir((dir_ / "cache-disk").c_str(), 0700), 0);
        disk.emplace(dir_ / "cache-disk", dir_ / "cache", FailingFs::Pages::PastTheCache, FailingFs::Writes::PassedThrough);
        ASSERT_TRUE(disk->Mounted());
        disk->HoldWrites();
    }
    const ScopedEnv cache("XDG_CACHE_HOME", dir_ / "cache");
    settings::WriteThumbnails.Write(true);
    auto queue = std::make_shared<ThumbnailQueue>();
    const std::vector<std::string> clips = {dir_ / "card/00000.MTS", dir_ / "card/00001.MTS", dir_ / "card/00002.MTS"};
    for (const std::string& clip : clips) {
        WriteFile(clip, "clip");
        queue->Enqueue(clip);
    }
    std::vector<ThumbnailQueue::Request> requests(3);
    for (ThumbnailQueue::Request& request : requests)
        ASSERT_TRUE(queue->TakeNext(request));
    {
        CPictureStore store(queue);
        const std::string picture = SolidJpeg(384, 216, 10, 200, 30);
        store.Add(requests[0], std::vector<std::uint8_t>(picture.begin(), picture.end()), "");
        store.Add(requests[1], {'n', 'o', 't', ' ', 'a', ' ', 'J', 'P', 'E', 'G'}, "");
        store.Add(requests[2], {}, "no video stream");
        EXPECT_TRUE(store.Drain(20s));
        EXPECT_EQ(queue->PendingCount(), 0u);
        std::map<std::string, ThumbnailResult> results;
        std::string path;
        ThumbnailResult result;
        while (queue->TakeResult(path, result))
            results[path] = std::move(result);
        ASSERT_EQ(results.size(), 3u);
        EXPECT_EQ(results[clips[0]].jpeg.width, 384);
        EXPECT_TRUE(results[clips[0]].failure.empty());
        EXPECT_TRUE(platform::FileExists(ThumbnailFilePath(clips[0], false)));
        EXPECT_EQ(results[clips[1]].failure, "the grab worker sent no usable picture");
        EXPECT_FALSE(platform::FileExists(ThumbnailFilePath(clips[1], false)));
        EXPECT_EQ(results[clips[2]].failure, "no video stream");
        EXPECT_TRUE(Contains(TakeLogMessages(), "Grab worker sent a damaged picture for [" + clips[1] + "]"));
        if (disk) {
            for (int i = 0; i < 2000 && !disk->Holding(); ++i)
                std::this_thread::sleep_for(10ms);
            EXPECT_TRUE(disk->Holding());
            // Looked at on the disk's own side: a look through the mount would wait behind the
            // held call, which holds its folder.
            EXPECT_FALSE(platform::FileExists(dir_ / "cache-disk/thumbnails"));
            disk->Release();
        }
    }  // the store ends once what it shares is written
    for (const char* size : {"large", "x-large"})
        EXPECT_TRUE(platform::FileExists(SharedThumbnailPath(SharedThumbnailUri(clips[0]), size))) << size;
}
