#include "support/TempDir.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

TempDir::TempDir() : TempDir(std::getenv("TMPDIR") != nullptr && std::getenv("TMPDIR")[0] == '/' ? std::getenv("TMPDIR") : "/tmp")
{
}

TempDir::TempDir(const std::string& base)
{
    std::string pattern = base + "/viewmere-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir()
{
    RemoveTree(path_);
}

void MakeDirs(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            throw std::runtime_error("mkdir failed: " + part);
        if (slash == std::string::npos)
            break;
    }
}

void WriteFile(const std::string& path, std::string_view bytes)
{
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0)
        MakeDirs(path.substr(0, slash));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot write " + path);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void SetFileSize(const std::string& path, std::uint64_t size)
{
    if (::truncate(path.c_str(), static_cast<off_t>(size)) != 0)
        throw std::runtime_error("truncate failed: " + path);
}

void SetModificationTime(const std::string& path, std::int64_t unixSeconds)
{
    timespec times[2];
    times[0].tv_sec = static_cast<time_t>(unixSeconds);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("utimensat failed: " + path);
}

namespace {
int RemoveOne(const char* path, const struct stat*, int, FTW*)
{
    ::chmod(path, 0700);  // a test may have made a folder unreadable
    return ::remove(path) == 0 ? 0 : 0;
}
int MakeWritable(const char* path, const struct stat* info, int type, FTW*)
{
    if (type == FTW_D || type == FTW_DNR || (info != nullptr && S_ISDIR(info->st_mode)))
        ::chmod(path, 0700);
    return 0;
}
}  // namespace

void RemoveTree(const std::string& path)
{
    ::nftw(path.c_str(), MakeWritable, 16, FTW_PHYS);
    ::nftw(path.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name)
{
    const char* old = std::getenv(name);
    hadOld_ = old != nullptr;
    if (hadOld_)
        old_ = old;
    ::setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv()
{
    if (hadOld_)
        ::setenv(name_.c_str(), old_.c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

}  // namespace testing_support
