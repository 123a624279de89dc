#include "platform/TerminationSignals.h"

#include <glib-unix.h>

#include <csignal>
#include <memory>

namespace platform {
namespace {

struct Watch {
    std::function<void(int)> onSignal;
    int signal = 0;
};

gboolean Deliver(gpointer data)
{
    const Watch* watch = static_cast<const Watch*>(data);
    watch->onSignal(watch->signal);
    return G_SOURCE_CONTINUE;  // a second signal is delivered too
}

}  // namespace

void WatchTerminationSignals(std::function<void(int signal)> onSignal)
{
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        // Owned by the GLib source, which lives as long as the process.
        auto* watch = new Watch{onSignal, signal};
        g_unix_signal_add_full(G_PRIORITY_HIGH, signal, Deliver, watch,
                               [](gpointer data) { delete static_cast<Watch*>(data); });
    }
}

}  // namespace platform
