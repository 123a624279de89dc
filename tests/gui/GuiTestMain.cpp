// Runs the GUI tests with the real application object, inside an active event loop.
#include "app/ViewmereApp.h"
#include "gui/GuiTestSupport.h"
#include "gui/RealInput.h"

#include <wx/evtloop.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/log.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {
// The application as the program has it, but without a main window of its own: each test
// makes the windows it needs.
class GuiTestApp : public CViewmereApp {
public:
    bool OnInit() override { return true; }
};
}  // namespace

wxIMPLEMENT_APP_NO_MAIN(CViewmereApp);

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();  // listing needs no display
    gui_testing::UseFixedScrollBars();
    // The views grab through the worker program of this build, as the installed viewer does
    // through the one beside it.
    setenv("VIEWMERE_GRAB_WORKER", GRAB_WORKER, 0);
    gui_testing::InstallRecordingDesktop();
    // A toolkit error is a line on stderr, never a modal box that would stop the run; this also
    // says why the toolkit could not start.
    wxLog::SetActiveTarget(new wxLogStderr);
    wxApp::SetInstance(new GuiTestApp);
    if (!wxEntryStart(argc, argv)) {
        wxLog::FlushActive();
        const char* display = std::getenv("DISPLAY");
        std::fprintf(stderr, "gui_tests: the toolkit could not start on display \"%s\"\n",
                     display != nullptr ? display : "(none)");
        return 2;
    }
    if (wxLog::GetActiveTarget() == nullptr || dynamic_cast<wxLogStderr*>(wxLog::GetActiveTarget()) == nullptr)
        delete wxLog::SetActiveTarget(new wxLogStderr);
    wxInitAllImageHandlers();
    if (!wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "gui_tests: the application did not initialise\n");
        return 2;
    }
    int result = 0;
    {
        wxGUIEventLoop loop;
        wxEventLoopActivator active(&loop);
        result = RUN_ALL_TESTS();
    }
    wxTheApp->OnExit();
    wxEntryCleanup();
    return result;
}
