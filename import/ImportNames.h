#pragma once
#include <cstdint>
#include <ctime>
#include <string>

// The names imported recordings get. A pattern of strftime fields ("%Y/%Y-%m-%d/%Y-%m-%d
// %H-%M-%S") is filled from a recording's time; "/" makes folders. Every name it gives can be
// written on FAT and NTFS too, so an external drive takes it: each character those refuse
// (control bytes, < > : " \ | ? *) and each byte that is not UTF-8 becomes "_", a part that ends
// in a dot or a space or is a device name (CON, NUL, COM1...) is changed, and no part is longer
// than 255 bytes.

// A recording's time as the name shows it: the calendar fields of the camera's wall clock with
// its UTC offset, or of the file's time in the computer's zone.
struct NameTime {
    std::tm fields{};
    std::int64_t unixSeconds = 0;  // the instant, for the file's modification time
};

// The path of a recording's file below the destination, with its extension (".mts"); never
// empty, never absolute, without "." or ".." parts.
std::string ExpandImportName(const std::string& pattern, const NameTime& time, const std::string& extension);

// The same path with " (n)" before its extension: the name of the n-th file that would take it.
// n = 1 gives the path itself.
std::string NumberedName(const std::string& path, int n);

// One part of a path made safe for FAT and NTFS; "_" for a part with nothing left.
std::string SafePathPart(const std::string& part);

// False, with the reason, for a pattern that cannot name files (empty, or only separators).
bool IsUsableNamePattern(const std::string& pattern, std::string& problem);
