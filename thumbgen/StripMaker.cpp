#include "thumbgen/StripMaker.h"

#include "imaging/RgbImage.h"
#include "log/EventLog.h"
#include "platform/MediaGraph.h"
#include "platform/Ticks.h"
#include "thumbgen/KeyFrameReader.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <utility>

std::vector<int> StripOrder(int frames, int first)
{
    std::vector<int> order;
    if (frames <= 0)
        return order;
    std::vector<bool> taken(static_cast<std::size_t>(frames), false);
    auto take = [&](int index) {
        if (index >= 0 && index < frames && !taken[static_cast<std::size_t>(index)]) {
            taken[static_cast<std::size_t>(index)] = true;
            order.push_back(index);
        }
    };
    take(std::clamp(first, 0, frames - 1));
    take(0);
    take(frames - 1);
    // The middles of the gaps, widest gaps first.
    std::deque<std::pair<int, int>> gaps{{0, frames - 1}};
    while (!gaps.empty()) {
        const auto [low, high] = gaps.front();
        gaps.pop_front();
        if (high - low < 2)
            continue;
        const int middle = (low + high) / 2;
        take(middle);
        gaps.emplace_back(low, middle);
        gaps.emplace_back(middle, high);
    }
    return order;
}

double StripFrameTime(int index, int frames, double duration)
{
    return frames > 1 ? duration * index / (frames - 1) : 0.0;
}

namespace {

// The graph of this thread, kept from strip to strip: its decoder chain is built once.
platform::MediaGraph* ThreadGraph()
{
    thread_local std::unique_ptr<platform::MediaGraph> graph = platform::MediaGraph::Create();
    return graph.get();
}

// The recording's files, opened when first needed and closed with the strip.
class Recording {
public:
    explicit Recording(const std::vector<StripPart>& parts) : parts_(parts), readers_(parts.size()) {}

    // Opens every file whose length is not known, to read it; false when none can be read.
    bool Measure(std::string& why)
    {
        total_ = 0;
        bool any = false;
        for (std::size_t i = 0; i < parts_.size(); ++i) {
            if (parts_[i].seconds <= 0 && Reader(i) != nullptr)
                parts_[i].seconds = readers_[i]->Duration();
            any = any || parts_[i].seconds > 0 || readers_[i] != nullptr;
            total_ += std::max(0.0, parts_[i].seconds);
        }
        if (!any)
            why = problem_.empty() ? "no file of the recording could be read" : problem_;
        return any;
    }
    double Duration() const { return total_; }

    // The key frame nearest a time of the recording: the part it falls in and the time in it.
    std::optional<StripFrame> Nearest(double seconds, std::string& why)
    {
        double start = 0;
        std::size_t part = 0;
        while (part + 1 < parts_.size() && seconds >= start + parts_[part].seconds) {
            start += parts_[part].seconds;
            ++part;
        }
        CKeyFrameReader* reader = Reader(part);
        if (reader == nullptr) {
            why = problem_;
            return std::nullopt;
        }
        const std::optional<CKeyFrameReader::KeyFrame> key = reader->Nearest(seconds - start);
        if (!key) {
            why = reader->Problem();
            return std::nullopt;
        }
        keyFrame_ = *key;
        StripFrame frame;
        frame.seconds = std::min(total_, start + key->seconds);
        frame.duration = total_;
        return frame;
    }
    const CKeyFrameReader::KeyFrame& KeyFrame() const { return keyFrame_; }

private:
    CKeyFrameReader* Reader(std::size_t part)
    {
        if (!readers_[part]) {
            auto reader = std::make_unique<CKeyFrameReader>();
            if (!reader->Open(parts_[part].path)) {
                problem_ = reader->Problem();
                LogEvent("No strip frames from [%s]: %s", parts_[part].path.c_str(), problem_.c_str());
                return nullptr;
            }
            readers_[part] = std::move(reader);
        }
        return readers_[part].get();
    }

    std::vector<StripPart> parts_;
    std::vector<std::unique_ptr<CKeyFrameReader>> readers_;
    double total_ = 0;
    std::string problem_;
    CKeyFrameReader::KeyFrame keyFrame_;
};

// The held key frame stretched to the strip's size and compressed.
bool Compress(const platform::MediaGraph& graph, int width, int height, CJpegPicture& picture)
{
    const platform::DeviceBitmap frame = graph.StretchCurrentImage(width, height);
    CRgbImage image;
    return !frame.bits.empty() && image.FromBitmap(frame) && picture.Compress(image);
}

}  // namespace

bool MakeStrip(const StripRequest& request, const std::function<bool(StripFrame)>& deliver,
               const std::function<bool()>& cancelled, std::string* why)
{
    std::string problem;
    const std::uint32_t start = platform::GetTickCount();
    const std::string& name = request.parts.empty() ? std::string() : request.parts.front().path;
    LogEvent("Making a strip of %d frames for [%s]", request.frames, name.c_str());
    platform::MediaGraph* graph = ThreadGraph();
    Recording recording(request.parts);
    int made = 0;
    if (graph == nullptr)
        problem = "the media framework cannot be set up";
    else if (request.parts.empty() || request.frames < 1 || request.width < 1 || request.height < 1)
        problem = "nothing to make";
    else if (recording.Measure(problem)) {
        for (const int index : StripOrder(request.frames, request.first)) {
            if (cancelled && cancelled())
                break;
            std::string frameProblem;
            std::optional<StripFrame> frame =
                recording.Nearest(StripFrameTime(index, request.frames, recording.Duration()), frameProblem);
            if (frame) {
                std::vector<platform::MediaGraph::CodedPicture> coded;
                for (const CKeyFrameReader::CodedPicture& picture : recording.KeyFrame().pictures)
                    coded.push_back({picture.bytes, picture.pts});
                if (!graph->DecodePictures(coded, kStripFrameLimit, cancelled))
                    frameProblem = graph->FailureReason();
                else if (!Compress(*graph, request.width, request.height, frame->picture))
                    frameProblem = "the frame could not be compressed";
            }
            if (!frameProblem.empty()) {
                LogEvent("Strip frame %d of [%s] left out: %s", index, name.c_str(), frameProblem.c_str());
                problem = frameProblem;
                continue;
            }
            frame->index = index;
            ++made;
            if (!deliver(std::move(*frame)))
                break;
        }
    }
    LogEvent("Made %d strip frames in %u ms", made, static_cast<unsigned>(platform::GetTickCount() - start));
    if (why != nullptr)
        *why = made > 0 ? std::string() : problem.empty() ? "no frame could be made" : problem;
    return made > 0;
}
