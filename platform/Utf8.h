#pragma once
#include <string>
#include <string_view>

namespace platform {

// The text as valid UTF-8 for display: each byte that is not part of a valid sequence becomes
// U+FFFD. File names keep their own bytes everywhere else; only what is shown is converted.
std::string DisplayUtf8(std::string_view bytes);

}  // namespace platform
