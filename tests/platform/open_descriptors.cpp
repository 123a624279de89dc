// Writes the numbers of its open descriptors (the listing's own left out), one a line, to the
// file named by its argument: what a child process inherited.
#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr)
        return 1;
    std::string listing;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && std::atoi(name.c_str()) != dirfd(dir))
            listing += name + "\n";
    }
    closedir(dir);
    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr)
        return 1;
    std::fputs(listing.c_str(), out);
    return std::fclose(out) == 0 ? 0 : 1;
}
