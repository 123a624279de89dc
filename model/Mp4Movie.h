#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// What the movie header of an MP4 or QuickTime file says: the 'mvhd' box inside the file's
// 'moov' box, found by walking the boxes from the start of the file (the 'moov' of a camera's
// clip usually follows its 'mdat', which is stepped over, never read). Every size in the file is
// checked against the bytes that hold it and against the file's end; no more than
// kMaxMp4Boxes boxes are looked at on either level, so a file of endless tiny boxes costs little.
struct Mp4MovieHeader {
    // When the movie was made: seconds since 1970 in UTC. Nothing where the file leaves it 0
    // (many cameras do) or gives a time outside 1970..2099.
    std::optional<std::int64_t> createdUnixSeconds;
    // Its length: duration / timescale; nothing where it is 0 or unknown (all ones).
    std::optional<double> durationSeconds;
};

inline constexpr int kMaxMp4Boxes = 4096;

// Reads up to `size` bytes at `offset` into `into`; fewer only at the end of the file, or on an
// error, which sets `failed`.
using Mp4ReadAt = std::function<std::size_t(std::uint64_t offset, std::uint8_t* into, std::size_t size, bool& failed)>;

// The movie header of a file of `fileSize` bytes; nothing, with the reason in `problem`, when the
// boxes hold none or lie about their sizes, or a read failed (`failed` is then set).
std::optional<Mp4MovieHeader> ReadMp4MovieHeader(const Mp4ReadAt& read, std::uint64_t fileSize, std::string& problem,
                                                 bool& failed);
// The same for an open file.
std::optional<Mp4MovieHeader> ReadMp4MovieHeader(int fd, std::uint64_t fileSize, std::string& problem, bool& failed);
