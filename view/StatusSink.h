#pragma once

// Where the clip view reports the generator's progress and the size of the open folder: the
// main window's status bar.
class IStatusSink {
public:
    virtual ~IStatusSink() = default;
    virtual void UpdateStatusText(int remaining, int folders, int clips) = 0;
};
