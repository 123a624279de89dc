#pragma once
#include "app/MainFrame.h"
#include "support/TempDir.h"
#include "view/ChildView.h"

#include <wx/frame.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace gui_testing {

// Runs the toolkit's events, timers and idle processing for a while, or until `done` is true.
void Pump(std::chrono::milliseconds duration, const std::function<bool()>& done = {});

// A clip view whose desktop seams record what they were asked instead of opening dialogs or
// running a drag loop: folder choices come from `nextFolder`.
class RecordingView : public CChildView {
public:
    explicit RecordingView(wxWindow* parent, CThumbnailGenerator::Producer producer = {})
        : CChildView(parent, std::move(producer))
    {
    }
    std::string nextFolder;  // "" answers like a cancelled dialog
    int folderDialogs = 0;
    std::vector<std::string> dialogStarts;             // the folder each dialog started at
    std::vector<std::vector<std::string>> opened;      // clips (their files) handed to the desktop
    std::vector<std::vector<std::string>> played;      // lists handed to the desktop's player
    std::vector<std::vector<std::string>> drags;       // file lists of started drags
    bool useDesktop = false;                           // hand files to the real desktop
    bool realDrag = false;                             // run the toolkit's drag loop

protected:
    bool BrowseForFolder(std::string& folder) override
    {
        ++folderDialogs;
        dialogStarts.push_back(folder);
        if (nextFolder.empty())
            return false;
        folder = nextFolder;
        return true;
    }
    void OpenWithDesktop(const std::vector<std::string>& files) override
    {
        opened.push_back(files);
        if (useDesktop)
            CChildView::OpenWithDesktop(files);
    }
    void PlayListWithDesktop(const std::vector<std::string>& paths) override
    {
        played.push_back(paths);
        if (useDesktop)
            CChildView::PlayListWithDesktop(paths);
    }
    void RunDragLoop(const std::vector<std::string>& paths) override
    {
        drags.push_back(paths);
        if (realDrag)
            CChildView::RunDragLoop(paths);
    }
};

// Registers, before the toolkit starts, a desktop whose program for clips and playlists writes
// what it was asked to open to the file that RECORDER_OUTPUT names. The desktop's registry of
// programs is read in this process by GIO, which fixes its folders at their first use: so they
// are the process's own, set up once, and each test only says where the record goes.
void InstallRecordingDesktop();

// This test's record of what the desktop's program was asked to open.
struct RecordingDesktop {
    explicit RecordingDesktop(const testing_support::TempDir& dir);
    // What the program was asked to open so far, a line per file, once it has been asked.
    std::string WaitForRecord();
    std::string record;
    testing_support::ScopedEnv output;
};

// A main window with a recording view, shown as the application's top window, with a settings
// home and a temporary folder of its own; destroyed with the fixture.
class FrameFixture {
public:
    struct Options {
        bool realThumbnails = false;  // the view's generator makes thumbnails for real
        std::function<void(const testing_support::TempDir&)> beforeStart;  // e.g. write settings
    };
    FrameFixture() : FrameFixture(Options{}) {}
    explicit FrameFixture(const Options& options);
    ~FrameFixture();
    CMainFrame* frame = nullptr;
    RecordingView* view = nullptr;
    testing_support::TempDir dir;

private:
    testing_support::ScopedEnv config_;
    testing_support::ScopedEnv tmp_;
    testing_support::ScopedEnv cache_;  // the desktop's thumbnail cache, which grabs fill
};

}  // namespace gui_testing
