// The quick look's player on real clips: a recording of several files, played through the media
// framework on its own threads; clips that cannot be played, and a card that fails or hangs.
#include "platform/MediaPlayer.h"

#include "support/CardPlaylists.h"
#include "support/Clips.h"
#include "support/FailingFs.h"
#include "support/Processes.h"
#include "support/TempDir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

using namespace testing_support;
using namespace std::chrono_literals;
using platform::MediaPlayer;
using State = MediaPlayer::State;

namespace {

// A player and what its listener said, waited for as its owner waits for a wake-up.
struct Watched {
    std::mutex lock;
    std::condition_variable woken;
    int wakes = 0;
    std::unique_ptr<MediaPlayer> player;

    Watched(const std::vector<std::string>& files, int width, int height)
    {
        player = MediaPlayer::Play(files, width, height, [this] {
            std::lock_guard<std::mutex> guard(lock);
            ++wakes;
            woken.notify_all();
        });
    }
    // Updates the player whenever it says so (and every 100 ms) until `done` or the time is up.
    bool UpdateUntil(std::chrono::milliseconds limit, const std::function<bool(State)>& done)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (done(player->Update()))
                return true;
            std::unique_lock<std::mutex> guard(lock);
            woken.wait_for(guard, 100ms);
        }
        return done(player->Update());
    }
    std::uint64_t FrameNumber() const
    {
        const auto frame = player->LatestFrame();
        return frame ? frame->number : 0;
    }
};

// The colour of a picture's middle: 'r', 'b', 'g' (lime) or '?'.
char MiddleColour(const platform::VideoFrame& frame)
{
    const std::uint8_t* p = frame.Pixels() + frame.Stride() * (frame.Height() / 2) + 4 * (frame.Width() / 2);
    const int blue = p[0], green = p[1], red = p[2];
    if (red > 200 && green < 60 && blue < 60)
        return 'r';
    if (blue > 200 && red < 60 && green < 60)
        return 'b';
    if (green > 200 && red < 60 && blue < 60)
        return 'g';
    return '?';
}

}  // namespace

TEST(MediaPlayerTest, ARecordingOfSeveralFilesPlaysInOrderPausesAndLetsGoOfEveryFile)
{
    const TempDir dir;
    const SplitRecording recording = MakeSplitRecording(dir.Path(), 0, {"red", "blue", "lime"});
    Watched watched(recording.files, 160, 90);
    std::string colours;
    auto note = [&](State) {
        if (const auto frame = watched.player->LatestFrame()) {
            EXPECT_TRUE((frame->Width() == 160 && frame->Height() == 90) || (frame->Width() == 320 && frame->Height() == 180));
            const char colour = MiddleColour(*frame);
            if (colour != '?' && (colours.empty() || colours.back() != colour))
                colours += colour;
        }
        return colours.find('b') != std::string::npos;
    };
    ASSERT_TRUE(watched.UpdateUntil(10s, note)) << watched.player->FailureReason() << ", colours seen: " << colours;
    EXPECT_GT(watched.wakes, 0);

    // Paused, no picture comes; resumed, they come again, at the size asked for since.
    watched.player->Pause();
    watched.UpdateUntil(300ms, [](State) { return false; });
    const std::uint64_t paused = watched.FrameNumber();
    watched.UpdateUntil(700ms, [](State) { return false; });
    EXPECT_EQ(watched.FrameNumber(), paused);
    EXPECT_EQ(watched.player->GetState(), State::Paused);
    watched.player->SetFrameSize(320, 180);
    watched.player->Resume();
    EXPECT_TRUE(watched.UpdateUntil(3s, [&](State) { return watched.FrameNumber() > paused + 5; }));
    EXPECT_TRUE(watched.UpdateUntil(3s, [&](State) { return watched.player->LatestFrame()->Width() == 320; }));

    // Every file, in order, to the end.
    EXPECT_TRUE(watched.UpdateUntil(10s, [&](State state) { return note(state) && state == State::Ended; }));
    EXPECT_EQ(colours, "rbg");
    EXPECT_EQ(watched.player->FailureReason(), "");
    watched.player.reset();
    EXPECT_EQ(OpenFilesBelow({getpid()}, dir.Path()), std::vector<std::string>{});
}

TEST(MediaPlayerTest, WhatCannotBePlayedEndsWithItsReasonAndAFailingCardNeitherHoldsNorHangsIt)
{
    const TempDir dir;
    const std::string fifo = dir / "00009.MTS";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, std::string> cases[] = {
        {TestClips().text, ""}, {TestClips().empty, ""}, {dir / "gone.MTS", "gone.MTS does not exist"},
        {fifo, "00009.MTS is not a regular file"}};
    for (const auto& [file, reason] : cases) {
        Watched watched({file}, 160, 90);
        EXPECT_TRUE(watched.UpdateUntil(10s, [](State state) { return state == State::Failed; })) << file;
        EXPECT_FALSE(watched.player->FailureReason().empty()) << file;
        if (!reason.empty()) {
            EXPECT_EQ(watched.player->FailureReason(), reason);
        }
    }

    if (!CanMount())
        GTEST_SKIP() << "mounting FUSE needs root and /dev/fuse";
    MakeDirs(dir / "card");
    ASSERT_EQ(Shell("cp " + ShellQuote(TestClips().interlaced1080) + " " + ShellQuote(dir / "card/00000.MTS")), 0);
    FailingFs card(dir / "card", dir / "mnt");
    ASSERT_TRUE(card.Mounted());
    {
        // Pulled while it plays: the reader's error, and nothing left open.
        card.PullAfter(300 * 1024);
        Watched watched({dir / "mnt/00000.MTS"}, 160, 90);
        EXPECT_TRUE(watched.UpdateUntil(10s, [](State state) { return state == State::Failed; }));
        EXPECT_EQ(watched.player->FailureReason(), "cannot read 00000.MTS: Input/output error");
        EXPECT_EQ(OpenFilesBelow({getpid()}, dir / "mnt"), std::vector<std::string>{});
        card.PutBack();
    }
    // A card whose read never returns: closing the player does not wait for it (it would wait
    // until the read is released below; the bound leaves room for a slow, instrumented build).
    card.HoldAfter(300 * 1024);
    auto watched = std::make_unique<Watched>(std::vector<std::string>{dir / "mnt/00000.MTS"}, 160, 90);
    watched->UpdateUntil(5s, [&](State) { return card.Holding(); });
    ASSERT_TRUE(card.Holding());
    const auto start = std::chrono::steady_clock::now();
    watched.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    card.Release();  // the reader left behind ends, and closes the file
    for (int i = 0; i < 100 && !OpenFilesBelow({getpid()}, dir / "mnt").empty(); ++i)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(OpenFilesBelow({getpid()}, dir / "mnt"), std::vector<std::string>{});
}
