#include "support/Processes.h"

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

}  // namespace testing_support
