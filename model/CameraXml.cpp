#include "model/CameraXml.h"

#include "model/XmlReader.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace {

// A whole run of decimal digits and nothing else, at most `limit`.
std::optional<long long> ParseCount(std::string_view text, long long limit)
{
    long long value = 0;
    if (text.empty() || text.size() > 12)
        return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0 || value > limit)
        return std::nullopt;
    return value;
}

std::optional<int> Digits(std::string_view text, std::size_t at, std::size_t count)
{
    if (at + count > text.size())
        return std::nullopt;
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

bool Is(std::string_view text, std::size_t at, char c)
{
    return at < text.size() && text[at] == c;
}

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// The offset at `at` ("Z", "+05:45", "-04:00") in minutes east of UTC, when it ends the text.
std::optional<int> ParseOffset(std::string_view text, std::size_t at)
{
    if (at + 1 == text.size() && text[at] == 'Z')
        return 0;
    if (at + 6 != text.size() || (text[at] != '+' && text[at] != '-') || !Is(text, at + 3, ':'))
        return std::nullopt;
    const auto hours = Digits(text, at + 1, 2), minutes = Digits(text, at + 4, 2);
    if (!hours || !minutes || *hours > 14 || *minutes > 59)
        return std::nullopt;
    const int offset = *hours * 60 + *minutes;
    return text[at] == '-' ? -offset : offset;
}

// Printable text of at most 100 bytes, cut only between characters.
std::string PrintableText(std::string_view text)
{
    std::string kept;
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f)
            kept += c;
    const std::size_t first = kept.find_first_not_of(' '), last = kept.find_last_not_of(' ');
    kept = first == std::string::npos ? std::string() : kept.substr(first, last - first + 1);
    constexpr std::size_t kLimit = 100;
    if (kept.size() > kLimit) {
        std::size_t cut = kLimit;
        while (cut > 0 && (static_cast<unsigned char>(kept[cut]) & 0xc0) == 0x80)
            --cut;  // not inside a UTF-8 sequence
        kept.resize(cut);
    }
    return kept;
}

std::string_view Text(const char* value)
{
    return value != nullptr ? std::string_view(value) : std::string_view();
}

// The frame rate a format's name gives ("59.94p", "50i": fields, so half as many frames).
std::optional<double> FormatRate(std::string_view text)
{
    double rate = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), rate);
    if (error != std::errc() || !(rate > 0 && rate < 1000))
        return std::nullopt;
    return end != text.data() + text.size() && *end == 'i' ? rate / 2 : rate;
}

// The facts a description's elements hold, put together once it is read.
struct DescriptionFields {
    std::optional<long long> frames;
    std::optional<long long> timecodeRate;
    bool halfStep = false;
    std::optional<double> formatRate;
    std::optional<RecordingTime> created;
    std::string manufacturer, model;

    void Take(const XmlElement& element, std::string_view parent)
    {
        if (element.depth == 3 && parent == "VideoFormat" && element.name == "VideoFrame") {
            formatRate = FormatRate(Text(element.Attribute("formatFps")));
            return;
        }
        if (element.depth != 2)
            return;
        if (element.name == "Duration") {
            frames = ParseCount(Text(element.Attribute("value")), 0x7fffffff);
        } else if (element.name == "LtcChangeTable") {
            timecodeRate = ParseCount(Text(element.Attribute("tcFps")), 500);
            halfStep = Text(element.Attribute("halfStep")) == "true";
        } else if (element.name == "CreationDate") {
            created = ParseDateTimeWithOffset(Text(element.Attribute("value")));
        } else if (element.name == "Device") {
            manufacturer = PrintableText(Text(element.Attribute("manufacturer")));
            model = PrintableText(Text(element.Attribute("modelName")));
        }
    }

    ClipDescription Description() const
    {
        ClipDescription description;
        description.created = created;
        if (frames && timecodeRate && *timecodeRate > 0) {
            double rate = static_cast<double>(*timecodeRate) * (halfStep ? 2 : 1);
            // A time code counts whole frames; the pictures of a "59.94p" clip come 1000/1001 as often.
            if (formatRate && std::abs(*formatRate - rate * 1000.0 / 1001.0) < 0.01)
                rate = rate * 1000.0 / 1001.0;
            description.duration = static_cast<double>(*frames) / rate;
        }
        description.device = manufacturer.empty() || model.empty() ? manufacturer + model : manufacturer + " " + model;
        return description;
    }
};

}  // namespace

std::optional<RecordingTime> ParseDateTimeWithOffset(std::string_view text)
{
    const auto year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
    const auto hour = Digits(text, 11, 2), minute = Digits(text, 14, 2), second = Digits(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second || !Is(text, 4, '-') || !Is(text, 7, '-') ||
        !Is(text, 10, 'T') || !Is(text, 13, ':') || !Is(text, 16, ':'))
        return std::nullopt;
    if (*year < 1 || *month < 1 || *month > 12 || *day < 1 || *day > DaysInMonth(*year, *month) || *hour > 23 ||
        *minute > 59 || *second > 59)
        return std::nullopt;
    std::size_t at = 19;
    if (Is(text, at, '.')) {
        ++at;
        const std::size_t digits = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9')
            ++at;
        if (at == digits)
            return std::nullopt;
    }
    const std::optional<int> offset = ParseOffset(text, at);
    if (!offset)
        return std::nullopt;
    RecordingTime time;
    time.year = *year;
    time.month = *month;
    time.day = *day;
    time.hour = *hour;
    time.minute = *minute;
    time.second = *second;
    time.zoneMinutes = *offset;
    return time;
}

std::optional<ClipDescription> ParseClipDescription(std::span<const std::uint8_t> document, std::string& problem)
{
    DescriptionFields fields;
    std::string parent, root;
    const bool read = ReadXml(document, [&](const XmlElement& element) {
        if (element.depth == 1) {
            root = element.name;
            return root == "NonRealTimeMeta";
        }
        if (element.depth == 2)
            parent = element.name;
        fields.Take(element, parent);
        return true;
    }, problem);
    if (!read)
        return std::nullopt;
    if (root != "NonRealTimeMeta") {
        problem = "its root element is " + (root.empty() ? std::string("missing") : root) + ", not NonRealTimeMeta";
        return std::nullopt;
    }
    return fields.Description();
}

std::optional<std::vector<MediaProfileClip>> ParseMediaProfile(std::span<const std::uint8_t> document,
                                                               std::string& problem)
{
    std::vector<MediaProfileClip> clips;
    std::string root;
    int materialDepth = 0;  // the depth of the Material being read, 0 outside one
    const bool read = ReadXml(document, [&](const XmlElement& element) {
        if (element.depth == 1) {
            root = element.name;
            return root == "MediaProfile";
        }
        if (element.depth <= materialDepth)
            materialDepth = 0;  // that Material has ended
        if (element.name == "Material") {
            clips.push_back({std::string(Text(element.Attribute("uri"))), {}});
            materialDepth = element.depth;
        } else if (element.name == "RelevantInfo" && materialDepth > 0 && element.depth == materialDepth + 1 &&
                   clips.back().picture.empty()) {
            const std::string_view type = Text(element.Attribute("type"));
            if (type == "JPG" || type == "jpg" || type == "JPEG")
                clips.back().picture = Text(element.Attribute("uri"));
        }
        return true;
    }, problem);
    if (!read)
        return std::nullopt;
    if (root != "MediaProfile") {
        problem = "its root element is " + (root.empty() ? std::string("missing") : root) + ", not MediaProfile";
        return std::nullopt;
    }
    return clips;
}

std::optional<ClipDescription> ReadClipDescription(const std::string& path, std::string& problem)
{
    std::vector<std::uint8_t> bytes;
    if (!ReadSmallFile(path, kMaxClipDescriptionBytes, bytes, problem))
        return std::nullopt;
    return ParseClipDescription(bytes, problem);
}

std::optional<std::vector<MediaProfileClip>> ReadMediaProfile(const std::string& path, std::string& problem)
{
    std::vector<std::uint8_t> bytes;
    if (!ReadSmallFile(path, kMaxMediaProfileBytes, bytes, problem))
        return std::nullopt;
    return ParseMediaProfile(bytes, problem);
}
