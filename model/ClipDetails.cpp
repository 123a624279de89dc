#include "model/ClipDetails.h"

#include "platform/Format.h"

#include <array>
#include <cctype>
#include <optional>

namespace {

// Listed in this order: every *.MTS file before every *.m2ts file.
constexpr const char* kPatterns[] = {"*.MTS", "*.m2ts"};

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

}  // namespace

CClipDetails::CClipDetails(bool numbered, const std::string& directory) : numbered_(numbered)
{
    Load(directory);
}

CClipDetails::CClipDetails(bool numbered, const std::string& directory,
                           const std::vector<platform::DirEntry>& listing)
    : numbered_(numbered)
{
    Load(directory, listing);
}

bool CClipDetails::IsStreamFileName(std::string_view name)
{
    return platform::MatchesPattern(name, kPatterns[0]) || platform::MatchesPattern(name, kPatterns[1]);
}

void CClipDetails::Load(const std::string& directory)
{
    std::vector<platform::DirEntry> listing;
    std::string listed = directory;
    if (listed.size() > 1 && listed.back() == '/')
        listed.pop_back();
    platform::ListDirectory(listed, listing, IsStreamFileName);
    Load(directory, listing);
}

void CClipDetails::Load(const std::string& directory, const std::vector<platform::DirEntry>& listing)
{
    slots_.clear();
    directory_ = directory;
    if (directory_.size() > 1 && directory_.back() == '/')
        directory_.pop_back();

    // One listing serves both patterns; each pattern keeps the listing order.
    std::vector<ClipEntry> unplaced;
    for (const char* pattern : kPatterns) {
        for (const platform::DirEntry* found : platform::FilterEntries(listing, pattern)) {
            ClipEntry entry;
            entry.name = found->name;
            entry.lastWriteTime = found->hasDetails
                                      ? platform::FileTimeFromUnix(found->mtimeSeconds, found->mtimeNanoseconds)
                                      : platform::UnconvertibleFileTime;
            entry.sizeLow = static_cast<std::uint32_t>(found->size & 0xffffffffu);
            entry.sizeHigh = static_cast<std::uint32_t>(found->size >> 32);
            entry.valid = true;
            AddEntry(entry, unplaced);
        }
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
    const double megabytes =
        (static_cast<double>(entry->sizeHigh) * 4294967296.0 + static_cast<double>(entry->sizeLow)) / 1048576.0;
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
    if (entry == nullptr)
        return 0;
    const platform::CalendarFields t = CalendarOf(*entry);
    return (t.year * 100 + t.month) * 100 + t.day;
}

std::string CClipDetails::FormatDate(int index) const
{
    const ClipEntry* entry = GetEntry(index);
    if (entry == nullptr)
        return {};
    const platform::CalendarFields t = CalendarOf(*entry);
    return platform::FormatString("%d-%s-%d", t.day, MonthName(t.month), t.year);
}
