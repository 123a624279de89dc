#pragma once
#include <optional>

// The options answered before the toolkit starts, so they work without a display:
// --list FOLDER, --import FOLDER [DEST], --help and --version. Returns the exit status when the first argument is one of
// them; nothing when the viewer is to start, with every argument left to it (a folder to open,
// the toolkit's own options).
std::optional<int> RunCommandLineOption(int argc, char** argv);
