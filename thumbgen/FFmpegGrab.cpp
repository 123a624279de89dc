#include "imaging/JpegPicture.h"
#include "log/EventLog.h"
#include "platform/ChildProcess.h"
#include "platform/FileSystem.h"
#include "platform/Format.h"
#include "platform/TempDirectory.h"
#include "platform/Ticks.h"
#include "settings/Settings.h"
#include "thumbgen/FFmpegCommand.h"
#include "thumbgen/FrameGrab.h"
#include "thumbgen/SharedThumbnails.h"
#include "thumbgen/ThumbnailFile.h"
#include "thumbgen/ThumbnailQueue.h"

#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

namespace {

// A damaged picture is no picture: it would otherwise be kept as the clip's file. A good one is
// kept compressed, as ffmpeg wrote it.
CJpegPicture ReadPicture(const std::string& path)
{
    CJpegPicture picture;
    std::string problem;
    if (!picture.ReadFile(path, CRgbImage::kMaxPixels, problem))
        return CJpegPicture{};
    return picture;
}

}  // namespace

void GrabWithFFmpeg(ThumbnailQueue& queue, const std::string& clipPath, std::chrono::milliseconds limit)
{
    const std::uint32_t start = platform::GetTickCount();
    const std::string parameters = GetFFmpegParams();
    const std::string problem = CheckFFmpegTemplate(parameters);
    if (!problem.empty()) {
        LogEvent("%s", problem.c_str());
        return;
    }
    std::string tempDirectory;
    if (!platform::PrivateTempDirectory(tempDirectory))
        return;
    const std::string output =
        platform::FormatString("%savchd%ld.jpg", tempDirectory.c_str(), static_cast<long>(syscall(SYS_gettid)));
    const FFmpegCommand command = BuildFFmpegCommand(GetFFmpegExe(), parameters, clipPath, output);

    // A picture left by an earlier run that was stopped must never pass for this clip's: ffmpeg
    // would not overwrite it and the old picture would be read instead.
    ::unlink(output.c_str());
    int status = 0;
    const platform::ProcessOutcome outcome =
        platform::RunProcess(command.arguments, limit, [&queue] { return queue.StopRequested(); }, &status);
    switch (outcome) {
    case platform::ProcessOutcome::NotStarted:
        LogEvent("Failed to run ffmpeg with %s", command.text.c_str());
        queue.StoreResult(clipPath, ThumbnailResult::Failure("ffmpeg could not be started"));
        return;
    case platform::ProcessOutcome::TimedOut:
        LogEvent("ffmpeg took more than 15 seconds to complete - aborted. Command line: %s", command.text.c_str());
        queue.StoreResult(clipPath, ThumbnailResult::Failure("ffmpeg took more than 15 seconds"));
        ::unlink(output.c_str());
        return;
    case platform::ProcessOutcome::Cancelled:
        LogEvent("ffmpeg was stopped because the thumbnail generator is stopping. Command line: %s",
                 command.text.c_str());
        ::unlink(output.c_str());
        return;
    case platform::ProcessOutcome::Exited:
        break;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        const std::string why = WIFSIGNALED(status) ? platform::FormatString("ffmpeg ended on signal %d", WTERMSIG(status))
                                                    : platform::FormatString("ffmpeg exited with status %d", WEXITSTATUS(status));
        LogEvent("%s. Command line: %s", why.c_str(), command.text.c_str());
        queue.StoreResult(clipPath, ThumbnailResult::Failure(why));
        ::unlink(output.c_str());
        return;
    }

    CJpegPicture picture = ReadPicture(output);
    if (!picture.Empty()) {
        ShareGrabbedThumbnail(clipPath, picture);
        LogEvent("Successfully generated thumbnail for [%s] in %u ms using ffmpeg", clipPath.c_str(),
                 static_cast<unsigned>(platform::GetTickCount() - start));
        if (GetWriteThumbnails())
            WriteThumbnailFile(clipPath, picture);
        queue.StoreResult(clipPath, ThumbnailResult(std::move(picture)));
    } else {
        LogEvent("Failed to read thumbnail JPEG created by ffmpeg. Command line: %s", command.text.c_str());
        queue.StoreResult(clipPath, ThumbnailResult::Failure("ffmpeg made no readable picture"));
    }
    ::unlink(output.c_str());
}
