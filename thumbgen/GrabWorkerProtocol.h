#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What the viewer and a grab worker process say to each other over two pipes. The viewer sends a
// clip path as a 4-byte little-endian length and the path's bytes (a path may hold any byte but
// NUL, newlines included). The worker answers with records, each a kind byte, a 4-byte
// little-endian length and that many bytes. Once set up it says it is ready; for each clip it
// acknowledges the request as soon as it has read it, then sends the grab's log lines in order,
// the picture as JPEG bytes when there is one, and an end record (holding, when there is no
// picture, why: "missing decoder for video/x-h265"). A worker that is gone before
// it acknowledged a clip failed on its own, not on the clip.
namespace grab_protocol {

enum class RecordKind : char { Ready = 'R', Acknowledged = 'A', LogLine = 'L', Picture = 'P', End = 'E' };

// Largest request and record a side accepts; anything larger means the other side is broken.
inline constexpr std::uint32_t kMaxPathBytes = 64 * 1024;
inline constexpr std::uint32_t kMaxRecordBytes = 16 * 1024 * 1024;

// Blocking writes of one whole request or record; false when the pipe is gone.
bool SendRequest(int fd, const std::string& clipPath);
bool SendRecord(int fd, RecordKind kind, const void* data, std::size_t size);
// Blocking read of one request; false at the end of input or on a malformed request.
bool ReadRequest(int fd, std::string& clipPath);

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
