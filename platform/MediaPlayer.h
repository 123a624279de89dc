#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// One decoded picture of a playing recording: 32-bit rows top row first, each pixel blue, green,
// red and one unused byte (the layout of a 32-bit RGB drawing surface). Held pictures stay valid
// however the player goes on.
class VideoFrame {
public:
    virtual ~VideoFrame() = default;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual int Stride() const = 0;
    virtual const std::uint8_t* Pixels() const = 0;
    // 1, 2, 3 ... in the order the pictures came.
    std::uint64_t number = 0;
};

// Plays a recording, picture and sound, through a GStreamer pipeline of its own: the files are
// read one after the other as one stream (the files of a recording the camera split are one
// transport stream cut at packet boundaries), on a reader thread of the player's, and decoded by
// whatever the installed plugins offer. Pictures are scaled to the size asked for, letterboxed
// to keep their proportions, and kept as the latest frame for the owner to draw; sound goes to
// the desktop's sound server, or nowhere when none can be opened (the picture plays anyway).
// Nothing of it ever blocks the owner's thread for long: a file that cannot be played ends in
// Failed with the reason. Destroying the player stops every stream and closes every file it
// opened.
class MediaPlayer {
public:
    enum class State { Opening, Playing, Paused, Ended, Failed };

    // Called on any thread, without a lock held, whenever a picture arrived or the state may
    // have changed: the owner then calls Update on its own thread. It must not block.
    using Listener = std::function<void()>;

    // How long the player waits for the first picture before it gives up.
    static constexpr std::chrono::milliseconds kFirstFrameLimit{15000};

    // Starts playing the files in order, from their start, with pictures of width x height.
    // Never null: a player that cannot start is Failed with the reason.
    static std::unique_ptr<MediaPlayer> Play(const std::vector<std::string>& files, int width, int height,
                                             Listener listener);
    ~MediaPlayer();
    MediaPlayer(const MediaPlayer&) = delete;
    MediaPlayer& operator=(const MediaPlayer&) = delete;

    // Takes what the pipeline said since the last call (its state, the end, an error) and gives
    // the state now. Owner's thread only, as are the calls below; called when the listener asked
    // and, while no picture came yet, about once a second (the first picture's time limit).
    State Update();
    State GetState() const;
    // Why the recording cannot be played ("" unless Failed).
    std::string FailureReason() const;
    // Why there is no sound ("" when the sound plays, or there is none to play).
    std::string SoundProblem() const;
    void Pause();
    void Resume();
    // Pictures from now on come at this size.
    void SetFrameSize(int width, int height);
    // The newest picture, or null before the first.
    std::shared_ptr<const VideoFrame> LatestFrame() const;

private:
    MediaPlayer();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
