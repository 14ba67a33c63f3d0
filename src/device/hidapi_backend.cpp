// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/hidapi_backend.h"

#include <cerrno>
#include <hidapi.h>
#include <unistd.h>

namespace q7 {

namespace {

class HidapiDevice final : public HidDevice {
public:
    explicit HidapiDevice(hid_device* d) : device_(d) {}
    ~HidapiDevice() override { hid_close(device_); }

    int read(std::uint8_t* buf, std::size_t size, int timeoutMs) override {
        return hid_read_timeout(device_, buf, size, timeoutMs);
    }
    int write(const std::uint8_t* data, std::size_t size) override {
        // Byte 0 is the report id (0x02), as hidapi expects.
        return hid_write(device_, data, size);
    }

private:
    hid_device* device_;
};

} // namespace

HidapiBackend::HidapiBackend() {
    hid_init();
}
HidapiBackend::~HidapiBackend() {
    hid_exit();
}

std::vector<HidInterface> HidapiBackend::enumerate() {
    std::vector<HidInterface> list;
    hid_device_info* all = hid_enumerate(0, 0);
    for (hid_device_info* d = all; d; d = d->next)
        list.push_back({d->path ? d->path : "", d->vendor_id, d->product_id});
    hid_free_enumeration(all);
    return list;
}

std::unique_ptr<HidDevice> HidapiBackend::open(const std::string& path, OpenError& error) {
    hid_device* d = hid_open_path(path.c_str());
    if (!d) {
        // hidapi does not say why; the device node does.
        if (::access(path.c_str(), F_OK) != 0)
            error = OpenError::NotFound;
        else if (::access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES)
            error = OpenError::PermissionDenied;
        else
            error = OpenError::Failed;
        return nullptr;
    }
    error = OpenError::None;
    return std::make_unique<HidapiDevice>(d);
}

} // namespace q7
