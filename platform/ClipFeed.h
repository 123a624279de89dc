#pragma once
#include "platform/FileDescriptor.h"
#include "platform/FirstPicture.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform {

// The bytes of a clip as the media graph's transport-stream chain is given them, read the way a
// card serves them best. A card in a reader answers one request at a time, each costing about a
// millisecond on top of its bytes: the clip is read in pieces of kPieceBytes, in order, each
// one request, and nothing is read ahead of what the chain asks for. Read so, a grab takes from
// the card what its first picture needs and one piece at most beyond.
//
// The feed ends right after the bytes of the stream's first picture (see ts::FirstPictureEnd)
// where they can be told, so that not even the decoder's next pictures are read. The clips of
// one card come from one camera at one setting, and their first pictures are about as large:
// the piece that reaches where the clip before's first picture ended (and a little more) is cut
// there, rather than read whole past it. A first picture larger than that is read on in whole
// pieces.
class ClipFeed {
public:
    // 128 KiB: one request of a card's reader, and of the kernel's reads through FUSE.
    static constexpr std::size_t kPieceBytes = 128 * 1024;
    // Read past where the clip before's first picture ended, for a picture a little larger.
    static constexpr std::size_t kExpectedEndMargin = 16 * 1024;
    // Enough of the start to tell a transport stream: three packets.
    static constexpr std::size_t kProbeBytes = 3 * 192;

    // Opens a regular file and reads its first packets; false when it cannot be opened or read.
    bool Open(const std::string& path);
    void Close();
    // The packets of a transport stream in the first bytes, if it is one.
    std::optional<ts::PacketLayout> Layout() const;

    enum class Piece { Bytes, End, Failed };
    // The next piece, into `buffer` of kPieceBytes; `bytes` receives how many.
    Piece Next(std::uint8_t* buffer, std::size_t& bytes);

    // Forgets where the first pictures of the clips before ended (a card of other clips).
    static void ForgetExpectedEnd();

private:
    // Bytes of the piece that starts at offset_.
    std::size_t PieceBytes() const;

    FileDescriptor file_;
    std::vector<std::uint8_t> head_;  // the first packets
    std::uint64_t offset_ = 0;
    bool cut_ = false;  // the first picture's bytes are all given
    std::optional<ts::FirstPictureEnd> firstPicture_;
};

}  // namespace platform
