#include "log/EventLog.h"

#include "platform/Format.h"
#include "platform/NoDestructor.h"

#include <cstdarg>
#include <ctime>

CEventLog* g_pEventLog = nullptr;

namespace {

std::string LocalTimeStamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &local) == nullptr)
        return {};
    char buffer[128];
    const std::size_t length = std::strftime(buffer, sizeof buffer, "%H:%M:%S", &local);
    return std::string(buffer, length);
}

}  // namespace

CEventLog::CEventLog()
{
    if (g_pEventLog == nullptr)
        g_pEventLog = this;
}

CEventLog::~CEventLog()
{
    if (g_pEventLog == this)
        g_pEventLog = nullptr;
}

void CEventLog::AddLine(const std::string& message)
{
    std::lock_guard<std::mutex> guard(lock_);
    std::string line = LocalTimeStamp();
    line.reserve(line.size() + 2 + message.size());
    line += ": ";
    line += message;
    pending_.push_back(std::move(line));
    if (target_)
        target_(pending_.size());
}

bool CEventLog::TakeLine(std::string& line)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (pending_.empty())
        return false;
    line = std::move(pending_.front());
    pending_.pop_front();
    return true;
}

void CEventLog::SetTarget(Notifier notifier)
{
    std::lock_guard<std::mutex> guard(lock_);
    target_ = std::move(notifier);
}

void CEventLog::ClearTarget()
{
    std::lock_guard<std::mutex> guard(lock_);
    target_ = nullptr;
}

CEventLog& CEventLog::Instance()
{
    static platform::NoDestructor<CEventLog> instance;
    return instance.get();
}

namespace {
// Builds the process-wide log during static initialisation, so the global pointer is set
// before main runs and before any test makes a log of its own.
[[maybe_unused]] CEventLog& g_processLog = CEventLog::Instance();
}  // namespace

void LogEvent(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string message;
    try {
        message = platform::FormatStringV(format, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    CEventLog::Instance().AddLine(message);
}
