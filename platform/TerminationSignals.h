#pragma once
#include <functional>

namespace platform {

// From now on SIGTERM, SIGINT and SIGHUP no longer end the process at once: `onSignal` is
// called with the signal's number on the thread that runs the default main loop (the UI
// thread), so the program can end as its own Exit command does. The signal handler only wakes
// the loop (a self-pipe inside GLib); nothing else runs in signal context.
void WatchTerminationSignals(std::function<void(int signal)> onSignal);

}  // namespace platform
