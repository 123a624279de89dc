#include "app/CommandLine.h"
#include "app/ViewmereApp.h"
#include "settings/Settings.h"
#include "thumbgen/GrabPool.h"

#include <wx/init.h>

wxIMPLEMENT_APP_NO_MAIN(CViewmereApp);

int main(int argc, char** argv)
{
    // Options for scripts are answered before the toolkit starts: they need no display.
    if (const std::optional<int> status = RunCommandLineOption(argc, argv))
        return *status;
    // The grab workers load the media framework while the toolkit starts and the window comes
    // up, rather than after.
    if (settings::GenerateThumbnails.Read() && !settings::UseFFmpeg.Read())
        CGrabPool::StartWorkersAhead();
    // The folder is taken here, as bytes; the toolkit is not given it, so it does not warn
    // about a name that is not UTF-8.
    if (CViewmereApp::KeepFolderArgument(argc, argv)) {
        int programOnly = 1;
        return wxEntry(programOnly, argv);
    }
    return wxEntry(argc, argv);
}
