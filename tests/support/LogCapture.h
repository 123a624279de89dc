#pragma once
#include "log/EventLog.h"

#include <string>
#include <vector>

namespace testing_support {

// Takes every line queued in the process-wide event log and returns the messages without
// their time stamps.
inline std::vector<std::string> TakeLogMessages()
{
    std::vector<std::string> messages;
    std::string line;
    while (CEventLog::Instance().TakeLine(line)) {
        const std::size_t colon = line.find(": ");
        messages.push_back(colon == std::string::npos ? line : line.substr(colon + 2));
    }
    return messages;
}

inline bool Contains(const std::vector<std::string>& messages, const std::string& text)
{
    for (const std::string& m : messages)
        if (m.find(text) != std::string::npos)
            return true;
    return false;
}

}  // namespace testing_support
