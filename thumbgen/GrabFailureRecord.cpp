#include "thumbgen/GrabFailureRecord.h"

#include "platform/FileSystem.h"
#include "platform/Format.h"
#include "platform/ReplacingFile.h"
#include "platform/UserDirectories.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

// 64-bit FNV-1a: a stable name for any path bytes; the record's content tells collisions apart.
std::uint64_t PathHash(const std::string& path)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char byte : path) {
        hash ^= byte;
        hash *= 1099511628211ull;
    }
    return hash;
}

// What a record must start with for the clip as it is now; "" when the clip cannot be examined.
std::string KeyOf(const std::string& clipPath)
{
    struct stat info {};
    if (stat(clipPath.c_str(), &info) != 0)
        return {};
    return platform::FormatString("viewmere grab failure\nsize %lld\nmtime %lld.%09ld\npath %zu\n",
                                  static_cast<long long>(info.st_size), static_cast<long long>(info.st_mtim.tv_sec),
                                  static_cast<long>(info.st_mtim.tv_nsec), clipPath.size()) +
           clipPath + "\n";
}

bool ReadSmallFile(const std::string& path, std::string& content)
{
    platform::FilePtr file = platform::OpenRegularFile(path);
    if (!file)
        return false;
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        content.append(chunk, got);
        if (content.size() > 256 * 1024)
            return false;
    }
    return true;
}

}  // namespace

CGrabFailureRecord::CGrabFailureRecord(std::string folder) : folder_(folder.empty() ? DefaultFolder() : std::move(folder))
{
}

std::string CGrabFailureRecord::DefaultFolder()
{
    const std::string cache = platform::UserCacheDirectory();
    return cache.empty() ? std::string() : cache + "/viewmere/failed";
}

std::string CGrabFailureRecord::RecordPath(const std::string& clipPath) const
{
    return platform::FormatString("%s/%016llx.failed", folder_.c_str(),
                                  static_cast<unsigned long long>(PathHash(clipPath)));
}

bool CGrabFailureRecord::HasFailed(const std::string& clipPath) const
{
    if (folder_.empty())
        return false;
    std::string content;
    if (!ReadSmallFile(RecordPath(clipPath), content))
        return false;
    const std::string key = KeyOf(clipPath);
    if (!key.empty() && content.compare(0, key.size(), key) == 0)
        return true;
    // Only a record for this very path is removed, never another path's that shares the hash.
    if (content.find("\npath " + std::to_string(clipPath.size()) + "\n" + clipPath + "\n") != std::string::npos)
        Forget(clipPath);
    return false;
}

bool CGrabFailureRecord::Add(const std::string& clipPath, const std::string& reason) const
{
    const std::string key = KeyOf(clipPath);
    if (folder_.empty() || key.empty() || !platform::MakeDirectories(folder_, 0700))
        return false;
    const std::string content = key + "reason " + reason + "\n";
    return platform::ReplaceFileWith(RecordPath(clipPath),
                                     {reinterpret_cast<const std::uint8_t*>(content.data()), content.size()}, 0600);
}

void CGrabFailureRecord::Forget(const std::string& clipPath) const
{
    if (!folder_.empty())
        unlink(RecordPath(clipPath).c_str());
}
