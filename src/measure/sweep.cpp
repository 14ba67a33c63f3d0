// SPDX-License-Identifier: GPL-3.0-or-later
#include "measure/sweep.h"

#include "measure/fft.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace q7 {

namespace {

std::size_t sweepLength(const SweepSetup& s) {
    return std::max<std::size_t>(std::size_t(std::llround(s.seconds * s.sampleRate)), 16);
}

// Raised cosine from 0 to 1 over [0, span) samples.
double rise(double i, double span) {
    if (span <= 1 || i >= span)
        return 1.0;
    return 0.5 - 0.5 * std::cos(std::numbers::pi * std::max(i, 0.0) / span);
}

} // namespace

double sweepEndHz(const SweepSetup& s) {
    return std::min(s.endHz, 0.4999 * s.sampleRate);
}

double sweepRate(const SweepSetup& s) {
    const double n = double(sweepLength(s)) / s.sampleRate;
    return n / std::log(sweepEndHz(s) / s.startHz);
}

double harmonicLeadSeconds(const SweepSetup& s, int k) {
    return sweepRate(s) * std::log(double(k));
}

std::vector<float> exponentialSweep(const SweepSetup& s) {
    const std::size_t n = sweepLength(s);
    const double L = sweepRate(s);
    const double amplitude = std::pow(10.0, s.levelDbfs / 20.0);
    const double octave = L * std::log(2.0) * s.sampleRate; // samples per octave
    const double fadeIn = s.fadeInOctaves * octave, fadeOut = s.fadeOutOctaves * octave;
    std::vector<float> x(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = double(i) / s.sampleRate;
        const double phase = 2 * std::numbers::pi * s.startHz * L * std::expm1(t / L);
        const double env = rise(double(i), fadeIn) * rise(double(n - 1 - i), fadeOut);
        x[i] = float(amplitude * env * std::sin(phase));
    }
    return x;
}

std::vector<float> inverseSweep(const SweepSetup& s) {
    const std::vector<float> x = exponentialSweep(s);
    const std::size_t n = x.size();
    const double L = sweepRate(s);
    std::vector<float> inv(n);
    // Time-reversed, weighted by -6 dB per octave towards the low end.
    for (std::size_t i = 0; i < n; ++i)
        inv[i] = float(double(x[n - 1 - i]) * std::exp(-double(i) / s.sampleRate / L));
    // Scale so that the band's gain is one: the mean magnitude of sweep ∗ inverse over the
    // octaves well inside the sweep.
    RealFft fft(goodFftSize(2 * n));
    std::vector<std::complex<double>> a(fft.bins()), b(fft.bins());
    fft.forward(x.data(), n, a.data());
    fft.forward(inv.data(), n, b.data());
    const double lo = s.startHz * 4, hi = sweepEndHz(s) / 2;
    double sum = 0;
    int count = 0;
    for (double f = lo; f <= hi; f *= std::pow(2.0, 1.0 / 24)) {
        const std::size_t k = std::size_t(std::llround(f / s.sampleRate * double(fft.size())));
        if (k < a.size()) {
            sum += std::abs(a[k] * b[k]);
            ++count;
        }
    }
    const double scale = count && sum > 0 ? double(count) / sum : 1.0;
    for (float& v : inv)
        v = float(v * scale);
    return inv;
}

} // namespace q7
