#pragma once
#include "settings/RegistryFile.h"

#include <string>
#include <string_view>

namespace settings {

// "${XDG_CONFIG_HOME:-$HOME/.config}/Corvane/Viewmere/settings.reg", looked up on every call so
// that a changed environment (tests, a second profile) is honoured. Empty when no home is known.
std::string SettingsFilePath();

// Opens, parses and closes the settings file. False when the file or the value is missing.
bool ReadRegistryValue(std::string_view name, RegistryValue& value);

// Stores one value, keeping every other line of the file. Under an advisory lock the whole file
// is written to a temporary name, synced and renamed over the old one, so no reader and no
// second instance ever sees half a file and no concurrent write is lost. Missing folders are
// created. False when the file cannot be written; the old file is then left as it was.
bool WriteRegistryValue(std::string_view name, const RegistryValue& value);

}  // namespace settings
