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

namespace {

// The value of one line of user-dirs.dirs: XDG_VIDEOS_DIR="$HOME/Videos" or an absolute path in
// quotes, as the file's own header says it must be written. Anything else is not taken.
std::string UserDirsValue(const std::string& line, const std::string& key, const std::string& home)
{
    const std::string prefix = key + "=\"";
    if (line.rfind(prefix, 0) != 0 || line.size() < prefix.size() + 1 || line.back() != '"')
        return {};
    std::string value = line.substr(prefix.size(), line.size() - prefix.size() - 1);
    if (value.rfind("$HOME", 0) == 0 && (value.size() == 5 || value[5] == '/'))
        value = home + value.substr(5);
    if (value.empty() || value[0] != '/' || value.find('\\') != std::string::npos)
        return {};
    // "$HOME/" alone means the home folder itself: videos would be put straight into it.
    return value == home || value == home + "/" ? std::string() : value;
}

}  // namespace

std::string UserVideosDirectory()
{
    const std::string home = HomeDirectory();
    if (home.empty())
        return {};
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string folder = config != nullptr && config[0] == '/' ? config : home + "/.config";
    std::ifstream dirs(folder + "/user-dirs.dirs");
    for (std::string line; std::getline(dirs, line);)
        if (std::string value = UserDirsValue(line, "XDG_VIDEOS_DIR", home); !value.empty())
            return value;
    return home + "/Videos";
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
