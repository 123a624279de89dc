#include "log/EventLog.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

namespace {

std::vector<std::string> TakeAll(CEventLog& log)
{
    std::vector<std::string> lines;
    std::string line;
    while (log.TakeLine(line))
        lines.push_back(line);
    return lines;
}

std::string MessageOf(const std::string& line)
{
    const std::size_t colon = line.find(": ");
    return colon == std::string::npos ? std::string() : line.substr(colon + 2);
}

}  // namespace

TEST(EventLogTest, ProcessWideLogIsTheGlobalOneAndNewLogsDoNotReplaceIt)
{
    ASSERT_NE(g_pEventLog, nullptr);
    EXPECT_EQ(g_pEventLog, &CEventLog::Instance());
    {
        CEventLog another;
        EXPECT_EQ(g_pEventLog, &CEventLog::Instance());
    }
    EXPECT_EQ(g_pEventLog, &CEventLog::Instance());
}

TEST(EventLogTest, LinesWaitInOrderUntilTakenAndCarryATimeStamp)
{
    CEventLog log;
    std::string untouched = "untouched";
    EXPECT_FALSE(log.TakeLine(untouched));
    EXPECT_EQ(untouched, "untouched");

    log.AddLine("first");
    log.AddLine("second with\r\ntwo parts");
    log.AddLine("");
    const std::vector<std::string> lines = TakeAll(log);
    ASSERT_EQ(lines.size(), 3u);
    const std::regex stamped("^[0-2][0-9]:[0-5][0-9]:[0-6][0-9]: ");
    for (const std::string& line : lines)
        EXPECT_TRUE(std::regex_search(line, stamped)) << line;
    EXPECT_EQ(MessageOf(lines[0]), "first");
    EXPECT_EQ(MessageOf(lines[1]), "second with\r\ntwo parts");
    EXPECT_EQ(lines[2].substr(8), ": ");
}

TEST(EventLogTest, TargetIsNotifiedOncePerLineWithTheQueueLength)
{
    CEventLog log;
    log.AddLine("before the window");
    std::vector<std::size_t> notified;
    log.SetTarget([&](std::size_t length) { notified.push_back(length); });
    log.AddLine("a");
    log.AddLine("b");
    EXPECT_EQ(notified, (std::vector<std::size_t>{2, 3}));
    EXPECT_EQ(TakeAll(log).size(), 3u);
    log.ClearTarget();
    log.AddLine("after the window");
    EXPECT_EQ(notified.size(), 2u);
    EXPECT_EQ(MessageOf(TakeAll(log).at(0)), "after the window");
}

TEST(EventLogTest, TwoThreadsGiveWholeLinesInOrder)
{
    CEventLog log;
    constexpr int kLines = 5000;
    auto writer = [&log](char tag) {
        for (int i = 0; i < kLines; ++i)
            log.AddLine(std::string(1, tag) + ":" + std::to_string(i) + ":" + std::string(40, tag));
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    const std::vector<std::string> lines = TakeAll(log);
    ASSERT_EQ(lines.size(), 2u * kLines);
    int next[2] = {0, 0};
    std::string previousStamp;
    for (const std::string& line : lines) {
        const std::string message = MessageOf(line);
        ASSERT_GE(message.size(), 3u);
        const char tag = message[0];
        ASSERT_TRUE(tag == 'a' || tag == 'b') << line;
        const int index = tag - 'a';
        EXPECT_EQ(message, std::string(1, tag) + ":" + std::to_string(next[index]) + ":" + std::string(40, tag));
        ++next[index];
        // Stamps taken inside the lock never go back (a run across midnight aside).
        const std::string stamp = line.substr(0, 8);
        if (!previousStamp.empty() && stamp.substr(0, 2) != "00") {
            EXPECT_GE(stamp, previousStamp);
        }
        previousStamp = stamp;
    }
}

TEST(EventLogTest, LogEventFormatsIntoTheProcessWideLog)
{
    CEventLog& log = CEventLog::Instance();
    TakeAll(log);
    LogEvent("Opened directory [%s] in %.3f seconds", "/media/card", 0.125);
    const std::vector<std::string> lines = TakeAll(log);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), "Opened directory [/media/card] in 0.125 seconds");
}
