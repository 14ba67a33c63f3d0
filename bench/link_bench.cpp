// SPDX-License-Identifier: GPL-3.0-or-later
// The link's own cost: paced request-and-reply exchanges against the simulator on wall time,
// and a whole `q7ctl pull` against its floor.
#include "cli/q7ctl.h"
#include "device/connection.h"
#include "params/dsp.h"
#include "sim/simulated_amplifier.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

using namespace q7;

static void BM_PacedExchangesZeroLatency(benchmark::State& state) {
    SystemClock clock;
    SimulatedAmplifier sim(clock);
    ParameterStore store;
    Connection c(sim, clock, store);
    c.link.OpenLink();
    const Report request = dspRead(1, 30, 1);
    for (auto _ : state)
        c.link.write(request);
    c.link.awaitReply();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PacedExchangesZeroLatency)->UseRealTime();

// Floor: the synchronisation's fixed waits (2500 + 20 + 200 + 100 + 500 ms) plus one latency per
// exchange (183 requests at 1 ms).
static void BM_Q7ctlPullLatency1ms(benchmark::State& state) {
    constexpr double floorMs = 2500 + 20 + 200 + 100 + 500 + 183 * 1.0;
    for (auto _ : state) {
        std::ostringstream out, err;
        const auto start = std::chrono::steady_clock::now();
        runQ7ctl({"--simulator=latency_us=1000", "pull"}, out, err);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        state.counters["wall_ms"] = ms;
        state.counters["floor_ms"] = floorMs;
        state.counters["over_floor_pct"] = 100.0 * (ms - floorMs) / floorMs;
    }
}
BENCHMARK(BM_Q7ctlPullLatency1ms)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same exchanges handed over by a thread that never waits (the window): the link's writer
// sends them.
static void BM_QueuedExchangesZeroLatency(benchmark::State& state) {
    SystemClock clock;
    SimulatedAmplifier sim(clock);
    ParameterStore store;
    Connection c(sim, clock, store);
    c.link.setNonWaitingThread(std::this_thread::get_id());
    c.link.OpenLink();
    const Report request = dspRead(1, 30, 1);
    int seen = sim.requestsSeen();
    for (auto _ : state) {
        // Handed over, then written by the writer: the round of one exchange.
        c.link.write(request);
        while (sim.requestsSeen() == seen)
            std::this_thread::yield();
        ++seen;
    }
    c.link.awaitReply();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QueuedExchangesZeroLatency)->UseRealTime();

// A recorded `q7ctl pull` played back in place of the amplifier, against the recording's time.
static void BM_ReplayOfARecordedPull(benchmark::State& state) {
    const std::string trace = "/tmp/q7_link_bench_pull.trace";
    auto wall = [](const std::vector<std::string>& args) {
        std::ostringstream out, err;
        const auto start = std::chrono::steady_clock::now();
        runQ7ctl(args, out, err);
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count();
    };
    for (auto _ : state) {
        const double live = wall({"--simulator=latency_us=1000", "--trace", trace, "pull"});
        const double replayed = wall({"--replay", trace, "pull"});
        state.counters["live_ms"] = live;
        state.counters["replay_ms"] = replayed;
        state.counters["replay_over_live"] = replayed / live;
    }
    std::remove(trace.c_str());
}
BENCHMARK(BM_ReplayOfARecordedPull)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
