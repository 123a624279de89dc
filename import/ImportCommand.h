#pragma once
#include <optional>
#include <string>

// `viewmere --import FOLDER [DEST]`, for scripts, with no display: imports every recording below
// FOLDER into DEST (the ImportFolder setting when not given) and prints one line per recording on
// standard output: "imported", "already" or "failed", the destination path, the bytes, the
// SHA-256 ("-" when not imported) and the number of files it spans, separated by tabs, the path
// escaped as --list writes it. The import's message goes to standard error, and its progress too
// when that is a terminal. SIGTERM, SIGINT and SIGHUP cancel it: the temporary file is removed,
// then the signal ends the program. Returns the exit status: 0 when every recording is imported
// or already was, 1 when any failed, 2 for a FOLDER that cannot be read or no DEST.
int ImportFromCommandLine(const std::string& folder, const std::optional<std::string>& destination);
