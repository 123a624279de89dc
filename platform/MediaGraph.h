#pragma once
#include "platform/DeviceBitmap.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace platform {

// Opens a video file, stops at its first frame and hands that frame out at its native size:
// the media-framework graph of the frame grab, built on a GStreamer pipeline that decodes only
// the video (audio and other streams are never decoded). A camcorder's transport stream goes
// through a chain of its demuxer, parser and decoder built once and kept when the graph is given
// the next file, fed from the file in pieces sized for a card and no further than its first
// picture's bytes (ClipFeed); anything else through automatic plugging. The decoder's planar
// frame is kept as it is and converted only when it is handed out. Every GStreamer object is
// released on every path; a file without a decodable video stream fails and never hangs.
class MediaGraph {
public:
    // Status of an image query that failed, as a media framework reports an unspecified error.
    static constexpr std::uint32_t kFailed = 0x80004005u;
    // Bytes of the header in front of the rows of GetCurrentImage.
    static constexpr int kImageHeaderSize = 40;

    // A graph, or nothing when the media framework cannot be initialised.
    static std::unique_ptr<MediaGraph> Create();
    // Loads the plugins that a camcorder clip's grab uses (application and file sources, type
    // finding, transport stream demuxer, H.264 parser and decoder, conversion, sinks), so that
    // the first grab does not also pay for loading them. Plugins that are missing are left for
    // the grab to report.
    static void LoadClipPlugins();
    ~MediaGraph();
    MediaGraph(const MediaGraph&) = delete;
    MediaGraph& operator=(const MediaGraph&) = delete;

    // Builds the pipeline for the file, or points the kept one at it; the frame of the file
    // before is let go. False when the pipeline cannot be made.
    bool RenderFile(const std::string& path);
    // Pauses, so that the video sink holds the first frame; waits for it up to `limit`, giving
    // up early when `cancelled` answers true or the file cannot be played (an error, a missing
    // decoder), and at once when RenderFile failed. False when no frame arrived. The pipeline is
    // set to NULL when the graph goes.
    bool Pause(std::chrono::milliseconds limit, const std::function<bool()>& cancelled = {});
    // True once a video stream reached the sink with a frame: the graph has a video renderer.
    bool HasVideo() const;
    // Native size of the held frame.
    int VideoWidth() const;
    int VideoHeight() const;
    // The held frame as a 40-byte header (size, width, positive height, 1 plane, 32 bits) and
    // 32-bit rows bottom row first. With a null buffer `size` receives the bytes needed. Returns
    // 0 on success or kFailed.
    std::uint32_t GetCurrentImage(int& size, std::uint8_t* buffer) const;
    // The held frame scaled to the given size by area averaging, as a bottom-up bitmap, read
    // straight from the decoder's planes (StretchYcbcrHalftone); empty when there is no frame.
    DeviceBitmap StretchCurrentImage(int width, int height) const;
    // Lets go of the file: the pipeline is taken back to READY and kept with its elements for the
    // next file, and the file is closed. The held frame stays. A card whose pictures are taken
    // is then free to be unmounted.
    void ReleaseFile();
    // A coded picture of an H.264 byte stream and its presentation time (90 kHz).
    struct CodedPicture {
        std::span<const std::uint8_t> bytes;
        std::uint64_t pts = 0;
    };
    // Decodes coded pictures, a key picture first (as a transport stream carries them), and holds
    // the first picture that comes out in place of the frame held before, as Pause holds a file's
    // first frame. Runs on a chain of its own, kept between calls; no file is opened. False, with
    // the reason in FailureReason(), when no picture came out within `limit`.
    bool DecodePictures(const std::vector<CodedPicture>& pictures, std::chrono::milliseconds limit,
                        const std::function<bool()>& cancelled = {});
    // Why the last Pause or DecodePictures failed, for the log ("" when it did not).
    std::string FailureReason() const;

private:
    MediaGraph();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
