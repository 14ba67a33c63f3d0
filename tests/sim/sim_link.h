// SPDX-License-Identifier: GPL-3.0-or-later
// Settings sent to a simulated amplifier the way the editor sends them: report by report
// through its device, so the amplifier holds what it received.
#pragma once

#include "params/dsp.h"
#include "params/store.h"
#include "protocol/clock.h"
#include "protocol/report_sink.h"
#include "sim/simulated_amplifier.h"

#include <memory>

namespace q7::test {

class SimSink final : public ReportSink {
public:
    explicit SimSink(SimulatedAmplifier& amp) {
        OpenError e{};
        device_ = amp.open(kSimulatorPath, e);
    }
    int write(const Report& r) override {
        return device_ && device_->write(r.data(), r.size()) > 0 ? int(kReportSize) : 0;
    }

private:
    std::unique_ptr<HidDevice> device_;
};

struct SimWithLink {
    VirtualClock clock;
    SimulatedAmplifier amp;
    SimSink sink;
    explicit SimWithLink(SimOptions o = {}) : amp(clock, std::move(o)), sink(amp) {}
};

} // namespace q7::test
