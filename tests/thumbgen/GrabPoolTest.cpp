// The grab pool with real grab worker processes and real clips: crashes, hangs and stops cost
// one clip at most, never the program, and leave no process or partial file behind.
#include "platform/FileSystem.h"
#include "settings/Settings.h"
#include "support/Clips.h"
#include "support/FailingFs.h"
#include "support/LogCapture.h"
#include "support/Processes.h"
#include "support/TempDir.h"
#include "thumbgen/GrabFailureRecord.h"
#include "thumbgen/SharedThumbnails.h"
#include "thumbgen/ThumbnailGenerator.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <thread>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

class GrabPoolTest : public ::testing::Test {
protected:
    // Under a sanitizer a worker would catch its own SIGFPE and SIGSEGV and exit instead of dying
    // on the signal as the test means it to. Under ThreadSanitizer the media framework's own
    // threads, which are not instrumented, are not this program's to report.
    GrabPoolTest()
        : config_("XDG_CONFIG_HOME", dir_ / "config"), tmp_("TMPDIR", dir_ / "tmp"), cache_("XDG_CACHE_HOME", dir_ / "cache"),
          addressSanitizer_("ASAN_OPTIONS", "handle_segv=0:handle_sigfpe=0:handle_sigbus=0:handle_abort=0"),
          threadSanitizer_("TSAN_OPTIONS", "report_bugs=0:handle_segv=0:handle_sigfpe=0:handle_sigbus=0")
    {
        MakeDirs(dir_ / "tmp");
        MakeDirs(dir_ / "card");
        settings::WriteThumbnails.Write(false);
        TakeLogMessages();
    }

    std::string CopyClip(const std::string& name)
    {
        const std::string to = dir_ / ("card/" + name);
        EXPECT_EQ(Shell("cp " + ShellQuote(TestClips().interlaced1080) + " " + ShellQuote(to)), 0);
        return to;
    }

    GrabPoolOptions Options(std::vector<std::string> workerOptions = {}, int slots = 2)
    {
        GrabPoolOptions options;
        options.workerCommand = {GRAB_WORKER};
        options.workerCommand.insert(options.workerCommand.end(), workerOptions.begin(), workerOptions.end());
        options.slots = slots;
        options.failureFolder = dir_ / "failed";
        return options;
    }

    // Collects results until every wanted clip has a picture (and every clip in `failures` a
    // reason) or `limit` passes; the clips that got a picture. A worker's are JPEG bytes; one made
    // in this process is the grabbed frame. The reasons clips got none go to `failures`.
    static std::set<std::string> Collect(CThumbnailGenerator& generator, std::set<std::string> wanted,
                                         std::chrono::milliseconds limit = 30s, bool inProcess = false,
                                         std::map<std::string, std::string>* failures = nullptr)
    {
        std::set<std::string> got;
        auto unanswered = [&] {
            return got != wanted ||
                   (failures && std::any_of(failures->begin(), failures->end(), [](auto& f) { return f.second.empty(); }));
        };
        const auto end = std::chrono::steady_clock::now() + limit;
        while (unanswered() && std::chrono::steady_clock::now() < end) {
            std::string path;
            ThumbnailResult result;
            if (!generator.TakeResult(path, result)) {
                std::this_thread::sleep_for(10ms);
            } else if (!result.failure.empty()) {
                EXPECT_FALSE(result.bitmap || result.image || !result.jpeg.Empty()) << path;
                if (failures)
                    (*failures)[path] = result.failure;
            } else {
                EXPECT_EQ(result.bitmap != nullptr, inProcess) << path;
                EXPECT_TRUE(inProcess || result.jpeg.Decode()) << path;
                got.insert(path);
            }
        }
        return got;
    }

    static std::vector<int> WaitForWorkers(const CThumbnailGenerator& generator, std::size_t count,
                                           bool onAClipOnly = false)
    {
        for (int i = 0; i < 2000 && generator.WorkerPids(onAClipOnly).size() < count; ++i)
            std::this_thread::sleep_for(10ms);
        return generator.WorkerPids(onAClipOnly);
    }

    // The worker's memory held in huge pages, in KB. Where the system gives none, or a
    // sanitizer's allocator replaces the C library's in the worker, there is nothing to see: it
    // answers the least a test asks for, a full HD picture's worth.
    static constexpr long kPictureInHugePages = 4096;
    static long HugePageKilobytes(int pid)
    {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        (void)pid;
        return kPictureInHugePages;
#else
        if (ReadFile("/sys/kernel/mm/transparent_hugepage/enabled").find("[never]") != std::string::npos)
            return kPictureInHugePages;
        const std::string memory = ReadFile("/proc/" + std::to_string(pid) + "/smaps_rollup");
        const std::size_t at = memory.find("AnonHugePages:");
        return at == std::string::npos ? -1 : std::stol(memory.substr(at + 14));
#endif
    }

    // Waits until some log line contains the text; every line read is kept in `log`.
    static bool WaitForLog(std::vector<std::string>& log, const std::string& text, std::chrono::milliseconds limit = 20s)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        for (;;) {
            for (std::string& line : TakeLogMessages())
                log.push_back(std::move(line));
            if (Contains(log, text))
                return true;
            if (std::chrono::steady_clock::now() >= end)
                return false;
            std::this_thread::sleep_for(10ms);
        }
    }

    int FailureRecords() const
    {
        int count = 0;
        if (DIR* folder = opendir((dir_ / "failed").c_str())) {
            while (const dirent* entry = readdir(folder))
                count += std::string(entry->d_name).find(".failed") != std::string::npos;
            closedir(folder);
        }
        return count;
    }

    TempDir dir_;
    ScopedEnv config_;
    ScopedEnv tmp_;
    ScopedEnv cache_;  // the desktop's thumbnail cache, which grabs fill
    ScopedEnv addressSanitizer_;
    ScopedEnv threadSanitizer_;
};

}  // namespace

TEST_F(GrabPoolTest, ACrashingClipIsLoggedOnceRecordedAndNotTriedAgainUntilItChanges)
{
    const std::string good = CopyClip("00001.MTS");
    const std::string bad = CopyClip("00002 CRASH.MTS");
    {
        CThumbnailGenerator generator(Options({"--crash-on", "CRASH"}));
        generator.Enqueue(bad);
        generator.Enqueue(good);
        std::map<std::string, std::string> failures{{bad, ""}};
        EXPECT_EQ(Collect(generator, {good}, 30s, false, &failures), std::set<std::string>{good});
        std::vector<std::string> log;
        EXPECT_TRUE(WaitForLog(log, "Grab worker ended on signal 8 (SIGFPE) while making the thumbnail of [" + bad +
                                        "]; a new worker takes over"));
        // The good clip's grab kept every line of its own.
        EXPECT_TRUE(Contains(log, "Generating thumbnail for [" + good + "]"));
        EXPECT_TRUE(Contains(log, "Releasing graph builder"));
        // The clip's result says why it has no picture, as the log does.
        EXPECT_EQ(failures[bad], "the grab worker ended on signal 8 (SIGFPE)");
    }
    EXPECT_EQ(FailureRecords(), 1);
    TakeLogMessages();

    // The next start: the bad clip is not sent to a worker again.
    {
        CThumbnailGenerator generator(Options({"--crash-on", "CRASH"}));
        generator.Enqueue(bad);
        generator.Enqueue(good);
        std::map<std::string, std::string> failures{{bad, ""}};
        EXPECT_EQ(Collect(generator, {good}, 30s, false, &failures), std::set<std::string>{good});
        EXPECT_EQ(failures[bad], "held back after a failure until the clip changes");
        generator.Stop();
        const auto log = TakeLogMessages();
        EXPECT_FALSE(Contains(log, "SIGFPE"));
        EXPECT_FALSE(Contains(log, "Generating thumbnail for [" + bad + "]"));
    }

    // Once the clip changes it is tried again; a clean grab forgets the record.
    struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, bad.c_str(), times, 0), 0);
    {
        CThumbnailGenerator generator(Options());
        generator.Enqueue(bad);
        EXPECT_EQ(Collect(generator, {bad}), std::set<std::string>{bad});
    }
    EXPECT_EQ(FailureRecords(), 0);
}

TEST_F(GrabPoolTest, AWorkerKilledMidGrabOrHangingIsReplacedAndOnlyTheClipsOwnFailuresAreHeldAgainstIt)
{
    GrabPoolOptions options = Options({"--hang-on", "HANG"}, 1);
    options.grabLimit = 5s;  // long enough for a good clip in an instrumented build
    CThumbnailGenerator generator(options);
    const std::string warm = CopyClip("00000.MTS");
    const std::string killed = CopyClip("00001 HANG.MTS");
    const std::string hung = CopyClip("00002 HANG.MTS");
    const std::string good = CopyClip("00003.MTS");

    generator.Enqueue(warm);  // the worker is ready once it made one
    EXPECT_EQ(Collect(generator, {warm}), std::set<std::string>{warm});
    // The worker, once it has taken the clip; 0 when there is none.
    auto workerWith = [&](const std::string& clip) {
        generator.Enqueue(clip);
        const std::vector<int> pids = WaitForWorkers(generator, 1, true);
        EXPECT_EQ(pids.size(), 1u);
        return pids.empty() ? 0 : pids[0];
    };
    const int first = workerWith(killed);
    ASSERT_EQ(kill(first, SIGSEGV), 0);
    std::vector<std::string> log;
    EXPECT_TRUE(WaitForLog(log, "Grab worker ended on signal 11 (SIGSEGV) while making the thumbnail of [" + killed +
                                    "]; a new worker takes over"));
    generator.Enqueue(hung);
    generator.Enqueue(good);
    EXPECT_EQ(Collect(generator, {good}), std::set<std::string>{good});
    EXPECT_TRUE(WaitForLog(log, "Grab worker took more than 5 seconds and was killed while making the thumbnail of [" +
                                    hung + "]"));
    EXPECT_FALSE(ProcessRunning(first));
    // The program ending on a signal stops the thumbnail work, then kills its children.
    const int last = workerWith(CopyClip("00005 HANG.MTS"));
    generator.RequestStop();
    ASSERT_EQ(kill(last, SIGKILL), 0);
    generator.Stop();
    EXPECT_EQ(FailureRecords(), 2);
    // The worker's picture reached the desktop's cache, written when the CPU had room.
    for (int i = 0; i < 2000 && !FindSharedThumbnail(good, 384, 216); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(FindSharedThumbnail(good, 384, 216));
}

TEST_F(GrabPoolTest, StopKillsEveryWorkerAndFFmpegAtOnceLeavingNoProcessOrPartialFile)
{
    settings::WriteThumbnails.Write(true);
    const std::string a = CopyClip("00001 HANG.MTS");
    const std::string b = CopyClip("00002 HANG.MTS");
    std::vector<int> workers;
    {
        CThumbnailGenerator generator(Options({"--hang-on", "HANG"}));
        generator.Enqueue(a);
        generator.Enqueue(b);
        workers = WaitForWorkers(generator, 2, true);
        ASSERT_EQ(workers.size(), 2u);
        const auto start = std::chrono::steady_clock::now();
        generator.Stop();
        EXPECT_LT(std::chrono::steady_clock::now() - start, CThumbnailGenerator::kStopLimit);
    }
    for (int pid : workers)
        EXPECT_FALSE(ProcessRunning(pid)) << pid;

    // ffmpeg mode: a stand-in that writes its process id and never ends.
    settings::UseFFmpeg.Write(true);
    const std::string pids = dir_ / "pids";
    const std::string standIn = dir_ / "slow-ffmpeg";
    WriteFile(standIn, "#!/bin/sh\necho $$ >> " + ShellQuote(pids) + "\nsleep 60\n");
    chmod(standIn.c_str(), 0755);
    settings::FFmpegExe.Write(standIn);
    {
        CThumbnailGenerator generator(Options());
        generator.Enqueue(a);
        generator.Enqueue(b);
        auto lines = [&] { const std::string text = ReadFile(pids); return std::count(text.begin(), text.end(), '\n'); };
        for (int i = 0; i < 1000 && lines() < 2; ++i)
            std::this_thread::sleep_for(10ms);
        std::this_thread::sleep_for(200ms);
        const auto start = std::chrono::steady_clock::now();
        generator.Stop();
        EXPECT_LT(std::chrono::steady_clock::now() - start, CThumbnailGenerator::kStopLimit);
    }
    std::istringstream started(ReadFile(pids));
    int count = 0;
    for (int pid = 0; started >> pid; ++count)
        EXPECT_FALSE(ProcessRunning(pid)) << pid;
    EXPECT_EQ(count, 2);  // both slots ran ffmpeg at once
    EXPECT_EQ(Shell("! ls " + ShellQuote(dir_ / "card") + " | grep -q part"), 0);
}

TEST_F(GrabPoolTest, AWorkerGoneBeforeTakingItsClipCostsNoClipAndTwoInARowMeanNoWorkers)
{
    const std::string a = CopyClip("00001.MTS");
    const std::string b = CopyClip("00002.MTS");
    const std::string c = CopyClip("00003.MTS");
    // Slow to start (the media framework looking at its plugins after an upgrade): the grab limit
    // starts when the clip is taken.
    GrabPoolOptions slow = Options({}, 1);
    slow.workerCommand = {"/bin/sh", "-c", "sleep 6; exec \"$0\"", GRAB_WORKER};
    slow.grabLimit = 5s;
    {
        CThumbnailGenerator starting(slow);
        const std::string first = CopyClip("00000.MTS");
        starting.Enqueue(first);
        EXPECT_EQ(Collect(starting, {first}), std::set<std::string>{first});
    }
    // Exiting at start (a missing library): one line, and every clip made in this process.
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the media framework, not built for ThreadSanitizer, would grab in this process";
#endif
    TakeLogMessages();
    CThumbnailGenerator generator(Options({"--exit-at-start"}));
    for (const std::string& clip : {a, b, c})
        generator.Enqueue(clip);
    EXPECT_EQ(Collect(generator, {a, b, c}, 30s, true), (std::set<std::string>{a, b, c}));
    generator.Stop();
    const auto log = TakeLogMessages();
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& line) { return line.find("Grab worker") != std::string::npos; }), 1);
    EXPECT_TRUE(Contains(log, std::string("Grab workers cannot start: [") + GRAB_WORKER +
                                  "] exited with status 127 before it took a clip; thumbnails are made in the "
                                  "viewer's own process"));
    EXPECT_EQ(FailureRecords(), 0);
}

TEST_F(GrabPoolTest, ClipsComingOnScreenWhileTheWorkerStartsAreMadeBeforeTheOneItWasFirstGiven)
{
    std::vector<std::string> clips;
    for (const char* name : {"00000.MTS", "00001.MTS", "00002.MTS", "00003.MTS"})
        clips.push_back(CopyClip(name));
    GrabPoolOptions options = Options({}, 1);
    options.workerCommand = {"/bin/sh", "-c", "sleep 1; exec \"$0\"", GRAB_WORKER};
    CThumbnailGenerator generator(options);
    generator.WarmUp();
    for (const std::string& clip : clips)
        generator.Enqueue(clip);
    std::this_thread::sleep_for(300ms);  // the slot has long taken the first clip
    generator.Prioritize({clips[3], clips[2]});
    EXPECT_EQ(Collect(generator, {clips.begin(), clips.end()}), (std::set<std::string>{clips.begin(), clips.end()}));
    std::vector<std::string> order;
    for (const std::string& line : TakeLogMessages())
        for (const std::string& clip : clips)
            if (line == "Generating thumbnail for [" + clip + "]")
                order.push_back(clip);
    EXPECT_EQ(order, (std::vector<std::string>{clips[3], clips[2], clips[0], clips[1]}));
    // A worker the pool started itself made its full HD pictures in huge pages too.
    const std::vector<int> workers = generator.WorkerPids();
    ASSERT_EQ(workers.size(), 1u);
    EXPECT_GE(HugePageKilobytes(workers[0]), kPictureInHugePages);
}

// A card that is slow, and a worker ended from outside, cost a clip nothing. The card is served
// through FUSE, its reads held mid-clip: a worker waiting on it gives up at its own limit to the
// first frame, with its own reason, well before the pool's limit would kill it, and the clip is
// made at the next try. A worker killed from outside while it waits (the out-of-memory killer, a
// user's kill, a logout) has its clip put back and made by a fresh worker.
TEST_F(GrabPoolTest, ASlowCardOrAWorkerEndedFromOutsideCostsTheClipNothing)
{
    if (!CanMount())
        GTEST_SKIP() << "this machine does not let the test mount a FUSE file system";
    CopyClip("00000.MTS");
    settings::ShareThumbnails.Write(false);  // each try grabs the clip again
    FailingFs card(dir_ / "card", dir_ / "mounted");
    ASSERT_TRUE(card.Mounted());
    const std::string slow = dir_ / "mounted/00000.MTS";
    GrabPoolOptions options = Options({"--first-frame-limit", "1000", "--hang-on", "HANG"}, 1);
    options.grabLimit = 6s;
    CThumbnailGenerator generator(options);
    std::vector<std::string> log;
    auto grabHeld = [&] {
        card.HoldAfter(64 * 1024);
        generator.Enqueue(slow);
        return WaitForWorkers(generator, 1, true);
    };

    ASSERT_EQ(grabHeld().size(), 1u);
    std::this_thread::sleep_for(2s);  // past the worker's limit, well before the pool's
    card.Release();
    std::map<std::string, std::string> failures{{slow, ""}};
    EXPECT_TRUE(Collect(generator, {}, 10s, false, &failures).empty());
    EXPECT_EQ(failures[slow], "timed out waiting for the first frame");
    EXPECT_EQ(FailureRecords(), 0);

    for (const int signal : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(signal);
        const std::vector<int> worker = grabHeld();
        ASSERT_EQ(worker.size(), 1u);
        log.clear();
        ASSERT_EQ(kill(worker[0], signal), 0);
        card.Release();  // a process that dies on a card still closes its files through it
        EXPECT_TRUE(WaitForLog(log, "while making the thumbnail of [" + slow +
                                        "]; the clip is not held against and is made again"));
        EXPECT_EQ(Collect(generator, {slow}), std::set<std::string>{slow});
        EXPECT_EQ(FailureRecords(), 0);
    }
    // Ended from outside twice in a row on the same clip (one that hangs its decoder), the clip
    // is as any that ended a worker.
    const std::string hangs = CopyClip("00001 HANG.MTS");
    log.clear();
    generator.Enqueue(hangs);
    ASSERT_EQ(kill(WaitForWorkers(generator, 1, true).at(0), SIGKILL), 0);
    EXPECT_TRUE(WaitForLog(log, "[" + hangs + "]; the clip is not held against and is made again"));
    std::this_thread::sleep_for(1s);  // the fresh worker has started and taken the clip
    const std::vector<int> again = generator.WorkerPids(true);
    ASSERT_EQ(again.size(), 1u);
    ASSERT_EQ(kill(again[0], SIGKILL), 0);
    EXPECT_TRUE(WaitForLog(log, "Grab worker ended on signal 9 (SIGKILL) while making the thumbnail of [" + hangs +
                                    "]; a new worker takes over"));
    EXPECT_EQ(FailureRecords(), 1);
    generator.Stop();
}

TEST_F(GrabPoolTest, WorkersStartedAheadOfThePoolAreTheOnesItMakesThumbnailsWith)
{
    // As the program starts them before its window: the default worker command and slot count.
    const ScopedEnv worker("VIEWMERE_GRAB_WORKER", GRAB_WORKER);
    // Children only: a worker may start the media framework's plugin scanner of its own.
    const std::vector<int> before = ChildProcesses(getpid());
    CGrabPool::StartWorkersAhead();
    const std::vector<int> ahead = ChildProcesses(getpid());
    std::set<int> started(ahead.begin(), ahead.end());
    for (int pid : before)
        started.erase(pid);
    ASSERT_EQ(started.size(), static_cast<std::size_t>(GrabPoolOptions::DefaultSlotCount()));

    GrabPoolOptions options;  // the default worker command and number of slots
    options.failureFolder = dir_ / "failed";
    CThumbnailGenerator generator(options);
    generator.WarmUp();
    const std::vector<int> workers = WaitForWorkers(generator, started.size());
    EXPECT_EQ(std::set<int>(workers.begin(), workers.end()), started);
    std::set<std::string> clips;
    for (int i = 0; i < 4; ++i) {
        clips.insert(CopyClip("0000" + std::to_string(i) + ".MTS"));
        generator.Enqueue(*clips.rbegin());
    }
    EXPECT_EQ(Collect(generator, clips), clips);
    // No worker was started besides them: while the clips on screen are not known, any clip may be
    // one, and the slot that reads while the others decode takes none.
    const std::vector<int> now = ChildProcesses(getpid());
    EXPECT_EQ(std::set<int>(now.begin(), now.end()), std::set<int>(ahead.begin(), ahead.end()));
    // Their full HD pictures went into huge pages, where the system has them: not thousands of
    // small pages, each faulted in on its own (a worker holds one or two of them otherwise). One
    // of them may have been given no clip.
    long mostInHugePages = 0;
    for (const int pid : workers)
        mostInHugePages = std::max(mostInHugePages, HugePageKilobytes(pid));
    EXPECT_GE(mostInHugePages, kPictureInHugePages);

    // Clips off the screen go to that slot too, whose worker starts with its first clip. They
    // are queued together: copied one by one between, each could be made before the next came.
    generator.Prioritize({*clips.begin()});
    std::set<std::string> offScreen;
    for (int i = 0; i < GrabPoolOptions::DefaultSlotCount() + 2; ++i)
        offScreen.insert(CopyClip("1000" + std::to_string(i) + ".MTS"));
    for (const std::string& clip : offScreen)
        generator.Enqueue(clip);
    EXPECT_EQ(Collect(generator, offScreen), offScreen);
    const std::vector<int> after = ChildProcesses(getpid());
    std::set<int> more(after.begin(), after.end());
    for (const int pid : ahead)
        EXPECT_EQ(more.erase(pid), 1u) << pid;
    EXPECT_EQ(more.size(), 1u);
}
