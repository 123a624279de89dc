#pragma once
#include <string>

namespace platform {

// The private per-user temporary directory "${TMPDIR:-/tmp}/viewmere-<uid>/", created with mode
// 0700 when missing. Returns false when it cannot be made or cannot be trusted: it is a link,
// not a directory, or belongs to another user. On success the path ends with "/".
bool PrivateTempDirectory(std::string& path);

}  // namespace platform
