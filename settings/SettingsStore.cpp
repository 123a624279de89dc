#include "settings/SettingsStore.h"

#include "platform/ReplacingFile.h"
#include "platform/UserDirectories.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace settings {
namespace {

constexpr std::string_view kFolder = "/Corvane/Viewmere";
constexpr std::string_view kFileName = "/settings.reg";
constexpr std::string_view kLockName = "/settings.lock";

std::string ConfigHome()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/')
        return config;
    const std::string home = platform::HomeDirectory();
    return home.empty() ? std::string() : home + "/.config";
}

std::string SettingsFolder()
{
    const std::string home = ConfigHome();
    return home.empty() ? std::string() : home + std::string(kFolder);
}

// A file descriptor that closes itself.
class FileHandle {
public:
    explicit FileHandle(int fd = -1) : fd_(fd) {}
    ~FileHandle() { Reset(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    void Reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

bool ReadWholeFile(const std::string& path, std::string& text)
{
    FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.Valid())
        return false;
    text.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

bool MakeFolders(const std::string& folder)
{
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
    }
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Writes `text` under a fresh temporary name beside `path`, syncs it and renames it over `path`;
// the rename is made durable too.
bool ReplaceFile(const std::string& path, std::string_view text)
{
    platform::ReplacingFile file(path, 0600);
    return file.Opened() && file.Write(text) && file.Commit(true);
}

}  // namespace

std::string SettingsFilePath()
{
    const std::string folder = SettingsFolder();
    return folder.empty() ? std::string() : folder + std::string(kFileName);
}

bool ReadRegistryValue(std::string_view name, RegistryValue& value)
{
    const std::string path = SettingsFilePath();
    std::string text;
    if (path.empty() || !ReadWholeFile(path, text))
        return false;
    return FindRegistryValue(text, name, value);
}

bool WriteRegistryValue(std::string_view name, const RegistryValue& value)
{
    const std::string folder = SettingsFolder();
    if (folder.empty() || !MakeFolders(folder))
        return false;
    const std::string lockPath = folder + std::string(kLockName);
    FileHandle lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!lock.Valid())
        return false;
    while (::flock(lock.Get(), LOCK_EX) != 0)
        if (errno != EINTR)
            return false;

    const std::string path = folder + std::string(kFileName);
    std::string text;
    if (!ReadWholeFile(path, text) && errno != ENOENT)
        return false;  // never replace a file we could not read: its other values would be lost
    return ReplaceFile(path, SetRegistryValue(text, name, value));
    // The lock is released when `lock` closes.
}

}  // namespace settings
