// SPDX-License-Identifier: GPL-3.0-or-later
// Real amplifiers through hidapi's hidraw backend.
#pragma once

#include "device/hid_backend.h"

namespace q7 {

class HidapiBackend final : public HidBackend {
public:
    HidapiBackend();
    ~HidapiBackend() override;
    std::vector<HidInterface> enumerate() override;
    std::unique_ptr<HidDevice> open(const std::string& path, OpenError& error) override;
};

} // namespace q7
