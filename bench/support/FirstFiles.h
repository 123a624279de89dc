#pragma once
// How long a program takes, from its start, until the files it is to write are all on the disk:
// the viewer started as a person starts it, until the thumbnails of the first clips of a card
// are written.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace bench {

// Starts the program and measures the time until every one of `files` exists; negative when
// they do not within the limit. The program is ended afterwards.
inline double SecondsToFiles(const std::vector<std::string>& command, const std::vector<std::string>& files,
                             std::chrono::seconds limit = std::chrono::seconds(60))
{
    std::vector<char*> argv;
    for (const std::string& argument : command)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    double seconds = -1;
    std::size_t found = 0;  // files exist in any order; each is looked for until it does
    std::vector<bool> there(files.size(), false);
    while (std::chrono::steady_clock::now() - start < limit) {
        for (std::size_t i = 0; i < files.size(); ++i) {
            struct stat info {};
            if (!there[i] && stat(files[i].c_str(), &info) == 0) {
                there[i] = true;
                ++found;
            }
        }
        if (found == files.size()) {
            seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    return seconds;
}

}  // namespace bench
