#include "support/Processes.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace testing_support {

bool ProcessRunning(int pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (pid <= 0 || !std::getline(stat, line))
        return false;
    // The state follows the command name, which is in parentheses and may hold anything.
    const std::size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

namespace {

int ParentOf(int pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return -1;
    const std::size_t close = line.rfind(')');
    return close == std::string::npos ? -1 : std::atoi(line.c_str() + close + 4);  // after ") S "
}

std::vector<int> Numbers(const std::string& folder)
{
    std::vector<int> numbers;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir))
            if (const int number = std::atoi(entry->d_name); number > 0)
                numbers.push_back(number);
        closedir(dir);
    }
    return numbers;
}

std::string LinkTarget(const std::string& link)
{
    char target[4096];
    const ssize_t length = readlink(link.c_str(), target, sizeof target);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace

std::vector<int> ProcessTree(int pid)
{
    std::vector<int> tree = {pid};
    const std::vector<int> all = Numbers("/proc");
    for (std::size_t i = 0; i < tree.size(); ++i)
        for (const int other : all)
            if (ParentOf(other) == tree[i])
                tree.push_back(other);
    return tree;
}

std::vector<int> ChildProcesses(int pid)
{
    std::vector<int> children;
    for (const int other : Numbers("/proc"))
        if (ParentOf(other) == pid)
            children.push_back(other);
    return children;
}

std::vector<std::string> OpenFilesBelow(const std::vector<int>& pids, const std::string& folder)
{
    std::vector<std::string> open;
    auto below = [&](const std::string& path) { return path == folder || path.rfind(folder + "/", 0) == 0; };
    for (const int pid : pids) {
        const std::string proc = "/proc/" + std::to_string(pid);
        for (const int fd : Numbers(proc + "/fd"))
            if (const std::string target = LinkTarget(proc + "/fd/" + std::to_string(fd)); below(target))
                open.push_back(std::to_string(pid) + ": " + target);
        if (const std::string cwd = LinkTarget(proc + "/cwd"); below(cwd))
            open.push_back(std::to_string(pid) + ": working folder " + cwd);
    }
    return open;
}

}  // namespace testing_support
