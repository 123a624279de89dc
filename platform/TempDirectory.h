#pragma once
#include <string>

namespace platform {

// The private per-user temporary directory "${TMPDIR:-/tmp}/viewmere-<uid>/", created with mode
// 0700 when missing. Returns false when it cannot be made or cannot be trusted: it is a link,
// not a directory, or belongs to another user. On success the path ends with "/".
bool PrivateTempDirectory(std::string& path);

// Removes what an earlier run that was stopped left in the private temporary directory: the
// pictures ffmpeg wrote ("avchd*.jpg") and partial files ("*.part") older than `minimumAge`
// seconds, so that a run going on beside this one keeps the files it is writing. Returns how
// many files were removed.
int RemoveStaleTempFiles(long minimumAge = 120);

}  // namespace platform
