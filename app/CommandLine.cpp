#include "app/CommandLine.h"

#include "app/AboutDlg.h"
#include "import/ImportCommand.h"
#include "model/ClipListing.h"
#include "res/Resources.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

namespace {

constexpr const char* kUsage =
    "Usage: viewmere [FOLDER]\n"
    "       viewmere CLIP\n"
    "       viewmere --list FOLDER\n"
    "       viewmere --import FOLDER [DEST]\n"
    "       viewmere --help | --version\n"
    "\n"
    "Shows the clips of AVCHD camcorders, and the MP4 clips of cameras (PRIVATE/M4ROOT/CLIP,\n"
    "DCIM), found below FOLDER (or below the folder opened last) as a grid of thumbnails. Given\n"
    "a CLIP, opens its card (or its folder) with the clip selected and in view.\n"
    "\n"
    "  --list FOLDER  print one line per clip file below FOLDER, in the grid's order, and exit.\n"
    "                 Columns, separated by tabs: the path (a backslash, tab, line feed and\n"
    "                 carriage return in it written as \\\\, \\t, \\n and \\r, other control bytes\n"
    "                 as \\ and three octal digits), the size in bytes, the time in ISO 8601\n"
    "                 and its source:\n"
    "                 \"stream\" for the recording time the camera wrote into the clip, with\n"
    "                 the camera's UTC offset; \"xml\" for an MP4 clip's time in the camera's\n"
    "                 description beside it, with its offset; \"mp4\" for the MP4's own\n"
    "                 creation time in UTC; \"file\" for the file's modification time in UTC;\n"
    "                 the duration in seconds (\"-\" when unknown) and the file's part of its\n"
    "                 recording: \"1/1\" for a recording of one file, \"1/2\" and \"2/2\" for\n"
    "                 the two files of a recording the camera split at the card's size limit.\n"
    "                 Exit status 0, or 2 when FOLDER cannot be read.\n"
    "  --import FOLDER [DEST]\n"
    "                 import every recording below FOLDER into DEST (by default the import\n"
    "                 folder of the settings, \"Camcorder\" in the videos folder): each one\n"
    "                 whole (a recording the camera split across files is joined), named by\n"
    "                 its recording time, verified by reading it back from the disk, listed\n"
    "                 in its folder's SHA256SUMS and remembered, so that it is never imported\n"
    "                 twice. One line per recording: \"imported\", \"already\" or \"failed\",\n"
    "                 the destination path (escaped as --list escapes it), the bytes, the\n"
    "                 SHA-256 (\"-\" when not imported) and the number of files, separated by\n"
    "                 tabs. Progress goes to standard error when it is a terminal.\n"
    "                 Exit status 0 when every recording is imported or already was, 1 when\n"
    "                 any failed, 2 for bad arguments.\n"
    "  --help         show this text and exit\n"
    "  --version      show the version and exit\n";

std::string VersionText()
{
    std::string text = res::kVersionText;
    const std::size_t placeholder = text.find("0.0");
    if (placeholder != std::string::npos)
        text.replace(placeholder, 3, CAboutDlg::ProductVersion());
    return text;
}

// Bad arguments: one line, and exit status 2.
int UsageError(const std::string& problem)
{
    std::fprintf(stderr, "viewmere: %s; see viewmere --help\n", problem.c_str());
    return 2;
}

// An option of the toolkit's own (GTK's --display, --name, --class, --gtk-..., --g-...), which
// the toolkit takes before the program sees its arguments.
bool IsToolkitOption(const std::string& option)
{
    for (const char* prefix : {"--display", "--name", "--class", "--gtk-", "--g-", "--sync"})
        if (option.rfind(prefix, 0) == 0)
            return true;
    return false;
}

}  // namespace

std::optional<int> RunCommandLineOption(int argc, char** argv)
{
    if (argc < 2)
        return std::nullopt;
    const std::string option = argv[1];
    if (option == "--help" || option == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (option == "--version") {
        std::printf("%s\n", VersionText().c_str());
        return 0;
    }
    if (option == "--list") {
        if (argc != 3)
            return UsageError("--list takes one folder");
        return ListClips(argv[2], std::cout, std::cerr);
    }
    if (option == "--import") {
        if (argc != 3 && argc != 4)
            return UsageError("--import takes a folder and, optionally, a destination");
        return ImportFromCommandLine(argv[2], argc == 4 ? std::optional<std::string>(argv[3]) : std::nullopt);
    }
    // A name that starts with a dash is an option unless a file or folder has it.
    if (option.size() > 1 && option[0] == '-' && !IsToolkitOption(option) && access(option.c_str(), F_OK) != 0)
        return UsageError("unknown option " + option);
    return std::nullopt;
}
