#include "thumbgen/FrameGrab.h"

#include "log/EventLog.h"

void GrabWithFFmpeg(ThumbnailQueue&, const std::string& clipPath)
{
    LogEvent("Thumbnail grab with ffmpeg is not available yet [%s]", clipPath.c_str());
}
