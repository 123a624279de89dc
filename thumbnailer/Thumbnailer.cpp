#include "thumbnailer/Thumbnailer.h"

#include "log/EventLog.h"
#include "platform/FileSystem.h"
#include "platform/GLibOwners.h"
#include "platform/MessageBox.h"
#include "thumbgen/SharedThumbnails.h"
#include "thumbnailer/ClipPicture.h"

#include <glib.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char* kProgram = "viewmere-thumbnailer";
// A grab still waiting for its first frame this long after the start gives up, and the
// process ends at the alarm whatever it is doing, both well inside the time limit.
constexpr std::chrono::seconds kGrabGivesUp{kThumbnailerTimeLimitSeconds - 2};
constexpr unsigned kAlarmSeconds = kThumbnailerTimeLimitSeconds - 1;

struct Request {
    int size = 0;
    std::string uri;
    std::string output;
    std::string hangOn;
};

bool ParseSize(const char* text, int& size)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > 4096)
        return false;
    size = static_cast<int>(value);
    return true;
}

bool ParseArguments(int argc, char** argv, Request& request)
{
    int next = 1;
    if (next + 1 < argc && std::strcmp(argv[next], "--hang-on") == 0) {
        request.hangOn = argv[next + 1];
        next += 2;
    }
    if (next < argc && std::strcmp(argv[next], "-s") == 0)
        ++next;
    if (argc - next != 3 || !ParseSize(argv[next], request.size))
        return false;
    request.uri = argv[next + 1];
    request.output = argv[next + 2];
    return !request.uri.empty() && !request.output.empty();
}

int Fail(const std::string& uri, const std::string& why)
{
    std::fprintf(stderr, "%s: %s: %s\n", kProgram, uri.c_str(), why.c_str());
    return 1;
}

// A decoder that hangs inside a call the grab cannot interrupt still ends here.
void OnAlarm(int)
{
    static const char line[] = "viewmere-thumbnailer: no picture within the time limit\n";
    (void)!write(2, line, sizeof line - 1);
    _exit(1);
}

void ArmTimeLimit()
{
    struct sigaction action {};
    action.sa_handler = OnAlarm;
    sigaction(SIGALRM, &action, nullptr);
    alarm(kAlarmSeconds);
}

// The local path a URI names ("file:///a/b%20c.MTS"); a plain absolute path is taken as it is.
bool LocalPath(const std::string& uri, std::string& path)
{
    if (!uri.empty() && uri[0] == '/') {
        path = uri;
        return true;
    }
    const platform::GText local(g_filename_from_uri(uri.c_str(), nullptr, nullptr));
    if (!local)
        return false;
    path = local.get();
    return true;
}

}  // namespace

int RunThumbnailer(int argc, char** argv)
{
    Request request;
    if (!ParseArguments(argc, argv, request)) {
        std::fprintf(stderr, "usage: %s [-s] SIZE URI OUTPUT\n", kProgram);
        return 2;
    }
    ArmTimeLimit();
    const auto start = std::chrono::steady_clock::now();
    // A warning about a card's files would otherwise print a line of its own; the one line
    // this program prints is its answer.
    platform::SetMessageBoxHandler([](const std::string& text, const std::string& caption, platform::MessageBoxIcon) {
        LogEvent("%s: %s", caption.c_str(), text.c_str());
    });

    std::string path;
    if (!LocalPath(request.uri, path))
        return Fail(request.uri, "not a local file");
    if (!platform::FileExists(path))
        return Fail(request.uri, "no such file");
    if (!platform::IsRegularFile(path))
        return Fail(request.uri, "not a regular file");  // a FIFO would block its reader

    if (!request.hangOn.empty() && path.find(request.hangOn) != std::string::npos)
        for (;;)
            pause();  // as a decoder that never returns
    const ClipPicture found = FindClipPicture(path, [start] { return std::chrono::steady_clock::now() - start > kGrabGivesUp; });
    if (!found.picture)
        return Fail(request.uri, found.problem);
    const std::unique_ptr<CRgbImage> fitted = found.picture->FittedInto(request.size, request.size);
    std::string problem = "the picture could not be scaled";
    if (!fitted || !WritePngFile(*fitted, request.output, {}, problem))
        return Fail(request.uri, "cannot write " + request.output + ": " + problem);
    return 0;
}
