// SPDX-License-Identifier: GPL-3.0-or-later
// The sweep, its inverse, deconvolution, timing and resampling on synthetic captures.
#include "measure/fft.h"
#include "measure/impulse.h"
#include "measure/response.h"
#include "measure/sweep.h"
#include "params/biquad.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <random>

using namespace q7;

namespace {

// x through a section, in double.
std::vector<float> filtered(const std::vector<float>& x, const Biquad& b) {
    std::vector<float> y(x.size());
    double z1 = 0, z2 = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double v = x[i];
        const double o = b.b0 * v + z1;
        z1 = b.b1 * v - b.a1 * o + z2;
        z2 = b.b2 * v - b.a2 * o;
        y[i] = float(o);
    }
    return y;
}

std::vector<float> delayed(const std::vector<float>& x, std::size_t by, std::size_t tail) {
    std::vector<float> y(by + x.size() + tail, 0.0f);
    std::copy(x.begin(), x.end(), y.begin() + std::ptrdiff_t(by));
    return y;
}

SweepSetup shortSweep() {
    SweepSetup s;
    s.seconds = 1.0;
    return s;
}

} // namespace

TEST(Sweep, StartsAndEndsSilentAndHoldsItsLevel) {
    const SweepSetup s = shortSweep();
    const auto x = exponentialSweep(s);
    ASSERT_EQ(x.size(), 48000u);
    EXPECT_EQ(x.front(), 0.0f);
    EXPECT_NEAR(x.back(), 0.0f, 1e-6);
    float peak = 0;
    for (float v : x)
        peak = std::max(peak, std::abs(v));
    EXPECT_NEAR(20 * std::log10(peak), -12.0, 0.01);
    EXPECT_NEAR(sweepEndHz(s), 0.4999 * 48000, 1e-9);
    // The second harmonic leads by L ln 2, L = T / ln(f2 / f1).
    EXPECT_NEAR(harmonicLeadSeconds(s, 2), std::log(2.0) / std::log(23995.2 / 10), 1e-6);
}

TEST(Sweep, SweepThroughItsInverseIsAUnitImpulseFlatOverTheBand) {
    for (double seconds : {1.0, 3.0}) {
        SweepSetup s;
        s.seconds = seconds;
        const auto x = exponentialSweep(s);
        const ImpulseResponse ir = Deconvolver(s)(x);
        const auto peak = peakIndex(ir.samples);
        ASSERT_TRUE(peak);
        EXPECT_NEAR(*peak, double(ir.zero), 0.05) << seconds;
        AnalysisOptions o;
        o.smoothing = {};
        const FrequencyResponse r = analyse(ir, *peak, o);
        ASSERT_FALSE(r.empty());
        for (std::size_t i = 0; i < r.hz.size(); ++i) {
            EXPECT_NEAR(r.db[i], 0.0, 0.02) << r.hz[i] << " Hz, " << seconds << " s";
            EXPECT_NEAR(r.phaseDeg[i], 0.0, 1.0) << r.hz[i] << " Hz";
        }
    }
}

TEST(Sweep, KnownFilterAndDelayAreRecovered) {
    const SweepSetup s = shortSweep();
    const auto x = exponentialSweep(s);
    const Biquad peq = DesignBiquad(1, 6.0, 1000, 1.41, 0, 48000);
    const Biquad hp = DesignBiquad(3, 0.0, 60, 0.707, 0, 48000);
    const auto capture = delayed(filtered(filtered(x, peq), hp), 480, 24000);
    const ImpulseResponse ir = Deconvolver(s)(capture);
    const auto peak = peakIndex(ir.samples);
    ASSERT_TRUE(peak);
    // A high pass moves the peak a little after the arrival, never before it.
    EXPECT_GE(ir.secondsAt(*peak), 0.010 - 1e-6);
    EXPECT_LT(ir.secondsAt(*peak), 0.0105);
    AnalysisOptions o;
    o.smoothing = {};
    const FrequencyResponse r = analyse(ir, *peak, o);
    for (std::size_t i = 0; i < r.hz.size(); ++i) {
        const double want =
            biquadMagnitudeDb(peq, r.hz[i], 48000) + biquadMagnitudeDb(hp, r.hz[i], 48000);
        EXPECT_NEAR(r.db[i], want, 0.15) << r.hz[i];
    }
}

TEST(Sweep, ResampleMovesTimeByTheRatioAndKeepsTheLevel) {
    // A 15 kHz tone resampled by 1 + 500 ppm keeps its level and shifts as the ratio says.
    const double f = 15000, ratio = 1.0005;
    std::vector<float> x(48000);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = float(0.5 * std::sin(2 * std::numbers::pi * f * double(i) / 48000));
    const auto y = resample(x, ratio);
    EXPECT_EQ(y.size(), std::size_t(47999 / ratio) + 1);
    double err = 0;
    for (std::size_t i = 1000; i + 1000 < y.size(); ++i) {
        const double want = 0.5 * std::sin(2 * std::numbers::pi * f * double(i) * ratio / 48000);
        err = std::max(err, std::abs(y[i] - want));
    }
    EXPECT_LT(err, 0.5 * 0.01); // within 0.1 dB
}

TEST(Sweep, PeakIsRefinedBetweenSamples) {
    std::vector<float> x(64, 0.0f);
    x[30] = 0.5f;
    x[31] = 1.0f;
    x[32] = 0.9f;
    const auto p = peakIndex(x);
    ASSERT_TRUE(p);
    EXPECT_GT(*p, 31.0);
    EXPECT_LT(*p, 31.5);
    EXPECT_FALSE(peakIndex(x, 10, 10));
    EXPECT_EQ(goodFftSize(97), 100u);
    EXPECT_EQ(goodFftSize(1), 1u);
}

TEST(Sweep, FrequencyDependentWindowKeepsLateReflectionsOutOfTheHighs) {
    // A direct sound and a reflection 50 ms later at half its level: with a plain 500 ms window
    // the comb shows everywhere; with 15 cycles it shows in the bass (300 ms at 50 Hz) and is
    // gone in the highs (1.5 ms at 10 kHz).
    ImpulseResponse ir;
    ir.samples.assign(96000, 0.0f);
    ir.samples[10000] = 1.0f;
    ir.samples[10000 + 2400] = 0.5f;
    AnalysisOptions o;
    o.smoothing = {};
    o.leftWindowMs = 5;
    const FrequencyResponse plain = analyse(ir, 10000, o);
    o.windowCycles = 15;
    const FrequencyResponse fdw = analyse(ir, 10000, o);
    auto spread = [](const FrequencyResponse& r, double lo, double hi) {
        double a = 1e9, b = -1e9;
        for (std::size_t i = 0; i < r.hz.size(); ++i)
            if (r.hz[i] >= lo && r.hz[i] <= hi) {
                a = std::min(a, r.db[i]);
                b = std::max(b, r.db[i]);
            }
        return b - a;
    };
    EXPECT_GT(spread(plain, 5000, 10000), 9.0); // 20 log10(1.5 / 0.5)
    EXPECT_LT(spread(fdw, 5000, 10000), 0.5);
    EXPECT_GT(spread(fdw, 40, 80), 6.0);
}
