// Arbitrary bytes as the start of a clip, through the finder of the end of its first picture's
// bytes, in pieces whose size the first byte chooses, as 192-byte and as 188-byte packets. It
// must look at nothing outside what it is given, and an end it finds lies within the bytes
// given, at the start of a packet.
#include "platform/FirstPicture.h"

#include <algorithm>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t piece = 1 + static_cast<std::size_t>(data[0]) * 61;
    const std::span<const std::uint8_t> stream(data + 1, size - 1);
    for (const ts::PacketLayout layout : {ts::PacketLayout{4, 192}, ts::PacketLayout{0, 188}}) {
        ts::FirstPictureEnd end(layout);
        for (std::size_t at = 0; at < stream.size() && end.Current() == ts::FirstPictureEnd::State::Looking; at += piece)
            end.Add(stream.subspan(at, std::min(piece, stream.size() - at)));
        if (end.Current() == ts::FirstPictureEnd::State::Found &&
            (end.End() >= stream.size() || end.End() % layout.stride != 0))
            std::abort();
    }
    return 0;
}
