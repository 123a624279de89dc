// Arbitrary bytes as a clip file, through the reader that finds the key frame nearest a time for
// skimming: its length and every key frame it gives must be possible, and it must neither hang
// nor read past what it was given. The first byte picks the times asked for.
#include "thumbgen/KeyFrameReader.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    static const int fd = memfd_create("clip", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 0) != 0 ||
        pwrite(fd, data + 1, size - 1, 0) != static_cast<ssize_t>(size - 1))
        std::abort();
    CKeyFrameReader reader;
    if (!reader.Open(platform::FileDescriptor(dup(fd))))
        return 0;
    if (reader.Duration() < 0 || reader.Duration() > 95444)  // 33 bits of 90 kHz
        std::abort();
    for (int i = 0; i <= data[0] % 8; ++i) {
        const std::optional<CKeyFrameReader::KeyFrame> key = reader.Nearest(reader.Duration() * i / 7 + (data[0] >> 3) - 8);
        if (!key)
            continue;
        if (key->seconds < 0 || key->pictures.empty() || key->pictures.size() > 2)
            std::abort();
        for (const CKeyFrameReader::CodedPicture& picture : key->pictures)
            if (picture.bytes.size() > size + 1024)
                std::abort();
    }
    return 0;
}
