#include "view/Skimming.h"

#include "log/EventLog.h"
#include "model/ClipDetails.h"
#include "model/ThumbnailSet.h"
#include "settings/Settings.h"
#include "view/FmtLayout.h"
#include "view/ScrollWnd.h"
#include "view/ThumbnailBitmap.h"

#include <wx/dc.h>
#include <wx/image.h>

#include <algorithm>
#include <cmath>

namespace {

const wxColour kBarTrack(32, 32, 32);
const wxColour kBarDone(255, 190, 0);

// A frame's picture as a bitmap of the given size (a strip made for a picture of another size is
// scaled to it).
std::unique_ptr<wxBitmap> DecodeFrame(const StripFrame& frame, const wxSize& size)
{
    const std::unique_ptr<CRgbImage> picture = frame.picture.Decode();
    if (!picture || picture->width <= 0 || picture->height <= 0)
        return nullptr;
    wxImage image(picture->width, picture->height, false);
    unsigned char* out = image.GetData();
    for (int y = 0; y < picture->height; ++y)
        for (int x = 0; x < picture->width; ++x, out += 3) {
            const std::uint8_t* in = picture->pixels.get() + picture->OffsetOf(x, y);
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    if (image.GetSize() != size)
        image.Rescale(size.x, size.y, wxIMAGE_QUALITY_HIGH);
    return std::make_unique<wxBitmap>(image, 24);
}

}  // namespace

CSkimming::CSkimming(CScrollWnd& view, CThumbnailGenerator& generator) : view_(view), generator_(generator)
{
    restTimer_.Bind(wxEVT_TIMER, &CSkimming::OnRest, this);
}

CSkimming::~CSkimming()
{
    restTimer_.Stop();
}

int CSkimming::FrameCount() const
{
    return target_ ? target_->request.frames : 0;
}

void CSkimming::PointerAt(const CFmtClip* clip, wxPoint contentPoint)
{
    const ThumbnailEntry* entry = clip != nullptr && clip->Thumbnails() != nullptr && clip->Clips() != nullptr
                                      ? clip->Thumbnails()->GetEntry(static_cast<int>(clip->Index()))
                                      : nullptr;
    const wxBitmap* thumbnail = entry != nullptr ? ThumbnailBitmap(*entry) : nullptr;
    const FmtRect cell = clip != nullptr ? clip->GetRect() : FmtRect{};
    const wxRect picture(cell.left + CFmtLayout::kPictureBorder, cell.top + CFmtLayout::kPictureBorder,
                         thumbnail != nullptr ? thumbnail->GetWidth() : 0, thumbnail != nullptr ? thumbnail->GetHeight() : 0);
    if (thumbnail == nullptr || !picture.Contains(contentPoint)) {
        Leave();
        return;
    }
    const std::pair<const CClipDetails*, std::uint32_t> identity(clip->Clips(), clip->Index());
    if (declined_ == identity)
        return;  // not skimmed (turned off, or its files cannot be examined) until the pointer leaves
    if (!Skims(*clip) || target_->picture != picture) {
        Leave();
        if (!Begin(*clip, picture)) {
            declined_ = identity;
            return;
        }
    }
    // The left edge stands for the start, the right edge for the end.
    const double share = picture.width > 1 ? static_cast<double>(contentPoint.x - picture.x) / (picture.width - 1) : 0;
    pointerFrame_ = std::clamp(static_cast<int>(std::lround(share * (FrameCount() - 1))), 0, FrameCount() - 1);
    ShowNearestFrame();
}

bool CSkimming::Begin(const CFmtClip& clip, const wxRect& picture)
{
    if (!settings::SkimClips.Read())
        return false;
    const CClipDetails& clips = *clip.Clips();
    const int index = static_cast<int>(clip.Index());
    std::vector<std::string> files;
    if (!clips.GetRecordingPaths(index, files))
        return false;
    Target target{&clips, clip.Index(), picture, StripKeyOf(files), {}};
    if (target.key.empty())
        return false;  // a file that cannot be examined (a pulled card)
    const std::vector<int> parts = clips.RecordingParts(index);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const CClipDetails::ClipEntry* part = i < parts.size() ? clips.GetEntry(parts[i]) : nullptr;
        target.request.parts.push_back({files[i], part != nullptr && part->duration ? *part->duration : 0.0});
    }
    target.request.frames = std::clamp((picture.width + kPixelsPerFrame / 2) / kPixelsPerFrame, 2, StripRequest::kMaxFrames);
    target.request.width = picture.width;
    target.request.height = picture.height;
    strip_ = cache_.Find(target.key);
    if (!strip_ && (strip_ = files_.Load(target.key)))
        cache_.Keep(target.key, strip_);
    if (strip_ && strip_->Count() >= 2)
        target.request.frames = strip_->Count();  // as it was made, whatever the picture's width now
    decoded_.clear();
    decoded_.resize(static_cast<std::size_t>(target.request.frames));
    // A strip that failed is not asked for again; what it made is still shown.
    const bool wanted = !strip_ && requested_.count(target.key) == 0 && failed_.count(target.key) == 0;
    target_ = std::move(target);
    if (wanted)
        restTimer_.StartOnce(kRestMilliseconds);
    return true;
}

void CSkimming::OnRest(wxTimerEvent&)
{
    if (!target_ || strip_ || requested_.count(target_->key) != 0)
        return;
    StripRequest request = target_->request;
    request.first = pointerFrame_;
    requested_[target_->key] = request.parts.front().path;
    generator_.EnqueueStrip({target_->key, std::move(request)});
}

void CSkimming::Leave()
{
    restTimer_.Stop();
    declined_.reset();
    if (target_ && shownFrame_ >= 0)
        RepaintPicture();
    target_.reset();
    strip_.reset();
    decoded_.clear();
    shownFrame_ = -1;
}

void CSkimming::Forget()
{
    Leave();
    requested_.clear();
}

void CSkimming::CollectFrames()
{
    using Kind = ThumbnailQueue::StripResult::Kind;
    ThumbnailQueue::StripResult result;
    bool targetGrew = false;
    while (generator_.TakeStripResult(result)) {
        if (result.kind != Kind::Frame) {
            const auto asked = requested_.find(result.key);
            if (result.kind == Kind::Failed && failed_.insert(result.key).second && asked != requested_.end())
                LogEvent("No strip for skimming [%s]: %s", asked->second.c_str(), result.why.c_str());
            if (asked != requested_.end())
                requested_.erase(asked);
            continue;
        }
        std::shared_ptr<Strip> strip = cache_.Find(result.key);
        if (!strip || strip->Count() != result.frames) {
            strip = std::make_shared<Strip>(result.frames);
            cache_.Keep(result.key, strip);
        }
        strip->Put(std::move(result.frame));
        cache_.Grew(result.key);
        if (target_ && target_->key == result.key) {
            strip_ = std::move(strip);
            targetGrew = true;
        }
    }
    if (targetGrew)
        ShowNearestFrame();
}

void CSkimming::ShowNearestFrame()
{
    const int nearest = strip_ && strip_->Count() == FrameCount() ? strip_->NearestMade(pointerFrame_) : -1;
    if (nearest == shownFrame_)
        return;
    shownFrame_ = nearest;
    RepaintPicture();
}

void CSkimming::RepaintPicture()
{
    wxRect client = target_->picture;
    client.Offset(-view_.ScrollPosition(wxHORIZONTAL), -view_.ScrollPosition(wxVERTICAL));
    view_.RefreshRect(client, false);
}

bool CSkimming::Skims(const CFmtClip& clip) const
{
    return target_ && target_->clips == clip.Clips() && target_->index == clip.Index();
}

const wxBitmap* CSkimming::PictureFor(const CFmtClip& clip) const
{
    if (shownFrame_ < 0 || !Skims(clip) || !strip_)
        return nullptr;
    const auto index = static_cast<std::size_t>(shownFrame_);
    if (!decoded_[index] && strip_->frames[index])
        decoded_[index] = DecodeFrame(*strip_->frames[index], target_->picture.GetSize());
    return decoded_[index].get();
}

void CSkimming::DecoratePicture(wxDC& dc, const CFmtClip& clip, const wxRect& picture) const
{
    if (shownFrame_ < 0 || !Skims(clip) || !strip_ || !strip_->frames[static_cast<std::size_t>(shownFrame_)])
        return;
    const StripFrame& frame = *strip_->frames[static_cast<std::size_t>(shownFrame_)];
    const double share = strip_->duration > 0 ? std::clamp(frame.seconds / strip_->duration, 0.0, 1.0) : 0.0;
    const int done = static_cast<int>(std::lround(share * picture.width));
    const wxRect bar(picture.x, picture.GetBottom() + 1 - kBarHeight, picture.width, kBarHeight);
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(kBarTrack));
    dc.DrawRectangle(bar);
    dc.SetBrush(wxBrush(kBarDone));
    dc.DrawRectangle(wxRect(bar.x, bar.y, std::max(done, 2), bar.height));
}
