#include "thumbgen/FrameGrab.h"

#include "log/EventLog.h"

void GrabWithDirectShow(ThumbnailQueue&, const std::string& clipPath)
{
    LogEvent("Thumbnail grab through the media framework is not available yet [%s]", clipPath.c_str());
}
