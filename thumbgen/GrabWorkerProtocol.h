#pragma once
#include "thumbgen/StripMaker.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What the viewer and a grab worker process say to each other over two pipes. The viewer sends
// requests, each a kind byte, a 4-byte little-endian length and that many bytes: a clip's
// thumbnail (the clip path's bytes; a path may hold any byte but NUL, newlines included), or a
// recording's strip (see EncodeStripRequest). The worker answers with records of the same form.
// Once set up it says it is ready; for each request it acknowledges it as soon as it has read it,
// then sends the grab's log lines in order, the picture as JPEG bytes when there is one (for a
// strip, each frame as soon as it is made), and an end record (holding, when there is no picture,
// why: "missing decoder for video/x-h265"). A worker that is gone before it acknowledged a
// request failed on its own, not on the clip.
namespace grab_protocol {

enum class RecordKind : char { Ready = 'R', Acknowledged = 'A', LogLine = 'L', Picture = 'P', Frame = 'F', End = 'E' };
enum class RequestKind : char { Thumbnail = 'T', Strip = 'S' };

// Largest request and record a side accepts; anything larger means the other side is broken.
inline constexpr std::uint32_t kMaxPathBytes = 64 * 1024;
inline constexpr std::uint32_t kMaxRecordBytes = 16 * 1024 * 1024;
// A strip request of the most files, each with the longest path.
inline constexpr std::uint32_t kMaxRequestBytes = StripRequest::kMaxParts * (kMaxPathBytes + 12) + 10;

struct Request {
    RequestKind kind = RequestKind::Thumbnail;
    std::string clipPath;  // a thumbnail's
    StripRequest strip;
};

// Blocking writes of one whole request or record; false when the pipe is gone (or the request
// is larger than a worker takes).
bool SendRequest(int fd, const std::string& clipPath);
bool SendStripRequest(int fd, const StripRequest& strip);
bool SendRecord(int fd, RecordKind kind, const void* data, std::size_t size);
// Blocking read of one request; false at the end of input or on a malformed request.
bool ReadRequest(int fd, Request& request);

// A strip request's bytes: the frame count, the first frame, the width and height (2 bytes each),
// the number of files (2 bytes), then each file's length in microseconds (8 bytes, 0 when not
// known) and its path (a 4-byte length and its bytes), all little-endian.
std::string EncodeStripRequest(const StripRequest& strip);
// False for bytes that are not a whole strip request within the limits.
bool DecodeStripRequest(const std::string& bytes, StripRequest& strip);
// A frame record's bytes: its index (2 bytes), its time and the recording's length in
// microseconds (8 bytes each), then the frame's JPEG bytes.
std::vector<std::uint8_t> EncodeFrame(const StripFrame& frame);
// False for a record too short to be a frame; the JPEG bytes are checked by whoever takes them.
bool DecodeFrame(const std::vector<std::uint8_t>& payload, StripFrame& frame, std::vector<std::uint8_t>& jpeg);

struct Record {
    RecordKind kind = RecordKind::End;
    std::vector<std::uint8_t> payload;
};

enum class ReadOutcome { Record, Closed, TimedOut, Cancelled, Malformed };

// Reads records from a worker's output without ever blocking past a deadline. Bytes that arrive
// beyond one record are kept for the next call.
class RecordReader {
public:
    explicit RecordReader(int fd) : fd_(fd) {}
    // Waits for the next whole record until `deadline`, asking `cancelled` every few
    // milliseconds.
    ReadOutcome Next(Record& record, std::chrono::steady_clock::time_point deadline,
                     const std::function<bool()>& cancelled);

private:
    bool TakeBuffered(Record& record, bool& malformed);
    int fd_;
    std::vector<std::uint8_t> buffer_;
};

}  // namespace grab_protocol
