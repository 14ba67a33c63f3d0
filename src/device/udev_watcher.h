// SPDX-License-Identifier: GPL-3.0-or-later
// Arrival and removal of hidraw devices from udev. The owner polls fd() (a QSocketNotifier in
// the editor) and calls dispatch() when it is readable.
#pragma once

#include "device/hid_backend.h"

struct udev;
struct udev_monitor;

namespace q7 {

class UdevWatcher {
public:
    UdevWatcher();
    ~UdevWatcher();
    UdevWatcher(const UdevWatcher&) = delete;
    UdevWatcher& operator=(const UdevWatcher&) = delete;

    bool ok() const { return monitor_ != nullptr; }
    int fd() const;
    // Reads the pending events and reports each to the listener with the device node path.
    void dispatch(HotplugListener& listener);

private:
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
};

} // namespace q7
