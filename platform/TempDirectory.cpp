#include "platform/TempDirectory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform {

bool PrivateTempDirectory(std::string& path)
{
    const char* base = std::getenv("TMPDIR");
    std::string dir = (base != nullptr && base[0] == '/') ? base : "/tmp";
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    if (dir != "/")
        dir += '/';
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

}  // namespace platform
