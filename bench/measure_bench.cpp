// SPDX-License-Identifier: GPL-3.0-or-later
// The cost of a measurement's analysis: deconvolution and analysis of a recording of a 3 s and a
// 10 s sweep at 48 kHz (the filters made while the sweep plays, timed on their own).
#include "measure/run.h"

#include <benchmark/benchmark.h>
#include <random>

using namespace q7;

namespace {

struct Recording {
    MeasureSetup setup;
    PlaybackLayout layout;
    std::vector<float> mic, loop;
    explicit Recording(double seconds, TimingReference reference = TimingReference::None,
                       double ppm = 0) {
        setup.sweep.seconds = seconds;
        setup.reference = reference;
        layout = layoutPlayback(setup);
        // A room-like path: 9 ms late, a reflection, some noise.
        const double ratio = 1 / (1 + ppm * 1e-6);
        loop = resample(layout.signal, ratio, -32.0, layout.recordFrames);
        mic = resample(layout.signal, ratio, -432.0, layout.recordFrames);
        const std::vector<float> echo =
            resample(layout.signal, ratio, -1300.5, layout.recordFrames);
        std::mt19937 rng(3);
        std::normal_distribution<double> noise(0, 1e-4);
        for (std::size_t i = 0; i < mic.size(); ++i)
            mic[i] = float(0.3 * mic[i] - 0.12 * echo[i] + noise(rng));
    }
};

void BM_AnalyseRecording(benchmark::State& state) {
    const Recording r(double(state.range(0)));
    Deconvolvers prepared(r.setup, r.layout);
    for (auto _ : state) {
        const MeasureOutcome m = analyseRecording(r.setup, r.layout, r.mic, nullptr, &prepared);
        benchmark::DoNotOptimize(m.delayMs);
    }
}
BENCHMARK(BM_AnalyseRecording)->Arg(3)->Arg(10)->Unit(benchmark::kMillisecond);

// With a loopback channel: two deconvolutions.
void BM_AnalyseRecordingWithLoopback(benchmark::State& state) {
    const Recording r(double(state.range(0)), TimingReference::Loopback);
    Deconvolvers prepared(r.setup, r.layout);
    for (auto _ : state) {
        const MeasureOutcome m = analyseRecording(r.setup, r.layout, r.mic, &r.loop, &prepared);
        benchmark::DoNotOptimize(m.delayMs);
    }
}
BENCHMARK(BM_AnalyseRecordingWithLoopback)->Arg(3)->Arg(10)->Unit(benchmark::kMillisecond);

// A recorder on its own clock, 100 ppm off: both channels resampled and deconvolved again.
void BM_AnalyseRecordingWithDriftingLoopback(benchmark::State& state) {
    const Recording r(double(state.range(0)), TimingReference::Loopback, 100);
    Deconvolvers prepared(r.setup, r.layout);
    for (auto _ : state) {
        const MeasureOutcome m = analyseRecording(r.setup, r.layout, r.mic, &r.loop, &prepared);
        benchmark::DoNotOptimize(m.delayMs);
    }
}
BENCHMARK(BM_AnalyseRecordingWithDriftingLoopback)->Arg(3)->Arg(10)->Unit(benchmark::kMillisecond);

// The filters, made before the sweep starts.
void BM_PrepareDeconvolver(benchmark::State& state) {
    const Recording r(double(state.range(0)));
    for (auto _ : state) {
        Deconvolvers prepared(r.setup, r.layout);
        benchmark::DoNotOptimize(&prepared);
    }
}
BENCHMARK(BM_PrepareDeconvolver)->Arg(3)->Arg(10)->Unit(benchmark::kMillisecond);

} // namespace
