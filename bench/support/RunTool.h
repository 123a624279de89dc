#pragma once
// Runs a program the benchmarks need (ffmpeg making their clips, a reference tool), waiting at
// most `limit`: true when it ran and exited with status 0.
#include "platform/ChildProcess.h"

#include <chrono>
#include <string>
#include <vector>

namespace bench {

inline bool RunTool(const std::vector<std::string>& arguments,
                    std::chrono::milliseconds limit = std::chrono::minutes(10))
{
    int status = -1;
    return platform::RunProcess(arguments, limit, {}, &status) == platform::ProcessOutcome::Exited && status == 0;
}

}  // namespace bench
