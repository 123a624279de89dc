#include "import/ImportNames.h"

#include <array>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kMaxPartBytes = 255;
// Room kept in the last part for " (999)" and the extension.
constexpr std::size_t kSuffixRoom = 6;

bool RefusedByFat(unsigned char c)
{
    return c < 0x20 || c == 0x7f || std::strchr("<>:\"\\|?*", c) != nullptr;
}

// The length of the valid UTF-8 sequence at `at`, or 0.
std::size_t Utf8Length(const std::string& text, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[at + i]) & 0xc0) != 0x80)
            return 0;
    if (length == 2 && lead < 0xc2)
        return 0;  // an overlong form
    return length;
}

bool IsDeviceName(const std::string& part)
{
    static const std::array<const char*, 4> kNames = {"CON", "PRN", "AUX", "NUL"};
    const std::string stem = part.substr(0, part.find('.'));
    std::string upper;
    for (const char c : stem)
        upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    for (const char* name : kNames)
        if (upper == name)
            return true;
    return upper.size() == 4 && (upper.rfind("COM", 0) == 0 || upper.rfind("LPT", 0) == 0) && upper[3] >= '1' &&
           upper[3] <= '9';
}

// Cuts to at most `limit` bytes without splitting a UTF-8 sequence.
std::string CutTo(const std::string& text, std::size_t limit)
{
    if (text.size() <= limit)
        return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xc0) == 0x80)
        --end;
    return text.substr(0, end);
}

std::vector<std::string> SplitParts(const std::string& path)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t slash = path.find('/'); start <= path.size(); slash = path.find('/', start)) {
        const std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (!part.empty())
            parts.push_back(part);
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return parts;
}

std::string Strftime(const std::string& pattern, const std::tm& fields)
{
    if (pattern.empty())
        return {};
    // strftime gives 0 both for an empty result and for one that does not fit: grow until the
    // marker put after the pattern comes out.
    const std::string marked = pattern + "\x01";
    for (std::size_t size = 256; size <= 65536; size *= 4) {
        std::vector<char> out(size);
        const std::size_t length = std::strftime(out.data(), out.size(), marked.c_str(), &fields);
        if (length > 0)
            return std::string(out.data(), length - 1);
    }
    return {};
}

}  // namespace

std::string SafePathPart(const std::string& part)
{
    std::string safe;
    for (std::size_t at = 0; at < part.size();) {
        const std::size_t length = Utf8Length(part, at);
        if (length == 0 || (length == 1 && RefusedByFat(static_cast<unsigned char>(part[at])))) {
            safe += '_';
            at += length == 0 ? 1 : length;
            continue;
        }
        safe.append(part, at, length);
        at += length;
    }
    while (!safe.empty() && safe.front() == ' ')
        safe.erase(0, 1);
    if (safe.empty() || safe == "." || safe == "..")
        return "_";
    // Windows drops a trailing dot or space, so two names could become one there.
    while (!safe.empty() && (safe.back() == '.' || safe.back() == ' '))
        safe.back() = '_';
    if (IsDeviceName(safe))
        safe = "_" + safe;
    return CutTo(safe, kMaxPartBytes);
}

std::string ExpandImportName(const std::string& pattern, const NameTime& time, const std::string& extension)
{
    std::vector<std::string> parts;
    for (const std::string& part : SplitParts(pattern)) {
        const std::string expanded = Strftime(part, time.fields);
        // A field may itself give a "/" (%D): it makes folders as a written one does.
        for (const std::string& piece : SplitParts(expanded))
            parts.push_back(SafePathPart(piece));
    }
    if (parts.empty())
        parts.push_back(SafePathPart(Strftime("%Y-%m-%d %H-%M-%S", time.fields)));
    std::string& last = parts.back();
    last = CutTo(last, kMaxPartBytes - kSuffixRoom - extension.size()) + extension;
    std::string path;
    for (const std::string& part : parts)
        path += (path.empty() ? "" : "/") + part;
    return path;
}

std::string NumberedName(const std::string& path, int n)
{
    if (n <= 1)
        return path;
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot <= nameStart)
        dot = path.size();
    return path.substr(0, dot) + " (" + std::to_string(n) + ")" + path.substr(dot);
}

bool IsUsableNamePattern(const std::string& pattern, std::string& problem)
{
    if (SplitParts(pattern).empty()) {
        problem = "the name pattern is empty";
        return false;
    }
    return true;
}
