#include "platform/UserDirectories.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace platform {

std::string HomeDirectory()
{
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return home;
    // The reentrant form: worker threads ask too.
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        entry.pw_dir != nullptr && entry.pw_dir[0] == '/')
        return entry.pw_dir;
    return {};
}

std::string UserCacheDirectory()
{
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] == '/')
        return cache;
    const std::string home = HomeDirectory();
    return home.empty() ? std::string() : home + "/.cache";
}

std::string UserVideosDirectory()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string home = HomeDirectory();
    const std::string folder = config != nullptr && config[0] == '/' ? config : home.empty() ? "" : home + "/.config";
    if (folder.empty())
        return {};
    // Lines such as XDG_VIDEOS_DIR="$HOME/Videos": a path relative to the home folder, or an
    // absolute one. The home folder itself means the desktop has no such folder.
    std::ifstream dirs(folder + "/user-dirs.dirs");
    const std::string key = "XDG_VIDEOS_DIR=\"";
    for (std::string line; std::getline(dirs, line);) {
        if (line.rfind(key, 0) != 0 || line.size() < key.size() + 1 || line.back() != '"')
            continue;
        std::string value = line.substr(key.size(), line.size() - key.size() - 1);
        if (value.rfind("$HOME", 0) == 0)
            value = home.empty() ? "" : home + value.substr(5);
        while (value.size() > 1 && value.back() == '/')
            value.pop_back();
        return value.empty() || value[0] != '/' || value == home ? std::string() : value;
    }
    return {};
}

bool MakeDirectories(const std::string& path, unsigned mode)
{
    if (path.empty())
        return false;
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
    }
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace platform
