// SPDX-License-Identifier: GPL-3.0-or-later
// The EQ graph's costs: one band's curve, a full repaint of 24 bands at 1024 x 520, one drag step.
#include "controls/eq_panel.h"
#include "eq/eq_curve.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdlib>

using namespace q7;

static void BM_ComputeBandCurve(benchmark::State& state) {
    BandCurve curve;
    double f = 100;
    for (auto _ : state) {
        computeBandCurve(1, 4.5, f, 1.41, 982, curve);
        benchmark::DoNotOptimize(curve);
        f = f > 15000 ? 100 : f * 1.01;
    }
}
BENCHMARK(BM_ComputeBandCurve);

namespace {
CEqPanel& mainGraph() {
    static CEqPanel* panel = [] {
        auto* p = new CEqPanel;
        p->resize(1024, 520);
        p->SetBank(5);
        p->SetBandCount(24);
        for (int i = 0; i < 24; ++i)
            p->SetBandGain(i, float((i % 7) - 3));
        p->setSelected(6);
        return p;
    }();
    return *panel;
}
} // namespace

static void BM_Repaint24Bands(benchmark::State& state) {
    CEqPanel& g = mainGraph();
    QImage image(1024, 520, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        g.renderTo(image);
        benchmark::DoNotOptimize(image.bits());
    }
}
BENCHMARK(BM_Repaint24Bands)->Unit(benchmark::kMicrosecond);

static void BM_DragStep(benchmark::State& state) {
    CEqPanel& g = mainGraph();
    QImage image(1024, 520, QImage::Format_ARGB32_Premultiplied);
    g.setSelected(6);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(0, 0), QPointF(0, 0), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    int x = 300;
    for (auto _ : state) {
        // One pointer move of a left drag: the band's curve is recomputed, then the graph painted.
        const EqPanelBand& b = g.band(6);
        (void)b;
        g.band(6).frequency = float(100 + x);
        g.ComputeBandCurve(6);
        g.renderTo(image);
        x = x > 800 ? 300 : x + 3;
    }
}
BENCHMARK(BM_DragStep)->Unit(benchmark::kMicrosecond);

// The same drag step with a measurement, its target and the prediction drawn over the bands.
static void BM_DragStepWithOverlay(benchmark::State& state) {
    CEqPanel& g = mainGraph();
    ResponseCurve m;
    for (double f = 10; f <= 24000; f *= std::exp2(1.0 / 96)) {
        m.hz.push_back(f);
        m.db.push_back(80 + 6 * std::sin(std::log2(f) * 3));
    }
    Target house;
    house.kind = Target::Kind::House;
    g.setOverlay(m, house, "room.txt");
    QImage image(1024, 520, QImage::Format_ARGB32_Premultiplied);
    g.setSelected(6);
    int x = 300;
    for (auto _ : state) {
        g.band(6).frequency = float(100 + x);
        g.ComputeBandCurve(6);
        g.renderTo(image);
        x = x > 800 ? 300 : x + 3;
    }
    g.clearOverlay();
}
BENCHMARK(BM_DragStepWithOverlay)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
