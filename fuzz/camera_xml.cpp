// Arbitrary bytes as the XML files a camera writes beside its MP4 clips: a clip's description
// and the card's list of clips. The parser refuses or reads them whole; what a description
// gives is possible (a real date, a zone within a day, a positive finite length, printable text)
// and a list's clips are as many as it names.
#include "model/CameraXml.h"

#include <cmath>
#include <cstdlib>

namespace {

void Check(bool holds)
{
    if (!holds)
        std::abort();
}

void CheckDescription(const ClipDescription& description)
{
    if (const auto& t = description.created) {
        Check(t->month >= 1 && t->month <= 12 && t->day >= 1 && t->day <= 31 && t->hour <= 23 && t->minute <= 59 &&
              t->second <= 59 && t->zoneMinutes >= -14 * 60 - 59 && t->zoneMinutes <= 14 * 60 + 59);
        Check(!t->daylightSaving);
    }
    if (description.duration)
        Check(std::isfinite(*description.duration) && *description.duration >= 0);
    Check(description.device.size() <= 2 * 100 + 1);
    for (const char c : description.device)
        Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string problem;
    const std::span<const std::uint8_t> bytes(data, size);
    const std::optional<ClipDescription> description = ParseClipDescription(bytes, problem);
    Check(description.has_value() == problem.empty());
    if (description)
        CheckDescription(*description);
    problem.clear();
    const auto clips = ParseMediaProfile(bytes, problem);
    Check(clips.has_value() == problem.empty());
    if (clips)
        Check(clips->size() <= size / 10);  // "<Material" is longer than that
    return 0;
}
