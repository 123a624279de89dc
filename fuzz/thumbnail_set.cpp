// An arbitrary thumbnail data file and index file through CThumbnailSet::Load. The first two
// bytes of the input give the index file's length; the rest is split between the two files.
#include "model/ThumbnailSet.h"
#include "platform/MessageBox.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

std::string& Folder()
{
    static std::string folder = [] {
        char pattern[] = "/tmp/viewmere-fuzz-XXXXXX";
        return std::string(mkdtemp(pattern) != nullptr ? pattern : "/tmp");
    }();
    return folder;
}

void Write(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool quiet = [] {
        platform::SetMessageBoxHandler([](const std::string&, const std::string&, platform::MessageBoxIcon) {});
        return true;
    }();
    (void)quiet;
    if (size < 2)
        return 0;
    // High bit of the first byte: write an index file at all.
    std::size_t indexLength = (static_cast<std::size_t>(data[0] & 0x7f) << 8 | data[1]) % (size - 1);
    const std::uint8_t* index = data + 2;
    const std::uint8_t* rest = index + indexLength;
    const std::size_t restLength = size - 2 - indexLength;

    // Blocks are 16384 bytes: repeat the data part to a whole block so decodes are reached.
    std::string tdt(reinterpret_cast<const char*>(rest), restLength);
    if (!tdt.empty() && tdt.size() % 16384 != 0 && (data[1] & 1) != 0)
        tdt.resize((tdt.size() / 16384 + 1) * 16384, '\0');

    const std::string dataPath = Folder() + "/THUMB.TDT";
    Write(dataPath, reinterpret_cast<const std::uint8_t*>(tdt.data()), tdt.size());
    const std::string indexPath = Folder() + "/THUMB.TID";
    if ((data[0] & 0x80) != 0)
        Write(indexPath, index, indexLength);
    else
        unlink(indexPath.c_str());
    try {
        CThumbnailSet set(dataPath);
        for (int i = 0; i < set.GetCount(); ++i)
            if (const ThumbnailEntry* entry = set.GetEntry(i); entry != nullptr && entry->clipNumber != i)
                std::abort();
    } catch (const std::exception&) {
    }
    return 0;
}
