#include "app/ViewmereApp.h"

#include "app/AboutDlg.h"
#include "app/MainFrame.h"
#include "app/OptionsDlg.h"
#include "log/EventLog.h"
#include "platform/BusyCursor.h"
#include "platform/ChildProcess.h"
#include "platform/FileSystem.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/TempDirectory.h"
#include "platform/TerminationSignals.h"
#include "platform/Utf8.h"
#include "res/Resources.h"
#include "settings/Settings.h"
#include "view/ChildView.h"

#include <wx/bmpbndl.h>
#include <wx/iconbndl.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>

#include <cstring>

#include <unistd.h>

#include <gtk/gtk.h>

namespace {

// Set when the program was asked to end by a signal: no box is shown from then on, its text
// goes to the log instead.
bool ending = false;

void ShowBoxOnUiThread(const std::string& text, const std::string& caption, platform::MessageBoxIcon icon)
{
    if (ending) {
        LogEvent("%s: %s", caption.c_str(), text.c_str());
        return;
    }
    wxMessageBox(wxString::FromUTF8(platform::DisplayUtf8(text)), wxString::FromUTF8(caption),
                 wxOK | (icon == platform::MessageBoxIcon::Warning ? wxICON_EXCLAMATION : 0));
}

wxIconBundle ProgramIcons()
{
    const std::string svg = res::IconSvg();
    const wxBitmapBundle bundle = wxBitmapBundle::FromSVG(svg.c_str(), wxSize(64, 64));
    wxIconBundle icons;
    for (int size : {16, 32, 48, 64})
        icons.AddIcon(bundle.GetIcon(wxSize(size, size)));
    return icons;
}

}  // namespace

bool CViewmereApp::HandlesCommand(int id)
{
    return id == wxID_ABOUT || id == res::kCmdProductWebSite || id == res::kCmdMakerWebSite;
}

void CViewmereApp::InstallHooks()
{
    // A box asked for on another thread is shown by the UI thread; the asker never waits, so
    // no worker can hold up shutdown behind a dialog.
    platform::SetMessageBoxHandler([](const std::string& text, const std::string& caption, platform::MessageBoxIcon icon) {
        if (wxIsMainThread())
            ShowBoxOnUiThread(text, caption, icon);
        else if (wxTheApp != nullptr)
            wxTheApp->CallAfter([=] { ShowBoxOnUiThread(text, caption, icon); });
    });
    platform::SetBusyCursorHandler([](bool busy) {
        if (busy)
            wxBeginBusyCursor();
        else
            wxEndBusyCursor();
    });
    Bind(wxEVT_MENU, &CViewmereApp::OnAbout, this, wxID_ABOUT);
    Bind(wxEVT_MENU, &CViewmereApp::OnWebPage, this, res::kCmdProductWebSite);
    Bind(wxEVT_MENU, &CViewmereApp::OnWebPage, this, res::kCmdMakerWebSite);
}

bool CViewmereApp::OnInit()
{
    platform::RemoveStaleTempFiles();
    // Asked to end by the session or a terminal: end as File > Exit does, so the generator stops,
    // its ffmpeg is ended with it, and no temporary file is left.
    platform::WatchTerminationSignals([this](int signal) {
        LogEvent("Received signal %d: closing", signal);
        ending = true;
        // The thumbnail work stops first, so the kills below cost no clip a failure record.
        if (auto* frame = dynamic_cast<CMainFrame*>(GetTopWindow()))
            frame->View()->Document().Generator().RequestStop();
        platform::KillRunningChildren();
        if (wxWindow* top = GetTopWindow())
            top->Close(true);
        else
            ExitMainLoop();
        // A box that is up (the folder scan may be waiting on one) would keep the program
        // running until someone answers it: it is answered here.
        GList* windows = gtk_window_list_toplevels();
        for (GList* item = windows; item != nullptr; item = item->next)
            if (GTK_IS_DIALOG(item->data) && gtk_widget_get_visible(GTK_WIDGET(item->data)))
                gtk_dialog_response(GTK_DIALOG(item->data), GTK_RESPONSE_DELETE_EVENT);
        g_list_free(windows);
    });
    const bool initialised = InitialiseWith(nullptr);
    // Before the view's first timer, which opens the remembered folder; after the hooks, so a
    // bad folder is reported in a box.
    RememberFolderArgument();
    return initialised;
}

std::string CViewmereApp::FolderArgument(int argc, const char* const* argv, const std::string& workingFolder)
{
    if (argc != 2 || argv[1] == nullptr || argv[1][0] == '\0' || argv[1][0] == '-')
        return {};
    std::string folder = argv[1];
    if (folder.rfind("file://", 0) == 0) {
        gchar* path = g_filename_from_uri(argv[1], nullptr, nullptr);
        folder = path != nullptr ? path : "";
        g_free(path);
    }
    if (folder.empty())
        return {};
    if (folder[0] != '/')
        folder = platform::JoinPath(workingFolder, folder);
    // The form a file manager names it by: the shared cache's addresses and a pulled card's
    // mount point are matched against it.
    return platform::CanonicalPath(folder);
}

std::string& CViewmereApp::StartFolder()
{
    static std::string folder;
    return folder;
}

bool CViewmereApp::KeepFolderArgument(int argc, const char* const* argv)
{
    std::string here(4096, '\0');
    if (::getcwd(here.data(), here.size()) == nullptr)
        here = "/";
    here.resize(std::strlen(here.c_str()));
    StartFolder() = FolderArgument(argc, argv, here);
    return !StartFolder().empty();
}

void CViewmereApp::RememberFolderArgument()
{
    const std::string argument = StartFolder();
    if (argument.empty())
        return;
    std::string folder = argument;
    if (IsClipFile(argument)) {
        // A clip (from a file manager's Open With): its card is opened with the clip in view.
        folder = CAVCHDDoc::FolderShowingClip(argument);
        if (auto* frame = dynamic_cast<CMainFrame*>(GetTopWindow()))
            frame->View()->ShowClipWhenOpened(argument);
    } else if (!platform::IsDirectory(argument)) {
        const char* why = platform::FileExists(argument) ? "it is neither a folder nor a clip" : "there is no such folder";
        LogEvent("Cannot open [%s] given on the command line: %s", argument.c_str(), why);
        platform::ShowMessageBox(platform::FormatString("Cannot open [%s]: %s.", argument.c_str(), why),
                                 res::kAppTitle, platform::MessageBoxIcon::Warning);
        return;
    }
    // Remembered as Open Folder remembers a choice; the view opens it as the last folder.
    settings::LastDirectory.Write(folder);
}

bool CViewmereApp::IsClipFile(const std::string& path)
{
    return platform::IsRegularFile(path) && CClipDetails::IsStreamFileName(path.substr(path.rfind('/') + 1));
}

bool CViewmereApp::InitialiseWith(CMainFrame* frame)
{
    // The toolkit's own profile would live under "Corvane Viewmere"; the program keeps none there.
    SetVendorName(res::kVendorName);
    SetAppName(res::kAppTitle);
    InstallHooks();
    if (frame == nullptr)
        frame = new CMainFrame();
    frame->View()->SetOptionsDialogRunner([](wxWindow* parent) {
        COptionsDlg dialog(parent);
        return dialog.ShowModal() != 0;
    });
    SetTopWindow(frame);
    frame->SetIcons(ProgramIcons());
    frame->Show();
    frame->Update();
    return true;
}

int CViewmereApp::OnExit()
{
    platform::SetMessageBoxHandler({});
    platform::SetBusyCursorHandler({});
    return wxApp::OnExit();
}

void CViewmereApp::OnAbout(wxCommandEvent&)
{
    CAboutDlg dialog(GetTopWindow());
    dialog.ShowModal();
}

void CViewmereApp::OnWebPage(wxCommandEvent& event)
{
    wxLaunchDefaultBrowser(event.GetId() == res::kCmdProductWebSite ? res::kProductWebSite : res::kMakerWebSite);
}
