#include "thumbgen/StripCollector.h"

#include "log/EventLog.h"

using Kind = ThumbnailQueue::StripResult::Kind;

bool CStripCollector::Take(StripFrame frame)
{
    if (!strip_.Put(frame))
        return false;
    queue_.StoreStripResult(ThumbnailQueue::StripResult::Of(job_.key, Kind::Frame, strip_.Count(), std::move(frame)));
    return true;
}

void CStripCollector::Finish(const std::string& why)
{
    // Only a whole strip is kept: a frame left out may be a card pulled for a moment, not the clip.
    if (strip_.Made() == strip_.Count() && !files_.Save(job_.key, strip_))
        LogEvent("Could not keep the strip of [%s] in [%s]", Name().c_str(), files_.Folder().c_str());
    queue_.StoreStripResult(
        ThumbnailQueue::StripResult::Of(job_.key, strip_.Made() > 0 ? Kind::Finished : Kind::Failed, strip_.Count(), {}, why));
}

void CStripCollector::Fail(const std::string& why)
{
    queue_.StoreStripResult(ThumbnailQueue::StripResult::Of(job_.key, Kind::Failed, strip_.Count(), {}, why));
}

void CStripCollector::MakeHere(const std::function<bool()>& cancelled)
{
    std::string why;
    MakeStrip(job_.request, [this](StripFrame frame) { return Take(std::move(frame)); }, cancelled, &why);
    Finish(why);
}

std::string CStripCollector::Name() const
{
    return job_.request.parts.empty() ? std::string() : job_.request.parts.front().path;
}
