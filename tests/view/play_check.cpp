// Plays clips as Play Selection ("list") or Play Clip ("clip": the files of one clip) does, with the desktop this
// process was started with, and prints the boxes ("BOX: ...") and log lines it gave. The
// desktop's registry of programs is fixed at its first use in a process, so each desktop a test
// sets up gets a process of its own.
#include "log/EventLog.h"
#include "platform/MessageBox.h"
#include "view/Player.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    platform::SetMessageBoxHandler([](const std::string& text, const std::string&, platform::MessageBoxIcon) {
        std::printf("BOX: %s\n", text.c_str());
    });
    const std::vector<std::string> clips(argv + 2, argv + argc);
    if (std::strcmp(argv[1], "list") == 0)
        PlayClipsWithUsersPlayer(clips);
    else
        PlayClipWithUsersPlayer(clips);
    std::string line;
    while (CEventLog::Instance().TakeLine(line))
        std::printf("LOG: %s\n", line.substr(line.find(": ") + 2).c_str());
    return 0;
}
