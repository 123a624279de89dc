#include "app/CommandLine.h"
#include "app/ViewmereApp.h"

#include <wx/init.h>

wxIMPLEMENT_APP_NO_MAIN(CViewmereApp);

int main(int argc, char** argv)
{
    // Options for scripts are answered before the toolkit starts: they need no display.
    if (const std::optional<int> status = RunCommandLineOption(argc, argv))
        return *status;
    CViewmereApp::KeepFolderArgument(argc, argv);
    return wxEntry(argc, argv);
}
