// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary reports, 61 bytes at a time, through HandleReply: every field stays bounded.
#include "device/reply.h"

#include <algorithm>
#include <cstdlib>

namespace {
struct Observer : q7::LinkObserver {
    void keyLearned(int code) override {
        if (code < 0 || code > 255)
            std::abort();
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static q7::ParameterStore store;
    static q7::DeviceState state;
    static Observer observer;
    static q7::ReplyHandler handler = [] {
        q7::ReplyHandler h(store, state);
        h.setObserver(&observer);
        h.setAckSender([](const q7::Report& r) {
            if (r != q7::tunnelAcknowledgement())
                std::abort();
        });
        return h;
    }();
    for (std::size_t at = 0; at < size; at += q7::kReportSize) {
        q7::Report r{};
        std::copy_n(data + at, std::min(q7::kReportSize, size - at), r.begin());
        handler.HandleReply(r);
    }
    if (state.model().size() > q7::kModelStorage ||
        state.mcuVersion().size() > q7::kVersionStorage ||
        state.modeNames().get(0).size() > q7::kModeNameStorage ||
        store.cellInt(q7::cell::CurrentMode) > 3)
        std::abort();
    return 0;
}
