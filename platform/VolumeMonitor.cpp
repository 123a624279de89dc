#include "platform/VolumeMonitor.h"

#include <gio/gio.h>

namespace platform {

struct VolumeMonitor::State {
    GVolumeMonitor* monitor = nullptr;
    gulong addedSignal = 0;
    gulong removedSignal = 0;
    Handler added;
    Handler removed;
};

namespace {

// A mount without a local folder (a phone over MTP, a network share without FUSE) holds no card.
bool ToMountPoint(GMount* mount, MountPoint& point)
{
    GFile* root = g_mount_get_root(mount);
    gchar* path = root != nullptr ? g_file_get_path(root) : nullptr;
    gchar* name = g_mount_get_name(mount);
    const bool local = path != nullptr;
    if (local) {
        point.root = path;
        point.name = name != nullptr ? name : path;
    }
    g_free(name);
    g_free(path);
    if (root != nullptr)
        g_object_unref(root);
    return local;
}

void OnMountEvent(GVolumeMonitor*, GMount* mount, gpointer data)
{
    MountPoint point;
    if (ToMountPoint(mount, point))
        static_cast<VolumeMonitor::Handler*>(data)->operator()(point);
}

}  // namespace

VolumeMonitor::VolumeMonitor(Handler added, Handler removed) : state_(std::make_unique<State>())
{
    state_->added = std::move(added);
    state_->removed = std::move(removed);
    state_->monitor = g_volume_monitor_get();
    state_->addedSignal =
        g_signal_connect(state_->monitor, "mount-added", G_CALLBACK(OnMountEvent), &state_->added);
    state_->removedSignal =
        g_signal_connect(state_->monitor, "mount-removed", G_CALLBACK(OnMountEvent), &state_->removed);
}

VolumeMonitor::~VolumeMonitor()
{
    g_signal_handler_disconnect(state_->monitor, state_->addedSignal);
    g_signal_handler_disconnect(state_->monitor, state_->removedSignal);
    g_object_unref(state_->monitor);
}

std::vector<MountPoint> VolumeMonitor::Mounts() const
{
    std::vector<MountPoint> points;
    GList* mounts = g_volume_monitor_get_mounts(state_->monitor);
    for (GList* item = mounts; item != nullptr; item = item->next) {
        MountPoint point;
        if (ToMountPoint(G_MOUNT(item->data), point))
            points.push_back(point);
    }
    g_list_free_full(mounts, g_object_unref);
    return points;
}

}  // namespace platform
