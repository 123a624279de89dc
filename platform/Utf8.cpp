#include "platform/Utf8.h"

namespace platform {
namespace {

// Length of the valid UTF-8 sequence at `i`, or 0.
std::size_t ValidSequence(std::string_view s, std::size_t i)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xbf;
    if (b0 >= 0xc2 && b0 <= 0xdf) {
        length = 2;
    } else if (b0 >= 0xe0 && b0 <= 0xef) {
        length = 3;
        if (b0 == 0xe0)
            low = 0xa0;
        if (b0 == 0xed)
            high = 0x9f;  // no surrogates
    } else if (b0 >= 0xf0 && b0 <= 0xf4) {
        length = 4;
        if (b0 == 0xf0)
            low = 0x90;
        if (b0 == 0xf4)
            high = 0x8f;
    } else {
        return 0;
    }
    if (i + length > s.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xbf))
            return 0;
    }
    return length;
}

}  // namespace

std::string DisplayUtf8(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = ValidSequence(bytes, i);
        if (length == 0) {
            text += "\xef\xbf\xbd";
            ++i;
        } else {
            text.append(bytes.substr(i, length));
            i += length;
        }
    }
    return text;
}

}  // namespace platform
