#pragma once
#include <cstdarg>
#include <string>

namespace platform {

// printf-style formatting into a string. A format that yields an encoding error throws
// std::invalid_argument, so a broken message is never logged half-made.
std::string FormatString(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatStringV(const char* format, va_list args);

}  // namespace platform
