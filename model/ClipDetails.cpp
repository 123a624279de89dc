#include "model/ClipDetails.h"

#include "platform/Format.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <optional>
#include <unordered_map>

namespace {

// Listed in this order: every *.MTS file before every *.m2ts file.
constexpr const char* kPatterns[] = {"*.MTS", "*.m2ts"};
constexpr const char* kVideoPatterns[] = {"*.MP4", "*.MOV"};

constexpr std::array<const char*, 13> kMonthNames = {
    "", "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

const char* MonthName(int month)
{
    return (month >= 0 && month < static_cast<int>(kMonthNames.size())) ? kMonthNames[static_cast<std::size_t>(month)] : "";
}

// The number at the start of a name, read the way atoi reads it (leading blanks and a sign,
// digits up to the first non-digit, 0 when there are none), or nothing when it lies outside
// 0..kMaxNumberedSlot. Saturates instead of overflowing on long digit runs.
std::optional<int> LeadingSlotNumber(const std::string& name)
{
    std::size_t i = 0;
    while (i < name.size() && std::isspace(static_cast<unsigned char>(name[i])))
        ++i;
    bool negative = false;
    if (i < name.size() && (name[i] == '+' || name[i] == '-')) {
        negative = name[i] == '-';
        ++i;
    }
    long long number = 0;
    for (; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) {
        number = number * 10 + (name[i] - '0');
        if (number > CClipDetails::kMaxNumberedSlot)
            return std::nullopt;
    }
    if (negative && number != 0)
        return std::nullopt;
    return static_cast<int>(number);
}

platform::CalendarFields CalendarOf(const CClipDetails::ClipEntry& entry)
{
    if (entry.recorded)
        return entry.recorded->WallClock();
    platform::CalendarFields fields;  // zero when the conversion fails
    platform::FileTimeToCalendar(entry.lastWriteTime, fields);
    return fields;
}

int DateKeyOf(const CClipDetails::ClipEntry& entry)
{
    const platform::CalendarFields t = CalendarOf(entry);
    return (t.year * 100 + t.month) * 100 + t.day;
}

}  // namespace

CClipDetails::CClipDetails(bool numbered, const std::string& directory) : numbered_(numbered)
{
    Load(directory);
}

CClipDetails::CClipDetails(bool numbered, const std::string& directory,
                           const std::vector<platform::DirEntry>& listing, Files files)
    : numbered_(numbered), files_(files)
{
    Load(directory, listing);
}

std::optional<int> CClipDetails::NumberedSlotOf(const std::string& name)
{
    return LeadingSlotNumber(name);
}

namespace {

// Whether a name ends with one of the extensions ("MTS" for "*.MTS"), in any case: what the
// patterns match, without a pattern match for every name of every folder a scan lists.
bool HasExtension(std::string_view name, const char* const (&patterns)[2])
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return false;
    const std::string_view extension = name.substr(dot + 1);
    return platform::EqualsIgnoreCase(extension, patterns[0] + 2) || platform::EqualsIgnoreCase(extension, patterns[1] + 2);
}

}  // namespace

bool CClipDetails::IsStreamFileName(std::string_view name)
{
    return HasExtension(name, kPatterns);
}

bool CClipDetails::IsVideoFileName(std::string_view name)
{
    return HasExtension(name, kVideoPatterns);
}

namespace {

CClipDetails::ClipEntry EntryOf(const platform::DirEntry& found)
{
    CClipDetails::ClipEntry entry;
    entry.name = found.name;
    entry.lastWriteTime = found.hasDetails ? platform::FileTimeFromUnix(found.mtimeSeconds, found.mtimeNanoseconds)
                                           : platform::UnconvertibleFileTime;
    entry.sizeLow = static_cast<std::uint32_t>(found.size & 0xffffffffu);
    entry.sizeHigh = static_cast<std::uint32_t>(found.size >> 32);
    entry.valid = true;
    entry.dateKey = DateKeyOf(entry);
    return entry;
}

}  // namespace

void CClipDetails::Load(const std::string& directory)
{
    std::vector<platform::DirEntry> listing;
    platform::ListDirectory(platform::WithoutTrailingSlash(directory), listing, IsStreamFileName);
    Load(directory, listing);
}

void CClipDetails::Load(const std::string& directory, const std::vector<platform::DirEntry>& listing)
{
    slots_.clear();
    directory_ = platform::WithoutTrailingSlash(directory);

    std::vector<ClipEntry> unplaced;
    if (files_ == Files::Videos) {
        // A camera names its MP4 and MOV clips in recording order: the listing's.
        for (const platform::DirEntry& found : listing)
            if (!found.isDirectory && IsVideoFileName(found.name))
                AddEntry(EntryOf(found), unplaced);
    } else {
        // One listing serves both patterns; each pattern keeps the listing order.
        for (const char* pattern : kPatterns)
            for (const platform::DirEntry* found : platform::FilterEntries(listing, pattern))
                AddEntry(EntryOf(*found), unplaced);
    }
    for (ClipEntry& entry : unplaced)
        slots_.push_back(std::move(entry));
}

void CClipDetails::AddEntry(const ClipEntry& entry, std::vector<ClipEntry>& unplaced)
{
    if (!numbered_) {
        slots_.push_back(entry);
        return;
    }
    const std::optional<int> slot = LeadingSlotNumber(entry.name);
    if (!slot) {
        unplaced.push_back(entry);
        return;
    }
    if (static_cast<std::size_t>(*slot) >= slots_.size())
        slots_.resize(static_cast<std::size_t>(*slot) + 1);
    slots_[static_cast<std::size_t>(*slot)] = entry;
}

const CClipDetails::ClipEntry* CClipDetails::GetEntry(int index) const
{
    if (index < 0 || index >= GetCount() || !slots_[static_cast<std::size_t>(index)].valid)
        return nullptr;
    return &slots_[static_cast<std::size_t>(index)];
}

bool CClipDetails::SetRecordingTime(int index, const RecordingTime& time)
{
    if (GetEntry(index) == nullptr)
        return false;
    slots_[static_cast<std::size_t>(index)].recorded = time;
    slots_[static_cast<std::size_t>(index)].dateKey = DateKeyOf(slots_[static_cast<std::size_t>(index)]);
    return true;
}

bool CClipDetails::GetClipPath(int index, std::string& path) const
{
    const ClipEntry* entry = GetEntry(index);
    if (entry == nullptr)
        return false;
    path = platform::JoinPath(directory_, entry->name);
    return true;
}

bool CClipDetails::FormatCaption(int index, std::string& caption) const
{
    const ClipEntry* entry = GetEntry(index);
    if (entry == nullptr) {
        caption = platform::FormatString("Clip %d not found", index);
        return false;
    }
    const double megabytes = static_cast<double>(RecordingSize(index)) / 1048576.0;
    const bool gigabytes = megabytes >= 10240.0;
    const double value = gigabytes ? megabytes / 1024.0 : megabytes;
    const char* unit = gigabytes ? "GB" : "MB";
    const platform::CalendarFields t = CalendarOf(*entry);
    if (numbered_)
        caption = platform::FormatString("Clip %d (%.1f %s, %02d:%02d:%02d %d-%s-%d)", index, value, unit, t.hour,
                                         t.minute, t.second, t.day, MonthName(t.month), t.year);
    else
        caption = platform::FormatString("%s (%.1f %s, %02d:%02d:%02d %d-%s-%d)", entry->name.c_str(), value, unit,
                                         t.hour, t.minute, t.second, t.day, MonthName(t.month), t.year);
    return true;
}

int CClipDetails::GetDateKey(int index) const
{
    const ClipEntry* entry = GetEntry(index);
    return entry != nullptr ? entry->dateKey : 0;
}

std::string CClipDetails::FormatDate(int index) const
{
    const ClipEntry* entry = GetEntry(index);
    if (entry == nullptr)
        return {};
    const platform::CalendarFields t = CalendarOf(*entry);
    return platform::FormatString("%d-%s-%d", t.day, MonthName(t.month), t.year);
}

bool CClipDetails::SetStreamDuration(int index, double seconds)
{
    if (GetEntry(index) == nullptr || Slot(index).durationFromPlaylist)
        return false;
    Slot(index).duration = seconds;
    return true;
}

bool CClipDetails::SetPictureProblem(int index, std::string why)
{
    if (GetEntry(index) == nullptr)
        return false;
    Slot(index).pictureProblem = std::move(why);
    return true;
}

bool CClipDetails::SetImportedTo(int index, std::string file)
{
    if (GetEntry(index) == nullptr)
        return false;
    Slot(index).importedTo = std::move(file);
    return true;
}

bool CClipDetails::SetCamera(int index, std::string camera)
{
    if (GetEntry(index) == nullptr)
        return false;
    Slot(index).camera = std::move(camera);
    return true;
}

int CClipDetails::PreviousFile(int index) const
{
    for (int slot = index - 1; slot >= 0; --slot)
        if (GetEntry(slot) != nullptr)
            return slot;
    return -1;
}

bool CClipDetails::ApplyPlaylist(const CardPlaylist& playlist, std::string& problem)
{
    // Stream files by the five digits a play item names them with.
    std::unordered_map<std::string, int> byNumber;
    for (int slot = 0; slot < GetCount(); ++slot)
        if (const ClipEntry* entry = GetEntry(slot); entry != nullptr && entry->name.find('.') == 5)
            byNumber.emplace(entry->name.substr(0, 5), slot);

    std::vector<int> itemSlots;
    std::vector<bool> named(slots_.size(), false);
    for (const PlayItem& item : playlist.items) {
        const auto found = byNumber.find(item.clipName);
        if (found == byNumber.end()) {
            problem = "it names " + item.clipName + ", which is not in the folder";
            return false;
        }
        if (named[static_cast<std::size_t>(found->second)]) {
            problem = "it names " + item.clipName + " twice";
            return false;
        }
        named[static_cast<std::size_t>(found->second)] = true;
        itemSlots.push_back(found->second);
    }
    for (std::size_t i = 0; i < playlist.items.size(); ++i) {
        if (!playlist.items[i].ContinuesPrevious())
            continue;
        if (i == 0) {
            problem = "its first item continues no recording";
            return false;
        }
        if (PreviousFile(itemSlots[i]) != itemSlots[i - 1]) {
            problem = platform::FormatString("%s continues %s, but is not the file after it on the card",
                                             playlist.items[i].clipName.c_str(),
                                             playlist.items[i - 1].clipName.c_str());
            return false;
        }
    }

    int recordingStart = -1;
    for (std::size_t i = 0; i < playlist.items.size(); ++i) {
        ClipEntry& entry = Slot(itemSlots[i]);
        entry.duration = playlist.items[i].Seconds();
        entry.durationFromPlaylist = true;
        if (playlist.items[i].ContinuesPrevious()) {
            entry.continues = recordingStart;
            Slot(recordingStart).continuations.push_back(itemSlots[i]);
        } else {
            recordingStart = itemSlots[i];
        }
    }
    return true;
}

bool CClipDetails::IsContinuation(int index) const
{
    const ClipEntry* entry = GetEntry(index);
    return joined_ && entry != nullptr && entry->continues >= 0;
}

int CClipDetails::ClipCount() const
{
    return static_cast<int>(std::count_if(slots_.begin(), slots_.end(), [this](const ClipEntry& entry) {
        return entry.valid && !(joined_ && entry.continues >= 0);
    }));
}

std::vector<int> CClipDetails::RecordingParts(int index) const
{
    const ClipEntry* entry = GetEntry(index);
    if (entry == nullptr)
        return {};
    std::vector<int> parts{index};
    if (joined_)
        parts.insert(parts.end(), entry->continuations.begin(), entry->continuations.end());
    return parts;
}

bool CClipDetails::GetRecordingPaths(int index, std::vector<std::string>& paths) const
{
    const std::vector<int> parts = RecordingParts(index);
    for (int part : parts)
        paths.push_back(platform::JoinPath(directory_, Slot(part).name));
    return !parts.empty();
}

std::uint64_t CClipDetails::RecordingSize(int index) const
{
    std::uint64_t size = 0;
    for (int part : RecordingParts(index))
        size += Slot(part).Size();
    return size;
}

std::optional<double> CClipDetails::RecordingDuration(int index) const
{
    const std::vector<int> parts = RecordingParts(index);
    double seconds = 0;
    for (int part : parts) {
        if (!Slot(part).duration)
            return std::nullopt;
        seconds += *Slot(part).duration;
    }
    return parts.empty() ? std::nullopt : std::optional<double>(seconds);
}

std::pair<int, int> CClipDetails::PartOfRecording(int index) const
{
    const ClipEntry* entry = GetEntry(index);
    if (entry == nullptr)
        return {0, 0};
    if (!joined_ || entry->continues < 0)
        return {1, static_cast<int>(RecordingParts(index).size())};
    const std::vector<int> parts = RecordingParts(entry->continues);
    const auto at = std::find(parts.begin(), parts.end(), index);
    return {static_cast<int>(at - parts.begin()) + 1, static_cast<int>(parts.size())};
}

std::string CClipDetails::FormatDuration(double seconds)
{
    const long long total = std::llround(std::max(0.0, seconds));
    if (total >= 3600)
        return platform::FormatString("%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
    return platform::FormatString("%lld:%02lld", total / 60, total % 60);
}

std::string CClipDetails::FormatDetails(int index) const
{
    const ClipEntry* entry = GetEntry(index);
    if (entry == nullptr)
        return {};
    const std::optional<double> duration = RecordingDuration(index);
    const std::size_t files = RecordingParts(index).size();
    const platform::CalendarFields t = CalendarOf(*entry);
    std::string when = platform::FormatString("%02d:%02d:%02d %d-%s-%d", t.hour, t.minute, t.second, t.day,
                                              MonthName(t.month), t.year);
    if (entry->recorded) {
        const int offset = entry->recorded->OffsetMinutes();
        const int magnitude = offset < 0 ? -offset : offset;
        when = platform::FormatString("recorded %s UTC%c%02d:%02d", when.c_str(), offset < 0 ? '-' : '+',
                                      magnitude / 60, magnitude % 60);
    } else {
        when = "file time " + when + " UTC";
    }
    std::string details = platform::FormatString("%s: %s, %zu file%s, %s", entry->name.c_str(),
                                                 duration ? FormatDuration(*duration).c_str() : "length unknown",
                                                 files, files == 1 ? "" : "s", when.c_str());
    if (!entry->camera.empty())
        details += ", camera " + entry->camera;
    if (!entry->pictureProblem.empty())
        details += "; no picture: " + entry->pictureProblem;
    if (!entry->importedTo.empty())
        details += "; imported as " + entry->importedTo;
    return details;
}
