#pragma once
#include <string>
#include <vector>

namespace platform {

// The desktop's programs for file types, as GIO sees them: the .desktop files and mimeapps.list
// under the XDG data and config folders, the registry that file managers use. Read in this
// process, so a program that cannot be started is known at once, not lost in a child's exit.

// What starting a program gave.
struct DesktopLaunch {
    bool started = false;
    std::string program;  // the program's name as the desktop shows it; "" when none is registered
    std::string error;    // why it could not be started
    bool firstFileOnly = false;  // the program takes one file a run: it was given the first only
};

// A file's URI ("file:///a/b%20c.MTS") with every byte of its name kept, so the very file is
// named whatever its name's encoding; a relative path is taken from the working folder. "" when
// no URI can be made.
std::string FileUri(const std::string& path);

// The MIME type of a file judged by its name alone ("video/mp2t" for "00000.MTS"), so that a
// file on a card that was just pulled costs no wait. "" when the name says nothing.
std::string MimeTypeOfName(const std::string& path);

// Whether the desktop has a program for the type: the user's default, or else any program that
// lists it.
bool HasProgramFor(const std::string& mimeType);

// Whether the program for the type takes several files in one run (its entry's %F or %U).
bool TakesSeveralFiles(const std::string& mimeType);

// Hands all the files at once to that program, as a file manager does with a multi-selection.
// A program that takes one file a run (its entry's %f or %u) would be started once for every
// file, all playing at once: it is started once, with the first file.
DesktopLaunch OpenWithProgramFor(const std::string& mimeType, const std::vector<std::string>& paths);

}  // namespace platform
