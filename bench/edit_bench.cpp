// SPDX-License-Identifier: GPL-3.0-or-later
// Difference-only sending against the simulator at 1 ms per report, on wall time: an A/B switch
// between sets that differ in one 24-band bank, and the undo of one band edit.
#include "device/connection.h"
#include "params/edit_path.h"
#include "sim/simulated_amplifier.h"

#include <benchmark/benchmark.h>
#include <chrono>

using namespace q7;

namespace {

struct Bench {
    SystemClock clock;
    SimulatedAmplifier sim{clock, [] {
                               SimOptions o;
                               o.latencyUs = 1000;
                               return o;
                           }()};
    ParameterStore store;
    Connection c{sim, clock, store};
    EditPath edits{store, c.link, clock, [this] { return c.link.isOpen(); }};
    Bench() {
        c.link.OpenLink();
        edits.amplifierHoldsStore();
    }
    double msSince(std::chrono::steady_clock::time_point t) {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t)
            .count();
    }
};

} // namespace

static void BM_SwitchABOneBankLatency1ms(benchmark::State& state) {
    Bench b;
    b.edits.switchTo(1);
    for (int band = 0; band < 24; ++band)
        b.edits.edit(
            [band](Dsp& d) { return d.SendBand(5, band, filter::Peq, 2.5, 100 + 40 * band, 1.8); });
    int slot = 0;
    double worst = 0;
    for (auto _ : state) {
        const int before = b.sim.requestsSeen();
        const auto t = std::chrono::steady_clock::now();
        b.edits.switchTo(slot);
        b.c.link.awaitReply();
        worst = std::max(worst, b.msSince(t));
        state.counters["reports"] = b.sim.requestsSeen() - before;
        slot = 1 - slot;
    }
    state.counters["worst_ms"] = worst;
}
BENCHMARK(BM_SwitchABOneBankLatency1ms)
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

static void BM_UndoOneBandLatency1ms(benchmark::State& state) {
    Bench b;
    double worst = 0;
    int n = 0;
    for (auto _ : state) {
        b.edits.edit([n](Dsp& d) { return d.SendBand(5, 3, filter::Peq, n % 10, 480, 2.0); });
        const int before = b.sim.requestsSeen();
        const auto t = std::chrono::steady_clock::now();
        b.edits.undo();
        b.c.link.awaitReply();
        worst = std::max(worst, b.msSince(t));
        state.counters["reports"] = b.sim.requestsSeen() - before;
        ++n;
    }
    state.counters["worst_ms"] = worst;
}
BENCHMARK(BM_UndoOneBandLatency1ms)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();
