// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/udev_watcher.h"

#include <cstring>
#include <libudev.h>

namespace q7 {

UdevWatcher::UdevWatcher() {
    udev_ = udev_new();
    if (!udev_)
        return;
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (!monitor_)
        return;
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0) {
        udev_monitor_unref(monitor_);
        monitor_ = nullptr;
    }
}

UdevWatcher::~UdevWatcher() {
    if (monitor_)
        udev_monitor_unref(monitor_);
    if (udev_)
        udev_unref(udev_);
}

int UdevWatcher::fd() const {
    return monitor_ ? udev_monitor_get_fd(monitor_) : -1;
}

void UdevWatcher::dispatch(HotplugListener& listener) {
    if (!monitor_)
        return;
    while (udev_device* d = udev_monitor_receive_device(monitor_)) {
        const char* action = udev_device_get_action(d);
        const char* node = udev_device_get_devnode(d);
        if (action && node) {
            if (std::strcmp(action, "add") == 0)
                listener.deviceArrived(node);
            else if (std::strcmp(action, "remove") == 0)
                listener.deviceRemoved(node);
        }
        udev_device_unref(d);
    }
}

} // namespace q7
