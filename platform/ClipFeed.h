#pragma once
#include "platform/CardTurn.h"
#include "platform/FileDescriptor.h"
#include "platform/FirstPicture.h"

#include <atomic>
#include <chrono>
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
// one request, and nothing is read past where its first picture is expected to end. Read so, a
// grab takes from the card what its first picture needs and one piece at most beyond.
//
// The feed ends right after the bytes of the stream's first picture (see ts::FirstPictureEnd)
// where they can be told, so that not even the decoder's next pictures are read. The clips of
// one card come from one camera at one setting, and their first pictures are about as large:
// the piece that reaches where the clip before's first picture ended (and a little more) is cut
// there, rather than read whole past it. A first picture larger than that is read on in whole
// pieces.
//
// The pieces are read in the card's turn (CardTurn), taken before the first and given back after
// the last: the grabs of other workers read their clips before or after, not between.
//
// Asked one after the other, each piece would wait for the answer to the one before, and the card
// would rest between them. Once the first piece shows a stream, the pieces up to where its first
// picture is expected to end are asked at once, and the kernel queues them for the card in order.
// The turn goes back as soon as they are queued: the next grab's reads queue behind them, and the
// card goes from one clip to the next without waiting for either grab. Once a clip of a device
// has been read so, the next clip's first piece is asked with the others: the card then serves
// the whole clip back to back, without waiting for the grab to look at the first. Nothing is
// read when the clip is opened: the first piece tells the packets apart, and every read waits
// within the time the graph gives the clip.
class ClipFeed {
public:
    // 128 KiB: one request of a card's reader, and of the kernel's reads through FUSE.
    static constexpr std::size_t kPieceBytes = 128 * 1024;
    // Read past where the clip before's first picture ended, for a picture a little larger.
    static constexpr std::size_t kExpectedEndMargin = 16 * 1024;
    // Whether a file of this name is fed as a transport stream (.MTS, .M2TS, .TS): other files
    // go to automatic plugging without a read.
    static bool NamesTransportStream(const std::string& path);

    // Opens a regular file without reading it; false when it cannot be opened.
    bool Open(const std::string& path);
    void Close();
    // Until when the pieces may wait for the card's turn.
    void SetDeadline(std::chrono::steady_clock::time_point deadline) { deadline_ = deadline; }
    // Ends a wait for the card's turn at once, from any thread: the graph is stopping.
    void Abandon() { abandoned_.store(true, std::memory_order_release); }

    enum class Piece { Bytes, End, Failed };
    // The next piece, into `buffer` of kPieceBytes; `bytes` receives how many. A first piece that
    // holds no transport stream fails.
    Piece Next(std::uint8_t* buffer, std::size_t& bytes);

    // Forgets where the first pictures of the clips before ended, and how their devices were read
    // (a card of other clips).
    static void ForgetExpectedEnd();

private:
    // Bytes of the piece that starts at offset_.
    std::size_t PieceBytes() const;

    // The card's turn for the next read; false when it was not given in time.
    bool AwaitTurn();
    // The packets in the first piece: the picture's finder is set for them.
    bool TellPackets(std::span<const std::uint8_t> first);
    // Whether the clip before on this file's device was read through the page cache.
    bool DeviceReadThroughCache() const;
    // Asks the card at once for the pieces from `from` up to the expected end, and gives the turn
    // back.
    void AskAheadForExpectedPieces(std::uint64_t from);
    // Once the first piece is read: asks for the rest if the file is read through the page
    // cache, and remembers for the next clip whether its device is.
    void AskAheadAfterFirstPiece(std::size_t firstBytes);
    // Gives the card's turn back: the clip's bytes are all read.
    void Finish();

    FileDescriptor file_;
    std::uint64_t device_ = 0;
    std::optional<ts::PacketLayout> layout_;
    std::uint64_t offset_ = 0;
    std::uint64_t askedUpTo_ = 0;  // pieces below it are queued with the card: read without the turn
    bool cut_ = false;  // the first picture's bytes are all given
    std::optional<ts::FirstPictureEnd> firstPicture_;
    CardTurn turn_;
    std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::time_point::max();
    std::atomic<bool> abandoned_{false};
};

}  // namespace platform
