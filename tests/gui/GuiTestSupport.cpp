#include "gui/GuiTestSupport.h"

#include "app/ViewmereApp.h"

#include <wx/app.h>
#include <wx/evtloop.h>

#include <thread>

namespace gui_testing {

void Pump(std::chrono::milliseconds duration, const std::function<bool()>& done)
{
    const auto end = std::chrono::steady_clock::now() + duration;
    wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    do {
        while (loop != nullptr && loop->Pending())
            loop->Dispatch();
        if (loop != nullptr)
            loop->DispatchTimeout(5);
        wxTheApp->ProcessPendingEvents();
        wxTheApp->ProcessIdle();
        if (done && done())
            return;
    } while (std::chrono::steady_clock::now() < end);
}

FrameFixture::FrameFixture(const Options& options)
    : config_("XDG_CONFIG_HOME", dir / "config"), tmp_("TMPDIR", dir / "tmp")
{
    testing_support::MakeDirs(dir / "tmp");
    if (options.beforeStart)
        options.beforeStart(dir);
    const bool real = options.realThumbnails;
    frame = new CMainFrame([this, real](wxWindow* parent) {
        view = real ? new RecordingView(parent)
                    : new RecordingView(parent, [](ThumbnailQueue&, const std::string&) {});
        return view;
    });
    wxGetApp().InitialiseWith(frame);
    frame->Raise();
    Pump(std::chrono::milliseconds(300));
}

FrameFixture::~FrameFixture()
{
    frame->Destroy();
    Pump(std::chrono::milliseconds(50));
}

}  // namespace gui_testing
