// SPDX-License-Identifier: GPL-3.0-or-later
// The transport beneath the link: enumeration, open, timed read and write of 61-byte reports.
// Implemented by hidapi (real amplifiers), the simulated amplifier and trace replay.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace q7 {

inline constexpr std::uint16_t kVendorId = 0x2010;
inline constexpr std::uint16_t kProductId = 0x1031;
inline constexpr int kMaxEnumeratedInterfaces = 32;

struct HidInterface {
    std::string path;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};

class HidDevice {
public:
    virtual ~HidDevice() = default;
    // Reads one report into buf; returns its length, 0 when nothing came within the timeout,
    // or -1 on an error (the device is gone or broken).
    virtual int read(std::uint8_t* buf, std::size_t size, int timeoutMs) = 0;
    // Writes one report; returns the bytes written or -1.
    virtual int write(const std::uint8_t* data, std::size_t size) = 0;
};

enum class OpenError { None, NotFound, PermissionDenied, Failed };

class HidBackend {
public:
    virtual ~HidBackend() = default;
    virtual std::vector<HidInterface> enumerate() = 0;
    virtual std::unique_ptr<HidDevice> open(const std::string& path, OpenError& error) = 0;
};

// Arrival and removal of HID interfaces, by path.
class HotplugListener {
public:
    virtual ~HotplugListener() = default;
    virtual void deviceArrived(const std::string& path) = 0;
    virtual void deviceRemoved(const std::string& path) = 0;
};

} // namespace q7
