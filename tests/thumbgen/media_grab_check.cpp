// Runs one media-framework grab of the clip given and prints the log lines, then "result" or
// "no result": lets a test run the grab with another set of media plugins.
#include "log/EventLog.h"
#include "settings/Settings.h"
#include "thumbgen/FrameGrab.h"
#include "thumbgen/ThumbnailQueue.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    ThumbnailQueue queue;
    GrabWithMediaFramework(queue, argv[1]);
    std::string line;
    while (CEventLog::Instance().TakeLine(line))
        std::printf("%s\n", line.substr(line.find(": ") + 2).c_str());
    std::string path;
    ThumbnailResult result;
    if (!queue.TakeResult(path, result))
        std::printf("no result\n");
    else if (!result.failure.empty())
        std::printf("no picture: %s\n", result.failure.c_str());
    else
        std::printf("result\n");
    return 0;
}
