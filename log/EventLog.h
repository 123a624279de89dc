#pragma once
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

// The event log: short, time-stamped lines about background work, shown in the log window.
// Lines wait in a queue until the window takes them; nothing is written to disk.
class CEventLog {
public:
    // Called inside the lock once per added line with the queue length after the append.
    // The window's notifier posts an update event to the UI thread; it must not block.
    using Notifier = std::function<void(std::size_t queueLength)>;

    CEventLog();
    ~CEventLog();
    CEventLog(const CEventLog&) = delete;
    CEventLog& operator=(const CEventLog&) = delete;

    // Appends "HH:MM:SS: " + message, the local time read inside the lock so lines stay in
    // time order across threads. The message is used unchanged.
    void AddLine(const std::string& message);

    // Removes the oldest line into `line`; false, leaving `line` untouched, when none is queued.
    bool TakeLine(std::string& line);

    // Set by the window when it is created and cleared when it is destroyed.
    void SetTarget(Notifier notifier);
    void ClearTarget();

    // The process-wide log, made before the program's main entry and never destroyed, so that a
    // worker thread still running while the process exits can keep writing to it.
    static CEventLog& Instance();

private:
    std::mutex lock_;
    Notifier target_;
    std::deque<std::string> pending_;
};

// The global pointer through which every writer reaches the process-wide log.
extern CEventLog* g_pEventLog;

// Formats printf-style and adds the line to the process-wide log.
void LogEvent(const char* format, ...) __attribute__((format(printf, 1, 2)));
