// Arbitrary bytes as an MP4 or QuickTime file, through the reader of its movie header. Every read
// it asks for lies inside the file; a header it gives holds a time in 1970..2099 and a positive
// finite length; a failed read is told as one.
#include "model/Mp4Movie.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

void Check(bool holds)
{
    if (!holds)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    int reads = 0;
    const Mp4ReadAt read = [&](std::uint64_t offset, std::uint8_t* into, std::size_t wanted, bool&) -> std::size_t {
        Check(wanted > 0 && offset < size && wanted <= size - offset);
        ++reads;
        std::memcpy(into, data + offset, wanted);
        return wanted;
    };
    std::string problem;
    bool failed = false;
    const std::optional<Mp4MovieHeader> header = ReadMp4MovieHeader(read, size, problem, failed);
    Check(!failed && header.has_value() == problem.empty());
    Check(reads <= 2 * kMaxMp4Boxes + 1);
    if (header) {
        if (header->createdUnixSeconds)
            Check(*header->createdUnixSeconds >= 0 && *header->createdUnixSeconds < 4102444800);
        if (header->durationSeconds)
            Check(std::isfinite(*header->durationSeconds) && *header->durationSeconds > 0);
    }
    // The same bytes from a card pulled at the first read: no header, and the failure told.
    bool pulled = false;
    const Mp4ReadAt failing = [](std::uint64_t, std::uint8_t*, std::size_t, bool& readFailed) -> std::size_t {
        readFailed = true;
        return 0;
    };
    problem.clear();
    Check(!ReadMp4MovieHeader(failing, size, problem, pulled) && (pulled || size < 8));
    return 0;
}
