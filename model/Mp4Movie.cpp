#include "model/Mp4Movie.h"

#include "platform/FileSystem.h"
#include "platform/Format.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::int64_t kSecondsFrom1904To1970 = 2082844800;
constexpr std::int64_t kSecondsFrom1970To2100 = 4102444800;

std::uint32_t Big32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

std::uint64_t Big64(const std::uint8_t* p)
{
    return static_cast<std::uint64_t>(Big32(p)) << 32 | Big32(p + 4);
}

struct Box {
    char type[5] = {};
    std::uint64_t payload = 0;  // where its contents start
    std::uint64_t end = 0;      // one past its last byte
};

enum class Step { Box, End, Damaged };

// The box at `offset`, which must end by `limit` (its parent's end, or the file's).
Step ReadBox(const Mp4ReadAt& read, std::uint64_t offset, std::uint64_t limit, Box& box, std::string& problem,
             bool& failed)
{
    if (limit - offset < 8)
        return Step::End;  // a few bytes of padding at most
    std::uint8_t header[16] = {};
    const std::size_t got = read(offset, header, static_cast<std::size_t>(std::min<std::uint64_t>(16, limit - offset)), failed);
    if (failed || got < 8) {
        problem = failed ? "read error" : "the file ended while it was read";
        return Step::Damaged;
    }
    for (int i = 0; i < 4; ++i)
        box.type[i] = header[4 + i] >= 0x20 && header[4 + i] < 0x7f ? static_cast<char>(header[4 + i]) : '?';
    std::uint64_t size = Big32(header), headerBytes = 8;
    if (size == 1) {
        if (got < 16) {
            problem = platform::FormatString("box '%s' at byte %llu has no room for its size", box.type,
                                             static_cast<unsigned long long>(offset));
            return Step::Damaged;
        }
        size = Big64(header + 8);
        headerBytes = 16;
    } else if (size == 0) {
        size = limit - offset;  // it runs to the end
    }
    if (size < headerBytes || size > limit - offset) {
        problem = platform::FormatString("box '%s' at byte %llu claims %llu bytes, %s", box.type,
                                         static_cast<unsigned long long>(offset), static_cast<unsigned long long>(size),
                                         size < headerBytes ? "less than its header" : "more than there are");
        return Step::Damaged;
    }
    box.payload = offset + headerBytes;
    box.end = offset + size;
    return Step::Box;
}

// Walks the boxes of [begin, limit) until one of the wanted type; false when there is none.
bool FindBox(const Mp4ReadAt& read, std::uint64_t begin, std::uint64_t limit, const char* type, Box& found,
             std::string& problem, bool& failed)
{
    std::uint64_t offset = begin;
    for (int count = 0; count < kMaxMp4Boxes; ++count) {
        switch (ReadBox(read, offset, limit, found, problem, failed)) {
        case Step::Damaged:
            return false;
        case Step::End:
            problem = platform::FormatString("no '%s' box", type);
            return false;
        case Step::Box:
            break;
        }
        if (std::memcmp(found.type, type, 4) == 0)
            return true;
        offset = found.end;
    }
    problem = platform::FormatString("no '%s' box among the first %d", type, kMaxMp4Boxes);
    return false;
}

std::optional<Mp4MovieHeader> ParseMovieHeader(const std::uint8_t* bytes, std::size_t size, std::string& problem)
{
    const int version = size > 0 ? bytes[0] : -1;
    const std::size_t needed = version == 1 ? 32 : 20;
    if ((version != 0 && version != 1) || size < needed) {
        problem = version == 0 || version == 1 ? "the movie header is cut short"
                                               : platform::FormatString("movie header version %d", version);
        return std::nullopt;
    }
    const std::uint64_t created = version == 1 ? Big64(bytes + 4) : Big32(bytes + 4);
    const std::uint32_t timescale = Big32(bytes + (version == 1 ? 20 : 12));
    const std::uint64_t duration = version == 1 ? Big64(bytes + 24) : Big32(bytes + 16);
    const std::uint64_t unknown = version == 1 ? ~std::uint64_t{0} : 0xffffffffu;

    Mp4MovieHeader header;
    if (created > static_cast<std::uint64_t>(kSecondsFrom1904To1970) &&
        created - kSecondsFrom1904To1970 < static_cast<std::uint64_t>(kSecondsFrom1970To2100))
        header.createdUnixSeconds = static_cast<std::int64_t>(created) - kSecondsFrom1904To1970;
    if (timescale > 0 && duration > 0 && duration != unknown)
        header.durationSeconds = static_cast<double>(duration) / timescale;
    return header;
}

}  // namespace

std::optional<Mp4MovieHeader> ReadMp4MovieHeader(const Mp4ReadAt& read, std::uint64_t fileSize, std::string& problem,
                                                 bool& failed)
{
    Box movie, header;
    if (!FindBox(read, 0, fileSize, "moov", movie, problem, failed) ||
        !FindBox(read, movie.payload, movie.end, "mvhd", header, problem, failed))
        return std::nullopt;
    std::uint8_t bytes[32] = {};
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof bytes, header.end - header.payload));
    if (wanted == 0) {
        problem = "the movie header is empty";
        return std::nullopt;
    }
    const std::size_t got = read(header.payload, bytes, wanted, failed);
    if (failed || got < wanted) {
        problem = failed ? "read error" : "the file ended while it was read";
        return std::nullopt;
    }
    return ParseMovieHeader(bytes, got, problem);
}

std::optional<Mp4MovieHeader> ReadMp4MovieHeader(int fd, std::uint64_t fileSize, std::string& problem, bool& failed)
{
    return ReadMp4MovieHeader(
        [fd](std::uint64_t offset, std::uint8_t* into, std::size_t size, bool& readFailed) {
            return platform::ReadAt(fd, into, size, offset, readFailed);
        },
        fileSize, problem, failed);
}
