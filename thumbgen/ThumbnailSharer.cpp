#include "thumbgen/ThumbnailSharer.h"

#include "log/EventLog.h"
#include "platform/ThreadPriority.h"
#include "settings/Settings.h"
#include "thumbgen/SharedThumbnails.h"

#include <cerrno>
#include <cstring>

namespace {

void LowerPriority()
{
    if (!platform::LowerCallingThreadToIdlePriority())
        LogEvent("Could not lower the priority of the shared thumbnail writer: %s", std::strerror(errno));
}

}  // namespace

CThumbnailSharer::CThumbnailSharer()
    : writer_([](Waiting& waiting) { ShareGrabbedThumbnail(waiting.clipPath, waiting.picture); }, LowerPriority)
{
    if (!writer_.StartFailure().empty())
        LogEvent("Failed to start the shared thumbnail writer (%s); pictures are shared as they come",
                 writer_.StartFailure().c_str());
}

void CThumbnailSharer::Add(const std::string& clipPath, const CJpegPicture& picture)
{
    if (!settings::ShareThumbnails.Read())
        return;
    Waiting waiting{clipPath, picture};
    if (!writer_.Add(waiting, kMaxWaiting))
        ShareGrabbedThumbnail(waiting.clipPath, waiting.picture);
}
