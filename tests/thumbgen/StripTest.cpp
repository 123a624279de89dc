// Strips of recordings for skimming: made by a real grab worker from real clips, each frame the
// key frame nearest its time; a worker that fails on one costs the strip only; strips kept in a
// bounded memory cache and in files that only their recording's clip takes.
#include "platform/ChildProcess.h"
#include "platform/FileSystem.h"
#include "settings/Settings.h"
#include "support/CardPlaylists.h"
#include "support/Clips.h"
#include "support/Processes.h"
#include "support/TempDir.h"
#include "thumbgen/GrabFailureRecord.h"
#include "thumbgen/GrabWorkerProtocol.h"
#include "thumbgen/StripCache.h"
#include "thumbgen/ThumbnailGenerator.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <set>
#include <thread>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

const std::vector<std::string> kColours{"red", "lime", "blue", "yellow", "magenta", "cyan"};

// The key frame of a clip of kColours nearest a time: one every 0.2 s, the last at 5.8 s.
double NearestKey(double seconds)
{
    return std::min(std::round(seconds / 0.2) * 0.2, 5.8);
}

std::string ColourAt(double key)
{
    return kColours.at(static_cast<std::size_t>(key + 1e-6));
}

// The name of the colour a frame shows in its middle, as far as JPEG lets it be told.
std::string ColourOf(const CJpegPicture& picture)
{
    const std::unique_ptr<CRgbImage> image = picture.Decode();
    if (!image)
        return "undecodable";
    const std::uint8_t* p = image->pixels.get() + image->OffsetOf(image->width / 2, image->height / 2);
    const bool r = p[2] > 160, g = p[1] > 160, b = p[0] > 160;
    if (p[2] + p[1] + p[0] < 3 * 160 && (r || g || b) && std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) < 100)
        return "unclear";
    static const char* names[8] = {"black", "blue", "lime", "cyan", "red", "magenta", "yellow", "white"};
    return names[(r ? 4 : 0) | (g ? 2 : 0) | (b ? 1 : 0)];
}

// A grab worker process spoken to through its pipes.
class Worker {
public:
    explicit Worker(std::vector<std::string> options = {})
    {
        options.insert(options.begin(), GRAB_WORKER);
        started_ = process_.Start(options);
        reader_.emplace(process_.FromChild());
    }
    bool Started() const { return started_; }
    int Pid() const { return process_.Pid(); }
    grab_protocol::RecordKind Next(grab_protocol::Record& record)
    {
        const auto outcome = reader_->Next(record, std::chrono::steady_clock::now() + 30s, {});
        return outcome == grab_protocol::ReadOutcome::Record ? record.kind : grab_protocol::RecordKind{};
    }
    // The frames of a strip, in the order they came, and the end's text.
    std::vector<StripFrame> Strip(const StripRequest& request, std::string& end)
    {
        std::vector<StripFrame> frames;
        if (!grab_protocol::SendStripRequest(process_.ToChild(), request))
            return frames;
        grab_protocol::Record record;
        while (Next(record) != grab_protocol::RecordKind::End) {
            StripFrame frame;
            std::vector<std::uint8_t> jpeg;
            std::string problem;
            if (record.kind == grab_protocol::RecordKind::Frame) {
                EXPECT_TRUE(grab_protocol::DecodeFrame(record.payload, frame, jpeg));
                EXPECT_TRUE(frame.picture.Adopt(std::move(jpeg), CRgbImage::kMaxThumbnailPixels, problem)) << problem;
                frames.push_back(std::move(frame));
            } else if (record.kind != grab_protocol::RecordKind::Acknowledged &&
                       record.kind != grab_protocol::RecordKind::LogLine) {
                ADD_FAILURE() << "unexpected record " << static_cast<int>(record.kind);
                return frames;
            }
        }
        end.assign(record.payload.begin(), record.payload.end());
        return frames;
    }

private:
    platform::PipedChild process_;
    std::optional<grab_protocol::RecordReader> reader_;
    bool started_ = false;
};

}  // namespace

TEST(StripTest, AWorkerMakesAStripOfKeyFramesSpreadOverTheWholeRecordingFrameUnderThePointerFirst)
{
    TempDir dir;
    // Under ThreadSanitizer the worker's reads of the frames its decoder's threads wrote are
    // ordered by the media framework's locks, which it cannot see: not this program's to report
    // (reported pixel by pixel, they held the worker for minutes).
    const ScopedEnv threadSanitizer("TSAN_OPTIONS", "report_bugs=0");
    const std::string clip = dir / "card/00000.MTS";
    MakeDirs(dir / "card");
    ASSERT_EQ(Shell("cp " + ShellQuote(ColourSequenceClip(kColours)) + " " + ShellQuote(clip)), 0);
    const SplitRecording split = MakeSplitRecording(dir / "card", 1, {"red", "blue"});

    Worker worker;
    ASSERT_TRUE(worker.Started());
    grab_protocol::Record ready;
    ASSERT_EQ(worker.Next(ready), grab_protocol::RecordKind::Ready);

    // One clip of six colours, a second each; its length read from the file.
    StripRequest request;
    request.parts = {{clip, 0}};
    request.frames = 16;
    request.first = 9;
    std::string end;
    std::vector<StripFrame> frames = worker.Strip(request, end);
    ASSERT_EQ(frames.size(), 16u);
    EXPECT_EQ(frames[0].index, 9);
    std::set<int> indices;
    for (const StripFrame& frame : frames) {
        SCOPED_TRACE(frame.index);
        indices.insert(frame.index);
        EXPECT_NEAR(frame.duration, 6.0, 0.1);
        // The key frame nearest the frame's place, and what it shows.
        EXPECT_NEAR(frame.seconds, NearestKey(frame.duration * frame.index / 15), 0.01);
        EXPECT_EQ(ColourOf(frame.picture), ColourAt(frame.seconds)) << frame.seconds;
        EXPECT_EQ(frame.picture.width, kGrabbedThumbnailWidth);
        EXPECT_EQ(frame.picture.height, kGrabbedThumbnailHeight);
    }
    EXPECT_EQ(indices.size(), 16u);

    // A recording the camera split across two files: the first file red, the second blue, which
    // starts without a key frame. The lengths come with the request, as the playlist gives them.
    request = StripRequest{};
    request.frames = 8;
    request.width = 160;
    request.height = 90;
    for (const PlaylistItem& item : split.items)
        request.parts.push_back({dir / ("card/" + item.clip + ".MTS"), (item.outTime - item.inTime) / 45000.0});
    frames = worker.Strip(request, end);
    ASSERT_EQ(frames.size(), 8u);
    for (const StripFrame& frame : frames) {
        SCOPED_TRACE(frame.index);
        EXPECT_NEAR(frame.duration, 2.0, 0.05);
        EXPECT_EQ(frame.picture.width, 160);
        EXPECT_EQ(ColourOf(frame.picture), frame.seconds < 1.0 ? "red" : "blue") << frame.seconds;
        EXPECT_NEAR(frame.seconds, frame.duration * frame.index / 7, 0.25);  // half a group of 12
    }
    // The end of the recording is in its second file.
    EXPECT_TRUE(std::any_of(frames.begin(), frames.end(), [](const StripFrame& f) { return f.index == 7 && f.seconds > 1.5; }));

    // Done, the worker holds none of the clips' files: the card can be unmounted.
    EXPECT_TRUE(OpenFilesBelow({worker.Pid()}, dir / "card").empty());

    // A file that is no video ends the strip with the reason, and the worker takes the next.
    WriteFile(dir / "card/00009.MTS", "not a clip");
    request.parts = {{dir / "card/00009.MTS", 0}};
    EXPECT_TRUE(worker.Strip(request, end).empty());
    EXPECT_EQ(end, "not a transport stream");
    request.parts = {{clip, 6.0}};
    EXPECT_EQ(worker.Strip(request, end).size(), 8u);
}

TEST(StripTest, StripsGoAheadOfThumbnailsAndAWorkerThatCrashesOnOneCostsTheStripOnly)
{
    TempDir dir;
    const ScopedEnv config("XDG_CONFIG_HOME", dir / "config");
    // A worker must die on the signal as a decoder would, not be caught by a sanitizer.
    const ScopedEnv addressSanitizer("ASAN_OPTIONS", "handle_segv=0:handle_sigfpe=0:handle_sigbus=0:handle_abort=0");
    const ScopedEnv threadSanitizer("TSAN_OPTIONS", "report_bugs=0:handle_segv=0:handle_sigfpe=0:handle_sigbus=0");
    settings::WriteThumbnails.Write(false);
    settings::ShareThumbnails.Write(false);
    MakeDirs(dir / "card");
    const std::string good = dir / "card/00000.MTS", bad = dir / "card/00001 CRASH.MTS";
    for (const std::string& clip : {good, bad})
        ASSERT_EQ(Shell("cp " + ShellQuote(ColourSequenceClip(kColours)) + " " + ShellQuote(clip)), 0);

    // The queue: a strip waits ahead of the thumbnails, only the last one asked for waits, and
    // strips are not counted as thumbnails pending.
    ThumbnailQueue queue;
    queue.Enqueue(good);
    queue.EnqueueStrip({"first", StripRequest{{{good, 0}}}});
    queue.EnqueueStrip({"second", StripRequest{{{good, 0}}}});
    EXPECT_EQ(queue.PendingCount(), 1u);
    ThumbnailQueue::Request next;
    ASSERT_TRUE(queue.TakeNext(next));
    ASSERT_TRUE(next.strip);
    EXPECT_EQ(next.strip->key, "second");
    ThumbnailQueue::StripResult dropped;
    ASSERT_TRUE(queue.TakeStripResult(dropped));
    EXPECT_EQ(dropped.key, "first");
    EXPECT_EQ(dropped.kind, ThumbnailQueue::StripResult::Kind::Dropped);

    GrabPoolOptions options;
    options.workerCommand = {GRAB_WORKER, "--crash-on", "CRASH"};
    options.slots = 1;
    options.failureFolder = dir / "failed";
    options.stripFolder = dir / "strips";
    CThumbnailGenerator generator(options);
    auto strip = [&](const std::string& clip, const std::string& continuation = "") {
        const std::string key = StripKeyOf({clip});
        StripRequest request{{{clip, 0}}};
        if (!continuation.empty())
            request.parts = {{clip, 6.0}, {continuation, 6.0}};
        generator.EnqueueStrip({key, request});
        std::vector<ThumbnailQueue::StripResult> results;
        const auto until = std::chrono::steady_clock::now() + 60s;
        while (std::chrono::steady_clock::now() < until &&
               (results.empty() || results.back().kind == ThumbnailQueue::StripResult::Kind::Frame)) {
            ThumbnailQueue::StripResult result;
            if (generator.TakeStripResult(result)) {
                EXPECT_EQ(result.key, key);
                results.push_back(std::move(result));
            } else {
                std::this_thread::sleep_for(10ms);
            }
        }
        return results;
    };
    const auto crashed = strip(bad);
    ASSERT_FALSE(crashed.empty());
    EXPECT_EQ(crashed.back().kind, ThumbnailQueue::StripResult::Kind::Failed);
    EXPECT_NE(crashed.back().why.find("SIGFPE"), std::string::npos) << crashed.back().why;
    // Nothing is held against the clip's thumbnail, and no strip is kept.
    EXPECT_FALSE(CGrabFailureRecord(dir / "failed").HasFailed(bad));
    EXPECT_FALSE(CStripFiles(dir / "strips").Load(StripKeyOf({bad})));

    // A fresh worker makes the next strip, frame by frame, and keeps it on disk.
    const auto made = strip(good);
    ASSERT_EQ(made.size(), 17u);
    EXPECT_EQ(made.back().kind, ThumbnailQueue::StripResult::Kind::Finished);
    const std::shared_ptr<Strip> kept = CStripFiles(dir / "strips").Load(StripKeyOf({good}));
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->Made(), 16);
    // A strip with frames left out (its second file is no video) is shown but not kept.
    WriteFile(dir / "card/00002.MTS", "not a clip");
    std::remove(CStripFiles(dir / "strips").PathOf(StripKeyOf({good})).c_str());
    const auto partial = strip(good, dir / "card/00002.MTS");
    ASSERT_EQ(partial.size(), 9u);
    EXPECT_EQ(partial.back().kind, ThumbnailQueue::StripResult::Kind::Finished);
    EXPECT_FALSE(CStripFiles(dir / "strips").Load(StripKeyOf({good})));
    for (const auto& result : made) {
        if (result.kind == ThumbnailQueue::StripResult::Kind::Frame) {
            EXPECT_EQ(kept->frames.at(static_cast<std::size_t>(result.frame.index))->picture.bytes,
                      result.frame.picture.bytes);
        }
    }
}

TEST(StripCacheTest, MemoryIsBoundedAndFilesAreOnlyTakenForTheirOwnClip)
{
    auto stripOf = [](int frames, std::size_t bytes) {
        auto strip = std::make_shared<Strip>(frames);
        StripFrame frame;
        frame.picture.bytes.assign(bytes, 0x5a);
        strip->Put(frame);
        return strip;
    };
    const std::size_t perStrip = stripOf(4, 1000)->Bytes();
    CStripCache cache(3, 10 * perStrip);
    for (const char* key : {"a", "b", "c"})
        cache.Keep(key, stripOf(4, 1000));
    EXPECT_TRUE(cache.Find("a"));  // used: "b" is now the oldest
    cache.Keep("d", stripOf(4, 1000));
    EXPECT_EQ(cache.Size(), 3u);
    EXPECT_FALSE(cache.Find("b"));
    EXPECT_TRUE(cache.Find("a") && cache.Find("c") && cache.Find("d"));
    // Frames that arrive count: a strip that grows past the bytes pushes the oldest out, and the
    // strip used last always stays, however large.
    std::shared_ptr<Strip> growing = cache.Find("d");
    StripFrame big;
    big.index = 1;
    big.picture.bytes.assign(20 * perStrip, 0x33);
    growing->Put(big);
    cache.Grew("d");
    EXPECT_EQ(cache.Size(), 1u);
    EXPECT_TRUE(cache.Find("d"));
    EXPECT_EQ(cache.Bytes(), growing->Bytes());

    // Files: a strip comes back as it was kept, for its own clip as it is now.
    TempDir dir;
    const std::string clip = dir / "00000.MTS";
    WriteFile(clip, "clip bytes");
    const CStripFiles files(dir / "strips");
    const std::string key = StripKeyOf({clip});
    ASSERT_TRUE(files.Save(key, *growing));
    const std::shared_ptr<Strip> loaded = files.Load(key);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->Count(), 4);
    EXPECT_EQ(loaded->Made(), 2);
    EXPECT_EQ(loaded->frames[1]->picture.bytes, big.picture.bytes);
    struct stat info {};
    ASSERT_EQ(stat((dir / "strips").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    // The clip changed (a new size): its old strip is not taken, nor a damaged or another's file.
    WriteFile(clip, "other clip bytes");
    EXPECT_NE(StripKeyOf({clip}), key);
    EXPECT_FALSE(files.Load(StripKeyOf({clip})));
    const std::string bytes = ReadFile(files.PathOf(key));
    for (const std::string& damaged : {bytes.substr(0, bytes.size() / 2), bytes.substr(0, bytes.size() - 4) + "xyz\n"}) {
        WriteFile(files.PathOf(key), damaged);
        EXPECT_FALSE(files.Load(key));
    }
    EXPECT_FALSE(CStripFiles::Decode({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, key + "x"));
    // A link planted at the file's name is neither read nor written through.
    WriteFile(dir / "victim", "kept as it is");
    std::remove(files.PathOf(key).c_str());
    ASSERT_EQ(symlink((dir / "victim").c_str(), files.PathOf(key).c_str()), 0);
    EXPECT_FALSE(files.Load(key));
    ASSERT_TRUE(files.Save(key, *growing));
    EXPECT_EQ(ReadFile(dir / "victim"), "kept as it is");
    EXPECT_TRUE(files.Load(key));
}
