#include "settings/RegistryFile.h"

#include <cstdio>

#include "platform/FileSystem.h"

#include <vector>

namespace settings {
namespace {

// One logical line: a physical line, joined with the lines that continue it ("\" at the end).
struct LogicalLine {
    std::size_t begin = 0;   // offset of the first byte
    std::size_t end = 0;     // offset after the last line ending
    std::string text;        // content without line endings or continuation marks
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// Reads the next physical line starting at `pos`; returns its content without "\r\n" or "\n".
std::string_view NextPhysicalLine(std::string_view text, std::size_t& pos)
{
    const std::size_t start = pos;
    std::size_t newline = text.find('\n', start);
    std::size_t contentEnd = newline == std::string_view::npos ? text.size() : newline;
    pos = newline == std::string_view::npos ? text.size() : newline + 1;
    if (contentEnd > start && text[contentEnd - 1] == '\r')
        --contentEnd;
    return text.substr(start, contentEnd - start);
}

bool NextLogicalLine(std::string_view text, std::size_t& pos, LogicalLine& line)
{
    if (pos >= text.size())
        return false;
    line.begin = pos;
    line.text.clear();
    std::string_view physical = NextPhysicalLine(text, pos);
    // Only hex data continues over lines; a quoted string never does.
    const bool isHexValue = !physical.empty() && physical.front() == '"' &&
                            physical.find("=hex") != std::string_view::npos;
    // A mark on the file's last line continues onto nothing, as onto a blank line: so a line the
    // writer appends after it (a blank line first) changes nothing of how it reads.
    while (isHexValue && !TrimBlanks(physical).empty() && TrimBlanks(physical).back() == '\\') {
        std::string_view trimmed = TrimBlanks(physical);
        line.text.append(trimmed.substr(0, trimmed.size() - 1));
        physical = pos < text.size() ? TrimBlanks(NextPhysicalLine(text, pos)) : std::string_view();
    }
    line.text.append(physical);
    line.end = pos;
    return true;
}

bool IsSectionLine(std::string_view text, std::string_view& key)
{
    std::string_view trimmed = TrimBlanks(text);
    if (trimmed.size() < 2 || trimmed.front() != '[' || trimmed.back() != ']')
        return false;
    key = trimmed.substr(1, trimmed.size() - 2);
    return true;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Parses a quoted text at the start of `s` with the escapes \\ and \"; advances `s` past it.
bool ParseQuoted(std::string_view& s, std::string& out)
{
    if (s.empty() || s.front() != '"')
        return false;
    out.clear();
    std::size_t i = 1;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '"') {
            s.remove_prefix(i + 1);
            return true;
        }
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
            out.push_back(s[i + 1]);
            i += 2;
            continue;
        }
        out.push_back(c);
        ++i;
    }
    return false;
}

bool ParseHexBytes(std::string_view s, std::string& out)
{
    out.clear();
    s = TrimBlanks(s);
    while (!s.empty()) {
        if (s.size() < 2)
            return false;
        const int high = HexDigit(s[0]), low = HexDigit(s[1]);
        if (high < 0 || low < 0)
            return false;
        out.push_back(static_cast<char>(high * 16 + low));
        s.remove_prefix(2);
        s = TrimBlanks(s);
        if (s.empty())
            break;
        if (s.front() != ',')
            return false;
        s.remove_prefix(1);
        s = TrimBlanks(s);
    }
    return true;
}

bool ParseData(std::string_view s, RegistryValue& value)
{
    s = TrimBlanks(s);
    if (!s.empty() && s.front() == '"') {
        std::string text;
        if (!ParseQuoted(s, text) || !TrimBlanks(s).empty())
            return false;
        value.type = kRegString;
        value.data = std::move(text);
        value.data.push_back('\0');
        return true;
    }
    if (s.substr(0, 6) == "dword:") {
        s.remove_prefix(6);
        if (s.empty() || s.size() > 8)
            return false;
        std::uint32_t number = 0;
        for (char c : s) {
            const int digit = HexDigit(c);
            if (digit < 0)
                return false;
            number = number * 16 + static_cast<std::uint32_t>(digit);
        }
        value.type = kRegDword;
        value.data.assign(4, '\0');
        for (int b = 0; b < 4; ++b)
            value.data[static_cast<std::size_t>(b)] = static_cast<char>((number >> (8 * b)) & 0xff);
        return true;
    }
    if (s.substr(0, 3) != "hex")
        return false;
    s.remove_prefix(3);
    std::uint32_t type = kRegBinary;
    if (!s.empty() && s.front() == '(') {
        const std::size_t close = s.find(')');
        if (close == std::string_view::npos || close == 1 || close > 9)
            return false;
        type = 0;
        for (char c : s.substr(1, close - 1)) {
            const int digit = HexDigit(c);
            if (digit < 0)
                return false;
            type = type * 16 + static_cast<std::uint32_t>(digit);
        }
        s.remove_prefix(close + 1);
    }
    if (s.empty() || s.front() != ':')
        return false;
    s.remove_prefix(1);
    value.type = type;
    return ParseHexBytes(s, value.data);
}

// Parses a value line: "name"=data. A deleted value ("name"=-) parses with type kRegNone.
bool ParseValueLine(std::string_view line, std::string& name, RegistryValue& value)
{
    line = TrimBlanks(line);
    if (!ParseQuoted(line, name))
        return false;
    line = TrimBlanks(line);
    if (line.empty() || line.front() != '=')
        return false;
    line.remove_prefix(1);
    if (TrimBlanks(line) == "-") {
        value = RegistryValue{};
        return true;
    }
    return ParseData(line, value);
}

void AppendEscaped(std::string& out, std::string_view text)
{
    for (char c : text) {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        out.push_back(c);
    }
}

// A REG_SZ fits a quoted line when it ends with its only NUL and holds no line breaks.
bool FitsQuotedLine(const RegistryValue& value)
{
    if (value.type != kRegString || value.data.empty() || value.data.back() != '\0')
        return false;
    for (std::size_t i = 0; i + 1 < value.data.size(); ++i) {
        const char c = value.data[i];
        if (c == '\0' || c == '\n' || c == '\r')
            return false;
    }
    return true;
}

}  // namespace

std::string FormatRegistryValueLine(std::string_view name, const RegistryValue& value)
{
    static const char kHex[] = "0123456789abcdef";
    std::string line = "\"";
    AppendEscaped(line, name);
    line += "\"=";
    if (FitsQuotedLine(value)) {
        line += '"';
        AppendEscaped(line, std::string_view(value.data).substr(0, value.data.size() - 1));
        line += '"';
    } else if (value.type == kRegDword && value.data.size() == 4) {
        line += "dword:";
        for (int b = 3; b >= 0; --b) {
            const auto byte = static_cast<unsigned char>(value.data[static_cast<std::size_t>(b)]);
            line += kHex[byte >> 4];
            line += kHex[byte & 15];
        }
    } else {
        // The type is written in hex, as it is read ("hex(b):" is type 11).
        char type[16];
        std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(value.type));
        line += value.type == kRegBinary ? std::string("hex:") : std::string(type);
        for (std::size_t i = 0; i < value.data.size(); ++i) {
            const auto byte = static_cast<unsigned char>(value.data[i]);
            if (i > 0)
                line += ',';
            line += kHex[byte >> 4];
            line += kHex[byte & 15];
        }
    }
    return line;
}

bool FindRegistryValue(std::string_view fileText, std::string_view name, RegistryValue& value)
{
    bool inSettingsKey = false;
    bool found = false;
    std::size_t pos = 0;
    LogicalLine line;
    std::string lineName;
    RegistryValue candidate;
    while (NextLogicalLine(fileText, pos, line)) {
        std::string_view key;
        if (IsSectionLine(line.text, key)) {
            inSettingsKey = platform::EqualsIgnoreCase(key, kSettingsKey);
            continue;
        }
        if (!inSettingsKey || line.text.empty() || line.text.front() != '"')
            continue;
        if (ParseValueLine(line.text, lineName, candidate) && platform::EqualsIgnoreCase(lineName, name)) {
            found = candidate.type != kRegNone || !candidate.data.empty();
            if (found)
                value = candidate;
        }
    }
    return found;
}

std::string SetRegistryValue(std::string_view original, std::string_view name, const RegistryValue& value)
{
    const std::string newLine = FormatRegistryValueLine(name, value);
    std::string out;
    if (original.empty()) {
        out.append(kFileHeader).append("\r\n\r\n[").append(kSettingsKey).append("]\r\n");
        out.append(newLine).append("\r\n");
        return out;
    }

    const std::string_view eol = original.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
    std::string text(original);
    if (text.back() != '\n')
        text.append(eol);  // so that every line, the last included, ends with a line ending
    const std::string_view fileText(text);
    out.reserve(fileText.size() + newLine.size() + 64);

    bool inSettingsKey = false;
    bool written = false;
    std::size_t endOfKeyContent = std::string::npos;  // in `out`: after our key's last non-blank line
    std::size_t appendAt = std::string::npos;
    std::size_t pos = 0;
    LogicalLine line;
    std::string lineName;
    RegistryValue ignored;
    while (NextLogicalLine(fileText, pos, line)) {
        std::string_view key;
        if (IsSectionLine(line.text, key)) {
            if (inSettingsKey && appendAt == std::string::npos)
                appendAt = endOfKeyContent;
            inSettingsKey = platform::EqualsIgnoreCase(key, kSettingsKey);
            out.append(fileText.substr(line.begin, line.end - line.begin));
            if (inSettingsKey)
                endOfKeyContent = out.size();
            continue;
        }
        const bool isOurValue = inSettingsKey && !line.text.empty() && line.text.front() == '"' &&
                                ParseValueLine(line.text, lineName, ignored) &&
                                platform::EqualsIgnoreCase(lineName, name);
        if (isOurValue) {
            // Replaced in place; a later line for the same name is dropped, so reads and writes agree.
            if (!written)
                out.append(newLine).append(eol);
            written = true;
        } else {
            out.append(fileText.substr(line.begin, line.end - line.begin));
        }
        if (inSettingsKey && !TrimBlanks(line.text).empty())
            endOfKeyContent = out.size();
    }
    if (inSettingsKey && appendAt == std::string::npos)
        appendAt = endOfKeyContent;
    if (written)
        return out;
    if (appendAt != std::string::npos) {
        // A last line that ends in a continuation mark would swallow the new line: a blank line
        // ends it first.
        std::string_view before = std::string_view(out).substr(0, appendAt);
        while (!before.empty() && (before.back() == '\n' || before.back() == '\r'))
            before.remove_suffix(1);
        before = TrimBlanks(before);
        const bool dangling = !before.empty() && before.back() == '\\';
        out.insert(appendAt, (dangling ? std::string(eol) : std::string()) + newLine + std::string(eol));
        return out;
    }
    out.append(eol).append("[").append(kSettingsKey).append("]").append(eol);
    out.append(newLine).append(eol);
    return out;
}

}  // namespace settings
