// SPDX-License-Identifier: GPL-3.0-or-later
// Costs of the parameter engine: filter design and a whole full download on virtual time.
#include "params/biquad.h"
#include "params/dsp.h"
#include "params/mode_file.h"
#include "protocol/clock.h"
#include "protocol/report_sink.h"

#include <benchmark/benchmark.h>

using namespace q7;

static void BM_DesignBiquad(benchmark::State& state) {
    const int type = int(state.range(0));
    double f = 20;
    for (auto _ : state) {
        benchmark::DoNotOptimize(DesignBiquad(type, 3.0, f, 1.41, 0.0, 48000));
        f = f > 20000 ? 20 : f * 1.01;
    }
}
BENCHMARK(BM_DesignBiquad)->Arg(1)->Arg(4)->Arg(6)->Arg(16)->Arg(0);

static void BM_FullDownloadNullSink(benchmark::State& state) {
    ParameterStore store;
    store.setCellInt(26, 90);
    store.setCellInt(85, 90);
    NullSink sink;
    VirtualClock clock;
    Dsp dsp(store, sink, clock);
    for (auto _ : state)
        benchmark::DoNotOptimize(dsp.fullDownload(int(state.range(0))));
}
BENCHMARK(BM_FullDownloadNullSink)->Arg(0)->Arg(1);

static void BM_SendBand(benchmark::State& state) {
    ParameterStore store;
    NullSink sink;
    VirtualClock clock;
    Dsp dsp(store, sink, clock);
    int band = 0;
    for (auto _ : state) {
        dsp.SendBand(EqHalf::Main, band, 1, 2.5, 1000 + band, 1.41);
        band = (band + 1) % 24;
    }
}
BENCHMARK(BM_SendBand);

static void BM_ModeFileParse(benchmark::State& state) {
    ParameterStore source;
    const auto bytes = modeFileBytes(source.modeImage());
    ParameterStore target;
    for (auto _ : state)
        benchmark::DoNotOptimize(loadModeFile(bytes, target));
}
BENCHMARK(BM_ModeFileParse);
