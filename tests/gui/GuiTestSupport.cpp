#include "gui/GuiTestSupport.h"

#include "app/ViewmereApp.h"
#include "support/Clips.h"

#include <wx/app.h>
#include <wx/evtloop.h>

#include <glib.h>
#include <sys/stat.h>

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

void InstallRecordingDesktop()
{
    using namespace testing_support;
    static const TempDir desktop;  // for the whole run
    const std::string script = desktop / "record.sh";
    WriteFile(script, "#!/bin/sh\n[ -n \"$RECORDER_OUTPUT\" ] || exit 0\n"
                      "for f in \"$@\"; do printf '%s\\n' \"$f\" >> \"$RECORDER_OUTPUT\"; done\n");
    chmod(script.c_str(), 0755);
    WriteFile(desktop / "data/applications/recorder.desktop",
              "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" + script +
                  " %F\nMimeType=application/vnd.ms-wpl;video/mp2t;\n");
    WriteFile(desktop / "config/mimeapps.list",
              "[Default Applications]\napplication/vnd.ms-wpl=recorder.desktop\nvideo/mp2t=recorder.desktop\n");
    setenv("XDG_DATA_HOME", (desktop / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (desktop / "config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (desktop / "cache").c_str(), 1);
    // Tests give each window a cache folder of its own; the grab workers' plugin registry is
    // built once for the run instead of at every worker's start in a new folder.
    setenv("GST_REGISTRY", (desktop / "gstreamer-registry.bin").c_str(), 1);
    // GLib keeps the folders it reads first; later per-test settings folders must not be them.
    g_get_user_data_dir();
    g_get_user_config_dir();
}

RecordingDesktop::RecordingDesktop(const testing_support::TempDir& dir)
    : record(dir / "opened.txt"), output("RECORDER_OUTPUT", record)
{
}

std::string RecordingDesktop::WaitForRecord()
{
    using namespace std::chrono_literals;
    Pump(15s, [&] { return !testing_support::ReadFile(record).empty(); });
    std::this_thread::sleep_for(100ms);
    return testing_support::ReadFile(record);
}

FrameFixture::FrameFixture(const Options& options)
    : config_("XDG_CONFIG_HOME", dir / "config"), tmp_("TMPDIR", dir / "tmp"), cache_("XDG_CACHE_HOME", dir / "cache")
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
