#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// A mounted volume as the desktop shows it: its name ("CAMCARD") and the folder it is mounted on.
struct MountPoint {
    std::string name;
    std::string root;
};

// Watches the desktop's mounted volumes (GIO's volume monitor, the one file managers use), so a
// card is noticed when it is inserted or pulled. Only mounts of local block devices are reported:
// looking into a network share or an MTP phone could freeze the thread that looks. Events arrive on the thread that made the
// watcher, from its main loop (the GUI's); the watcher must live and die on that thread.
class VolumeMonitor {
public:
    using Handler = std::function<void(const MountPoint& mount)>;

    VolumeMonitor(Handler added, Handler removed);
    ~VolumeMonitor();
    VolumeMonitor(const VolumeMonitor&) = delete;
    VolumeMonitor& operator=(const VolumeMonitor&) = delete;

    // The local block devices mounted now.
    std::vector<MountPoint> Mounts() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
