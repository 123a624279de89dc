// Shows one of the program's windows for a screenshot taken from outside (tools/screenshots.sh):
//   viewmere_screenshots main|menu-file|menu-edit|menu-view|menu-help|popup|about|log|options
// The main window opens the folder in LastDirectory as the program does.
#include "app/AboutDlg.h"
#include "app/MainFrame.h"
#include "app/OptionsDlg.h"
#include "app/ViewmereApp.h"
#include "log/EventLog.h"
#include "log/EventLogDlg.h"
#include "res/Resources.h"
#include "view/ChildView.h"

#include <map>
#include <memory>

#include <wx/menu.h>
#include <wx/timer.h>

namespace {

class ScreenshotApp : public CViewmereApp {
public:
    bool OnInit() override
    {
        if (argc < 2)
            return false;
        what_ = argv[1].ToStdString();
        argc = 1;  // the argument names a window to show, not a folder to open
        if (!CViewmereApp::OnInit())
            return false;
        // Let the folder open and the thumbnails arrive before showing anything else.
        CallAfter([this] { timer_.StartOnce(1500); });
        timer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Show(); });
        return true;
    }

private:
    void Show()
    {
        auto* frame = static_cast<CMainFrame*>(GetTopWindow());
        if (what_ == "log") {
            LogEvent("Opened directory [/media/card] in 0.012 seconds");
            frame->ToggleEventLog();
            frame->EventLog()->Move(frame->GetPosition() + wxPoint(200, 150));
        } else if (what_ == "about") {
            (new CAboutDlg(frame))->Show();
        } else if (what_ == "options") {
            auto* options = new COptionsDlg(frame);
            options->Move(frame->GetPosition() + wxPoint(200, 120));
            options->Show();
        } else if (what_.rfind("menu-", 0) == 0) {
            const std::map<std::string, int> menus{{"menu-file", 0}, {"menu-edit", 1}, {"menu-view", 2}, {"menu-help", 3}};
            // A copy of a menu of the bar (an attached menu cannot pop up), shown where it opens;
            // the frame answers its update queries as it does for the bar's.
            const int index = menus.at(what_);
            std::unique_ptr<wxMenuBar> copy(res::CreateMainMenu());
            std::unique_ptr<wxMenu> menu(copy->Remove(static_cast<size_t>(index)));
            frame->PopupMenu(menu.get(), wxPoint(4 + 45 * index, 0));
        } else if (what_ == "popup") {
            auto* view = frame->View();
            std::unique_ptr<wxMenu> popup(res::CreateClipPopupMenu());
            view->PopupMenu(popup.get(), wxPoint(150, 150));
        }
    }

    std::string what_;
    wxTimer timer_;
};

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(CViewmereApp);

int main(int argc, char** argv)
{
    wxApp::SetInstance(new ScreenshotApp);
    return wxEntry(argc, argv);
}
