#pragma once
#include <string>

// Where the clip view reports the generator's progress and the size of the open folder: the
// main window's status bar.
class IStatusSink {
public:
    virtual ~IStatusSink() = default;
    virtual void UpdateStatusText(int remaining, int folders, int clips) = 0;
    // What the clip under the pointer is (its duration, files and time), in the message pane;
    // "" when the pointer is over no clip.
    virtual void ShowClipDetails(const std::string& text) = 0;
};
