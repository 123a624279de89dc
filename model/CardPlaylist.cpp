#include "model/CardPlaylist.h"

#include "platform/FileSystem.h"
#include "platform/Format.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::size_t kHeaderBytes = 20;     // signature, version and three offsets
constexpr std::size_t kItemFixedBytes = 20;  // name, codec, flags, STC id, IN and OUT
constexpr std::size_t kMarkBytes = 14;

std::uint16_t Be16(Bytes bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

std::uint32_t Be32(Bytes bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(bytes[at]) << 24 | static_cast<std::uint32_t>(bytes[at + 1]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

bool Equals(Bytes bytes, std::size_t at, const char* text)
{
    return std::memcmp(bytes.data() + at, text, std::strlen(text)) == 0;
}

// The bytes of a section that starts with its own 32-bit length, or nothing when the section
// does not lie wholly inside the file after the header.
std::optional<Bytes> SectionAt(Bytes file, std::uint32_t offset)
{
    if (offset < kHeaderBytes || offset > file.size() || file.size() - offset < 4)
        return std::nullopt;
    const std::uint32_t length = Be32(file, offset);
    if (length > file.size() - offset - 4)
        return std::nullopt;
    return file.subspan(offset + 4, length);
}

bool IsFiveDigits(Bytes bytes, std::size_t at)
{
    for (std::size_t i = at; i < at + 5; ++i)
        if (bytes[i] < '0' || bytes[i] > '9')
            return false;
    return true;
}

std::optional<Connection> ConnectionOf(std::uint16_t flags)
{
    switch (flags & 0x0f) {
    case 1: return Connection::NewRecording;
    case 5: return Connection::SeamlessStart;
    case 6: return Connection::ContinuesFile;
    default: return std::nullopt;
    }
}

// One play item at `at` in the play list; advances `at` past it by the item's own length.
bool ReadItem(Bytes list, std::size_t& at, PlayItem& item, std::string& problem)
{
    if (list.size() - at < 2) {
        problem = "a play item is cut off";
        return false;
    }
    const std::size_t length = Be16(list, at);
    const std::size_t start = at + 2;
    if (length < kItemFixedBytes || length > list.size() - start) {
        problem = "a play item's length does not fit";
        return false;
    }
    if (!IsFiveDigits(list, start) || !Equals(list, start + 5, "M2TS")) {
        problem = "a play item names no stream file";
        return false;
    }
    const std::optional<Connection> connection = ConnectionOf(Be16(list, start + 9));
    if (!connection) {
        problem = "a play item has an unknown connection";
        return false;
    }
    item.clipName.assign(reinterpret_cast<const char*>(list.data() + start), 5);
    item.connection = *connection;
    item.inTime = Be32(list, start + 12);
    item.outTime = Be32(list, start + 16);
    if (item.outTime < item.inTime) {
        problem = "a play item ends before it starts";
        return false;
    }
    at = start + length;  // the stream tables after the times are skipped
    return true;
}

bool ReadItems(Bytes file, CardPlaylist& playlist, std::string& problem)
{
    const std::optional<Bytes> list = SectionAt(file, Be32(file, 8));
    if (!list || list->size() < 6) {
        problem = "its play list lies outside the file";
        return false;
    }
    const std::uint16_t count = Be16(*list, 2);  // after 16 reserved bits; the sub-path count follows
    std::size_t at = 6;
    playlist.items.reserve(count);
    for (std::uint16_t i = 0; i < count; ++i) {
        PlayItem item;
        if (!ReadItem(*list, at, item, problem))
            return false;
        playlist.items.push_back(std::move(item));
    }
    return true;
}

bool ReadMarks(Bytes file, CardPlaylist& playlist, std::string& problem)
{
    const std::optional<Bytes> marks = SectionAt(file, Be32(file, 12));
    if (!marks || marks->size() < 2) {
        problem = "its marks lie outside the file";
        return false;
    }
    const std::size_t count = Be16(*marks, 0);
    if (count > (marks->size() - 2) / kMarkBytes) {
        problem = "it claims more marks than it holds";
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = 2 + i * kMarkBytes;
        PlayListMark mark;
        mark.type = (*marks)[at + 1];
        mark.playItem = Be16(*marks, at + 2);
        mark.timeStamp = Be32(*marks, at + 4);
        if (mark.playItem >= playlist.items.size()) {
            problem = "a mark points past the last play item";
            return false;
        }
        playlist.marks.push_back(mark);
    }
    return true;
}

}  // namespace

std::optional<CardPlaylist> ParseCardPlaylist(Bytes bytes, std::string& problem)
{
    if (bytes.size() < kHeaderBytes || !Equals(bytes, 0, "MPLS")) {
        problem = "it is not a playlist";
        return std::nullopt;
    }
    if (!Equals(bytes, 4, "0100") && !Equals(bytes, 4, "0200") && !Equals(bytes, 4, "0300")) {
        problem = "its version is unknown";
        return std::nullopt;
    }
    CardPlaylist playlist;
    if (!ReadItems(bytes, playlist, problem) || !ReadMarks(bytes, playlist, problem))
        return std::nullopt;
    return playlist;
}

PlaylistRead ReadCardPlaylist(const std::string& playlistFolder, CardPlaylist& playlist, std::string& file,
                              std::string& problem)
{
    std::optional<std::string> found = platform::FindChildIgnoreCase(playlistFolder, "00000.MPL");
    if (!found)
        found = platform::FindChildIgnoreCase(playlistFolder, "00000.mpls");
    if (!found)
        return PlaylistRead::Missing;
    file = *found;
    const platform::FilePtr stream = platform::OpenRegularFile(file);
    struct stat info {};
    if (!stream || fstat(fileno(stream.get()), &info) != 0) {
        problem = platform::FormatString("it cannot be read: %s", std::strerror(errno));
        return PlaylistRead::Damaged;
    }
    if (static_cast<std::uint64_t>(info.st_size) > kMaxPlaylistBytes) {
        problem = "it is larger than any card's playlist";
        return PlaylistRead::Damaged;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
    if (std::fread(bytes.data(), 1, bytes.size(), stream.get()) != bytes.size()) {
        problem = platform::FormatString("it cannot be read in full: %s", std::strerror(errno));
        return PlaylistRead::Damaged;
    }
    std::optional<CardPlaylist> parsed = ParseCardPlaylist(bytes, problem);
    if (!parsed)
        return PlaylistRead::Damaged;
    playlist = std::move(*parsed);
    return PlaylistRead::Read;
}
