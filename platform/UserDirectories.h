#pragma once
#include <string>

namespace platform {

// The user's home folder: $HOME when it is absolute, else the password database's; "" when
// neither gives an absolute path.
std::string HomeDirectory();
// Where the user's non-essential cached files go: $XDG_CACHE_HOME when absolute, else
// "<home>/.cache"; "" without a home.
std::string UserCacheDirectory();
// The user's videos folder as xdg-user-dirs names it (XDG_VIDEOS_DIR in
// "${XDG_CONFIG_HOME:-<home>/.config}/user-dirs.dirs"), else "<home>/Videos"; "" without a home.
std::string UserVideosDirectory();
// Makes a folder and any missing parents with the given mode; true when it exists afterwards.
bool MakeDirectories(const std::string& path, unsigned mode);

}  // namespace platform
