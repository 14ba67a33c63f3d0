// SPDX-License-Identifier: GPL-3.0-or-later
// HandleReply: what the editor does with every report the amplifier sends.
#pragma once

#include "device/device_state.h"
#include "device/link_observer.h"
#include "params/store.h"
#include "protocol/report.h"

#include <functional>

namespace q7 {

class ReplyHandler {
public:
    ReplyHandler(ParameterStore& store, DeviceState& state) : store_(store), state_(state) {}

    void setObserver(LinkObserver* observer) { observer_ = observer; }
    // How the tunnel acknowledgement goes out (the link's unpaced write).
    void setAckSender(std::function<void(const Report&)> send) { sendAck_ = std::move(send); }

    // Runs on the read thread for every received report; never trusts its contents.
    void HandleReply(const Report& r);

private:
    ParameterStore& store_;
    DeviceState& state_;
    LinkObserver* observer_ = nullptr;
    std::function<void(const Report&)> sendAck_;

    void handleMemory(const Report& r);
};

// The text of the once-per-run DSP error box.
std::string dspErrorText(const Report& r);

} // namespace q7
