#include "platform/Format.h"

#include <cstdio>
#include <stdexcept>

namespace platform {

std::string FormatStringV(const char* format, va_list args)
{
    char small[256];
    va_list first;
    va_copy(first, args);
    const int length = std::vsnprintf(small, sizeof small, format, first);
    va_end(first);
    if (length < 0)
        throw std::invalid_argument("string formatting failed");
    if (static_cast<std::size_t>(length) < sizeof small)
        return std::string(small, static_cast<std::size_t>(length));

    std::string text(static_cast<std::size_t>(length), '\0');
    va_list second;
    va_copy(second, args);
    std::vsnprintf(text.data(), text.size() + 1, format, second);
    va_end(second);
    return text;
}

std::string FormatString(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    try {
        std::string text = FormatStringV(format, args);
        va_end(args);
        return text;
    } catch (...) {
        va_end(args);
        throw;
    }
}

}  // namespace platform
