#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace testing_support {

// The bytes camcorders write into the H.264 stream for the recording time (MDPM), and clips
// that carry them, made with the ffmpeg program.

// The 16-byte UUID that opens an MDPM user-data payload.
std::string MdpmUuid();
// The two date entries: tag 0x18 [zone, year high, year low, month] and tag 0x19 [day, hour,
// minute, second], the numbers written in BCD.
std::string MdpmDate(std::uint8_t zone, int year, int month, int day, int hour, int minute, int second);
// "MDPM", the entry count (by default the number of whole entries) and the entries.
std::string MdpmData(const std::string& entries, int count = -1);

// One SEI NAL unit (with its start code) holding one user-data-unregistered message, with
// emulation prevention. `declaredSize` larger than the payload makes a unit cut short.
std::string SeiNal(const std::string& payload, std::size_t declaredSize = 0);

// A clip whose first picture carries MDPM data after the UUID, inserted by ffmpeg's h264_metadata
// filter. The data must hold no NUL and none of the characters its option syntax takes.
void MakeClipWithMdpm(const std::string& path, const std::string& data, bool m2ts = true);
// A clip carrying the given camera date and zone byte, made by MakeClipWithMdpm.
void MakeDatedClip(const std::string& path, std::uint8_t zone, int year, int month, int day, int hour, int minute,
                   int second);
// A clip whose H.264 stream gets `nal` before the first picture that starts at or after
// `streamOffset` bytes of the stream, then muxed into M2TS by ffmpeg.
void MakeClipWithNal(const std::string& path, const std::string& nal, std::size_t streamOffset = 0);

}  // namespace testing_support
