#include "platform/VolumeMonitor.h"

#include <gio/gio.h>
#include <gio/gunixmounts.h>

#include <sys/stat.h>

namespace platform {

struct VolumeMonitor::State {
    GVolumeMonitor* monitor = nullptr;
    gulong addedSignal = 0;
    gulong removedSignal = 0;
    Handler added;
    Handler removed;
};

namespace {

// Whether a folder is where a local block device (a card reader, a camcorder as a drive) is
// mounted. Only the system's mount table and the device node are looked at, never the folder: a
// network share that no longer answers, or a phone over MTP, would hold up whoever looks.
bool IsBlockDeviceMount(const char* folder)
{
    GUnixMountEntry* entry = g_unix_mount_at(folder, nullptr);
    if (entry == nullptr)
        return false;
    const char* device = g_unix_mount_get_device_path(entry);
    struct stat info {};
    const bool block = device != nullptr && device[0] == '/' && stat(device, &info) == 0 && S_ISBLK(info.st_mode);
    g_unix_mount_free(entry);
    return block;
}

// A mount without a local folder (a phone over MTP) holds no card. With `blockDeviceOnly`, nor
// does one of a network share or a FUSE file system; a removal is reported whatever was mounted,
// as it is no longer in the mount table.
bool ToMountPoint(GMount* mount, MountPoint& point, bool blockDeviceOnly)
{
    GFile* root = g_mount_get_root(mount);
    gchar* path = root != nullptr ? g_file_get_path(root) : nullptr;
    gchar* name = g_mount_get_name(mount);
    const bool local = path != nullptr && (!blockDeviceOnly || IsBlockDeviceMount(path));
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

void OnMountAdded(GVolumeMonitor*, GMount* mount, gpointer data)
{
    MountPoint point;
    if (ToMountPoint(mount, point, true))
        static_cast<VolumeMonitor::Handler*>(data)->operator()(point);
}

void OnMountRemoved(GVolumeMonitor*, GMount* mount, gpointer data)
{
    MountPoint point;
    if (ToMountPoint(mount, point, false))
        static_cast<VolumeMonitor::Handler*>(data)->operator()(point);
}

}  // namespace

VolumeMonitor::VolumeMonitor(Handler added, Handler removed) : state_(std::make_unique<State>())
{
    state_->added = std::move(added);
    state_->removed = std::move(removed);
    state_->monitor = g_volume_monitor_get();
    state_->addedSignal =
        g_signal_connect(state_->monitor, "mount-added", G_CALLBACK(OnMountAdded), &state_->added);
    state_->removedSignal =
        g_signal_connect(state_->monitor, "mount-removed", G_CALLBACK(OnMountRemoved), &state_->removed);
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
        if (ToMountPoint(G_MOUNT(item->data), point, true))
            points.push_back(point);
    }
    g_list_free_full(mounts, g_object_unref);
    return points;
}

}  // namespace platform
