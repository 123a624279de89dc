#include "thumbgen/GrabWorker.h"

#include "imaging/JpegPicture.h"
#include "log/EventLog.h"
#include "platform/MediaGraph.h"
#include "thumbgen/FrameGrab.h"
#include "thumbgen/GrabWorkerProtocol.h"
#include "thumbgen/StripMaker.h"

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct WorkerOptions {
    std::string crashOn;
    std::string hangOn;
    bool exitAtStart = false;
    std::chrono::milliseconds firstFrameLimit = kFirstFrameLimit;
    int pictureScale = 1;
};

bool ParseOptions(int argc, char** argv, WorkerOptions& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--exit-at-start") {
            options.exitAtStart = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        if (option == "--crash-on")
            options.crashOn = argv[++i];
        else if (option == "--hang-on")
            options.hangOn = argv[++i];
        else if (option == "--first-frame-limit")
            options.firstFrameLimit = std::chrono::milliseconds(std::max(1, std::atoi(argv[++i])));
        else if (option == "--picture-scale")
            options.pictureScale = std::atoi(argv[++i]);
        else
            return false;
    }
    return true;
}

bool Marked(const std::string& clipPath, const std::string& marker)
{
    return !marker.empty() && clipPath.find(marker) != std::string::npos;
}

// The grab's log lines without the time the worker's log put in front: the viewer's log adds
// its own.
bool SendLogLines(int out)
{
    std::string line;
    while (CEventLog::Instance().TakeLine(line)) {
        const std::size_t separator = line.find(": ");
        const std::string text = separator == std::string::npos ? line : line.substr(separator + 2);
        if (!grab_protocol::SendRecord(out, grab_protocol::RecordKind::LogLine, text.data(), text.size()))
            return false;
    }
    return true;
}

bool SendPicture(int out, const platform::DeviceBitmap& frame)
{
    CRgbImage picture;
    CJpegPicture compressed;
    if (!picture.FromBitmap(frame) || !compressed.Compress(picture)) {
        LogEvent("Failed to compress the grabbed frame");
        return true;
    }
    return grab_protocol::SendRecord(out, grab_protocol::RecordKind::Picture, compressed.bytes.data(),
                                     compressed.bytes.size());
}

// A decoder that crashes or hangs on a clip, as the options ask.
void MisbehaveOn(const WorkerOptions& options, const std::string& clipPath)
{
    if (Marked(clipPath, options.crashOn))
        raise(SIGFPE);
    if (Marked(clipPath, options.hangOn))
        for (;;)
            pause();
}

// Each frame goes out as soon as it is made, then the end.
bool ServeStrip(int out, const WorkerOptions& options, const StripRequest& strip)
{
    for (const StripPart& part : strip.parts)
        MisbehaveOn(options, part.path);
    std::string why;
    bool sent = true;
    MakeStrip(
        strip,
        [&](const StripFrame& frame) {
            const std::vector<std::uint8_t> record = grab_protocol::EncodeFrame(frame);
            sent = SendLogLines(out) &&
                   grab_protocol::SendRecord(out, grab_protocol::RecordKind::Frame, record.data(), record.size());
            return sent;
        },
        {}, &why);
    return sent && SendLogLines(out) &&
           grab_protocol::SendRecord(out, grab_protocol::RecordKind::End, why.data(), why.size());
}

bool Serve(int out, const WorkerOptions& options, const grab_protocol::Request& request)
{
    if (request.kind == grab_protocol::RequestKind::Strip)
        return ServeStrip(out, options, request.strip);
    const std::string& clipPath = request.clipPath;
    MisbehaveOn(options, clipPath);
    std::string why;
    std::unique_ptr<platform::DeviceBitmap> frame = GrabFirstFrame(clipPath, {}, &why, options.firstFrameLimit);
    if (frame && !SendPicture(out, *frame))
        return false;
    // Without a picture, the end says why.
    return SendLogLines(out) && grab_protocol::SendRecord(out, grab_protocol::RecordKind::End, why.data(), why.size());
}

}  // namespace

int RunGrabWorker(int argc, char** argv)
{
    WorkerOptions options;
    if (!ParseOptions(argc, argv, options)) {
        static const char usage[] =
            "usage: viewmere-grab-worker [--crash-on TEXT] [--hang-on TEXT] [--exit-at-start] [--first-frame-limit MS] "
            "[--picture-scale 1|2]\n";
        (void)!write(2, usage, sizeof usage - 1);
        return 2;
    }
    // Ends with the viewer, even one killed outright.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() == 1)
        return 0;
    if (options.exitAtStart)
        return 127;  // as the loader ends a program whose library is missing
    SetGrabbedPictureScale(options.pictureScale);
    // Records go out on a private copy of standard output; anything a library prints to
    // standard output goes nowhere instead of into the records.
    const int out = fcntl(1, F_DUPFD_CLOEXEC, 3);
    const int nothing = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (out < 0 || nothing < 0 || dup2(nothing, 1) < 0)
        return 1;
    close(nothing);
    // Every grab allocates and frees the same few large frame buffers (a decoded full HD frame
    // is 3 MB). Kept in the heap instead of being mapped and unmapped
    // each time, they are reused without the page faults and page clearing that otherwise cost
    // about a fifth of a grab. The worker's peak stays what one grab needs.
    mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
    // The heap grows 16 MB at a time, so that where the pool asked for huge pages (see its
    // worker environment) a first grab's pictures land in a few of them, not in thousands of
    // small pages each faulted in on its own. What is not touched costs no memory.
    mallopt(M_TOP_PAD, 16 * 1024 * 1024);
    // The media framework is set up (plugins found and loaded) before the first clip arrives.
    platform::MediaGraph::LoadClipPlugins();
    if (!grab_protocol::SendRecord(out, grab_protocol::RecordKind::Ready, "", 0))
        return 1;
    grab_protocol::Request request;
    while (grab_protocol::ReadRequest(0, request))
        if (!grab_protocol::SendRecord(out, grab_protocol::RecordKind::Acknowledged, "", 0) ||
            !Serve(out, options, request))
            return 1;
    return 0;
}
