#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace testing_support {

// A fresh folder under the system's temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    // Under a chosen folder, whatever TMPDIR says.
    explicit TempDir(const std::string& base);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

// Creates a file with the given bytes (and any missing parent folders).
void WriteFile(const std::string& path, std::string_view bytes);
std::string ReadFile(const std::string& path);
void MakeDirs(const std::string& path);
// Sets a file's size without writing its bytes (a sparse file).
void SetFileSize(const std::string& path, std::uint64_t size);
// Sets a file's modification time, in seconds since 1970 UTC.
void SetModificationTime(const std::string& path, std::int64_t unixSeconds);
// Removes a path and everything below it; links are removed, never followed.
void RemoveTree(const std::string& path);

// Sets an environment variable for the lifetime of the object and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::string old_;
    bool hadOld_;
};

}  // namespace testing_support
