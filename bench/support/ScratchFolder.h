#pragma once
// A benchmark's own folder under /tmp, with a settings home inside it; removed at the end.
#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {

class ScratchFolder {
public:
    ScratchFolder()
    {
        char pattern[] = "/tmp/viewmere-bench-XXXXXX";
        if (mkdtemp(pattern) != nullptr)
            path_ = pattern;
        setenv("XDG_CONFIG_HOME", (path_ + "/config").c_str(), 1);  // every setting at its default
    }
    ~ScratchFolder()
    {
        const std::string command = "rm -rf '" + path_ + "'";
        if (!path_.empty() && std::system(command.c_str()) != 0)
            std::fprintf(stderr, "could not remove %s\n", path_.c_str());
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool Ok() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace bench
