#pragma once
#include "platform/CalendarTime.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// The time a camcorder recorded a clip, as its own clock showed it, and the zone it was set to.
// AVCHD camcorders write it into the H.264 stream as "Modified Digital Video Pack Metadata"
// (MDPM): an SEI message of type 5 (user data unregistered) whose payload is a 16-byte UUID,
// the ASCII bytes "MDPM", an entry count and 5-byte entries (a tag and 4 data bytes). Tag 0x18
// holds [zone, year high, year low, month] and tag 0x19 [day, hour, minute, second], in BCD.
// File times on a card lie (FAT keeps no zone; a copy takes the copy's time); this one does not.
struct RecordingTime {
    int year = 0;
    int month = 0;   // 1..12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int zoneMinutes = 0;          // the camera's time zone: its standard offset from UTC, east positive
    bool daylightSaving = false;  // the clock was on summer time, an hour ahead of its zone

    // The clock's offset from UTC when it recorded: the zone, and an hour more on summer time.
    int OffsetMinutes() const { return zoneMinutes + (daylightSaving ? 60 : 0); }

    // The camera's wall clock: what a clip filmed at 23:16 shows.
    platform::CalendarFields WallClock() const;
    bool operator==(const RecordingTime&) const = default;
};

// What the first bytes of a clip tell.
struct RecordingTimeScan {
    std::optional<RecordingTime> time;
    // An MDPM date was met (usable or damaged): more bytes cannot change the answer. False when
    // the bytes held no date, or one cut off by their end.
    bool settled = false;
};

// Reads no more than this from a clip: the date comes with the first picture, and a slow card
// must not be read further for a clip that has none.
inline constexpr std::size_t kRecordingTimeReadLimit = 256 * 1024;

// The first MDPM date in the bytes of a transport stream (188-byte packets, or the 192-byte
// packets of an M2TS file), from its start. Bytes that are no transport stream are read as an
// H.264 byte stream. No length field in the bytes is trusted; bad BCD, an impossible date or
// time, a missing day-and-time entry or a cut-off NAL unit give no time, never a wrong one.
RecordingTimeScan ScanRecordingTime(std::span<const std::uint8_t> bytes);

// The same for an H.264 byte stream (NAL units after 00 00 01 start codes).
RecordingTimeScan ScanVideoStream(std::span<const std::uint8_t> stream);

// Where a clip's recording time was read: the MDPM date in its video stream, the CreationDate of
// the camera's XML description of an MP4 clip, or the MP4's movie header (UTC).
enum class TimeSource { None, Stream, Description, Movie };

// What reading a clip's stream gave.
struct ClipStreamFacts {
    bool read = false;  // false: the file could not be opened or read (an I/O error, a pulled card)
    std::optional<RecordingTime> time;
    std::optional<double> duration;  // seconds, when asked for and found
    TimeSource timeSource = TimeSource::None;  // where `time` came from
    std::string camera;                        // the camera's maker and model, where its files name it
};

// The recording time of a clip file from its first bytes (at most kRecordingTimeReadLimit), and
// with `withDuration` its duration from the time stamps of its first and last pictures (see
// StreamDuration.h), never reading the middle of the file. Only a regular file is opened.
ClipStreamFacts ReadClipStreamFacts(const std::string& clipPath, bool withDuration = false);

// The recording time alone; nothing when the file cannot be read or carries no usable date.
std::optional<RecordingTime> ReadRecordingTime(const std::string& clipPath);
