#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The playlist a camcorder keeps beside its stream files: BDMV/PLAYLIST/00000.MPL on an AVCHD
// card (a disc's .mpls has the same layout). It names the stream files of the recordings in
// order, with the part of each that is presented, and says where one recording goes on in a new
// file: a camera starts a new file whenever a recording reaches the file-size limit of its card,
// so a recording of half an hour is often two or three files.
//
// Layout, big-endian: "MPLS", a four-digit version, then the file offsets of the play list, of
// the marks and of the extension data. The play list is a length, 16 reserved bits, the counts
// of play items and sub-paths, then the play items, each a 16-bit length (of the bytes after it)
// followed by five digits naming the stream file, "M2TS", 16 bits whose low four are the
// connection condition, the STC id, and IN and OUT times in 45 kHz ticks. The marks are a
// length, a count and 14 bytes a mark.
//
// No length, offset or count in the bytes is trusted: anything that does not add up makes the
// whole playlist unusable, never a partial or a wrong reading.

// How a play item joins the one before it.
enum class Connection : std::uint8_t {
    NewRecording = 1,   // starts a recording (1 and 5)
    SeamlessStart = 5,
    ContinuesFile = 6,  // goes on with the previous item's recording, in a new file
};

struct PlayItem {
    std::string clipName;  // the five digits naming the stream file: "00004" is STREAM/00004.MTS
    Connection connection = Connection::NewRecording;
    std::uint32_t inTime = 0;   // 45 kHz ticks
    std::uint32_t outTime = 0;  // never before inTime

    bool ContinuesPrevious() const { return connection == Connection::ContinuesFile; }
    // The presented duration of the item's file.
    double Seconds() const { return static_cast<double>(outTime - inTime) / 45000.0; }
};

struct PlayListMark {
    std::uint8_t type = 0;       // 1: an entry mark, the start of a recording
    std::uint16_t playItem = 0;  // always the index of an item of the playlist
    std::uint32_t timeStamp = 0;
};

struct CardPlaylist {
    std::vector<PlayItem> items;
    std::vector<PlayListMark> marks;
};

// A playlist larger than this is not read: it would name more files than a card holds.
inline constexpr std::size_t kMaxPlaylistBytes = 8 * 1024 * 1024;

// The playlist in `bytes`; nothing when they are not a whole, consistent playlist, with the
// reason in `problem`.
std::optional<CardPlaylist> ParseCardPlaylist(std::span<const std::uint8_t> bytes, std::string& problem);

enum class PlaylistRead { Missing, Damaged, Read };

// Reads 00000.MPL (or 00000.mpls) of a BDMV folder's PLAYLIST folder, names matched without
// regard to case. `file` receives the playlist's path when there is one; `problem` says what is
// wrong with a damaged or unreadable one. Only a regular file is read.
PlaylistRead ReadCardPlaylist(const std::string& playlistFolder, CardPlaylist& playlist, std::string& file,
                              std::string& problem);
