#pragma once
#include <wx/app.h>

class CMainFrame;

// The application: installs the GUI's message box and busy cursor for the core, makes the main
// window and handles About and the two web-page commands.
class CViewmereApp : public wxApp {
public:
    bool OnInit() override;
    int OnExit() override;

    static bool HandlesCommand(int id);
    // For tests: builds the main window with a frame made by the caller.
    bool InitialiseWith(CMainFrame* frame);

private:
    void InstallHooks();
    void OnAbout(wxCommandEvent& event);
    void OnWebPage(wxCommandEvent& event);
};

wxDECLARE_APP(CViewmereApp);
