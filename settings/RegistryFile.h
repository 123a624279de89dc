#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace settings {

// Value types as the registry numbers them.
enum RegistryType : std::uint32_t {
    kRegNone = 0,
    kRegString = 1,        // REG_SZ: text with its terminating NUL
    kRegExpandString = 2,  // REG_EXPAND_SZ
    kRegBinary = 3,
    kRegDword = 4,         // little-endian, 4 bytes
};

// One typed value: its type and its raw bytes exactly as stored.
struct RegistryValue {
    std::uint32_t type = kRegNone;
    std::string data;
};

// The key that holds this program's values.
inline constexpr std::string_view kSettingsKey = "HKEY_CURRENT_USER\\Software\\Corvane\\Viewmere";
inline constexpr std::string_view kFileHeader = "Windows Registry Editor Version 5.00";

// Looks a value up (name compared without regard to ASCII case) in the settings key of a file
// in registry export syntax. Lines that do not parse are ignored; of two lines for the same
// name the later counts.
bool FindRegistryValue(std::string_view fileText, std::string_view name, RegistryValue& value);

// Returns the file text with the value set: its line replaced in place, or appended to the
// settings key, which is appended when missing. Every other line is kept byte for byte.
std::string SetRegistryValue(std::string_view fileText, std::string_view name, const RegistryValue& value);

// The line that stores a value, without a line ending.
std::string FormatRegistryValueLine(std::string_view name, const RegistryValue& value);

}  // namespace settings
