#include "platform/TempDirectory.h"

#include "platform/FileSystem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <vector>
#include <cstdlib>

namespace platform {

bool PrivateTempDirectory(std::string& path)
{
    const char* base = std::getenv("TMPDIR");
    std::string dir = WithTrailingSlash(WithoutTrailingSlash((base != nullptr && base[0] == '/') ? base : "/tmp"));
    dir += "viewmere-" + std::to_string(getuid());

    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    // lstat, not stat: a link planted by someone else must not redirect our files.
    struct stat info {};
    if (lstat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid())
        return false;
    if ((info.st_mode & 077) != 0 && chmod(dir.c_str(), 0700) != 0)
        return false;
    path = dir + "/";
    return true;
}

int RemoveStaleTempFiles(long minimumAge)
{
    std::string folder;
    if (!PrivateTempDirectory(folder))
        return 0;
    std::vector<DirEntry> entries;
    ListDirectory(folder, entries);
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    int removed = 0;
    for (const DirEntry& entry : entries) {
        const bool ours = (entry.name.rfind("avchd", 0) == 0 && MatchesPattern(entry.name, "*.jpg")) ||
                          MatchesPattern(entry.name, "*.part");
        if (ours && !entry.isDirectory && entry.hasDetails && now - entry.mtimeSeconds >= minimumAge &&
            unlink((folder + entry.name).c_str()) == 0)
            ++removed;
    }
    return removed;
}

}  // namespace platform
