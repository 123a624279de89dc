#pragma once
#include <wx/app.h>

#include <string>

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

    // The folder or clip a user started the program with ("viewmere FOLDER", or a file manager
    // through the launcher): a path, relative to the working folder or not, or a file URI, made
    // absolute and canonical. Options ("-..."), more than one argument or none give "".
    static std::string FolderArgument(int argc, const char* const* argv, const std::string& workingFolder);
    // Keeps the folder argument as the file system's bytes, taken from the arguments before
    // the toolkit turns them into text (a name that is not UTF-8 would not survive that). True
    // when there was one.
    static bool KeepFolderArgument(int argc, const char* const* argv);

private:
    static std::string& StartFolder();
    static bool IsClipFile(const std::string& path);
    void InstallHooks();
    void RememberFolderArgument();
    void OnAbout(wxCommandEvent& event);
    void OnWebPage(wxCommandEvent& event);
};

wxDECLARE_APP(CViewmereApp);
