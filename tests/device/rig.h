// SPDX-License-Identifier: GPL-3.0-or-later
// An editor-side connection to a simulated amplifier on virtual time, with a recorded trace.
#pragma once

#include "device/connection.h"
#include "protocol/trace.h"
#include "sim/simulated_amplifier.h"

#include <mutex>
#include <string>
#include <vector>

namespace q7::test {

struct Recorder : LinkObserver {
    std::mutex mutex;
    std::vector<std::string> errors;
    std::vector<int> keys;
    std::vector<TransferKind> transfers;
    std::vector<LinkState> states;
    std::function<void(TransferKind)> onTransfer;

    void keyLearned(int code) override {
        std::lock_guard l(mutex);
        keys.push_back(code);
    }
    void transferFinished(TransferKind k) override {
        {
            std::lock_guard l(mutex);
            transfers.push_back(k);
        }
        if (onTransfer)
            onTransfer(k);
    }
    void dspError(const std::string& text) override {
        std::lock_guard l(mutex);
        errors.push_back(text);
    }
    void linkStateChanged(LinkState s) override {
        std::lock_guard l(mutex);
        states.push_back(s);
    }
};

struct Rig {
    explicit Rig(SimOptions options = {}) : sim(clock, std::move(options)) {
        trace.setListener([this](const TraceLine& t) {
            std::lock_guard l(mutex);
            lines.push_back(t);
        });
        c.link.setTrace(&trace);
        c.setObserver(&recorder);
    }

    // Reports the editor sent, oldest first.
    std::vector<TraceLine> sent() {
        std::lock_guard l(mutex);
        std::vector<TraceLine> out;
        for (const TraceLine& t : lines)
            if (t.direction == Direction::ToAmplifier)
                out.push_back(t);
        return out;
    }
    std::vector<std::uint8_t> sentCodes() {
        std::vector<std::uint8_t> codes;
        for (const TraceLine& t : sent())
            codes.push_back(t.report[1]);
        return codes;
    }
    void clearTrace() {
        std::lock_guard l(mutex);
        lines.clear();
    }

    VirtualClock clock;
    Clock::Participant self{clock};
    SimulatedAmplifier sim;
    ParameterStore store;
    TraceWriter trace;
    std::mutex mutex;
    std::vector<TraceLine> lines;
    Recorder recorder;
    Connection c{sim, clock, store};
};

} // namespace q7::test
