// Runs the GUI tests with the real application object, inside an active event loop.
#include "app/ViewmereApp.h"

#include <wx/evtloop.h>
#include <wx/init.h>

#include <gtest/gtest.h>

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
    wxApp::SetInstance(new GuiTestApp);
    if (!wxEntryStart(argc, argv))
        return 2;
    wxTheApp->CallOnInit();
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
