#include "app/ViewmereApp.h"

#include "app/AboutDlg.h"
#include "app/MainFrame.h"
#include "app/OptionsDlg.h"
#include "log/EventLog.h"
#include "platform/BusyCursor.h"
#include "platform/ChildProcess.h"
#include "platform/MessageBox.h"
#include "platform/TempDirectory.h"
#include "platform/TerminationSignals.h"
#include "platform/Utf8.h"
#include "res/Resources.h"
#include "view/ChildView.h"

#include <wx/bmpbndl.h>
#include <wx/iconbndl.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>

namespace {

void ShowBoxOnUiThread(const std::string& text, const std::string& caption, platform::MessageBoxIcon icon)
{
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
        platform::KillRunningChildren();
        if (wxWindow* top = GetTopWindow())
            top->Close(true);
        else
            ExitMainLoop();
    });
    return InitialiseWith(nullptr);
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
