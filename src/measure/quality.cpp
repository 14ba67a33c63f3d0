// SPDX-License-Identifier: GPL-3.0-or-later
#include "measure/quality.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace q7 {

namespace {

double meanSquare(const float* x, std::size_t n) {
    double s = 0;
    for (std::size_t i = 0; i < n; ++i)
        s += double(x[i]) * x[i];
    return n ? s / double(n) : 0.0;
}

double db10(double power) {
    return 10 * std::log10(std::max(power, 1e-30));
}

// The complex amplitude at hz of ir over [from, to) with a Hann window, scaled so that a unit
// impulse reads 1 (the window's value at the impulse).
std::complex<double> toneAt(const ImpulseResponse& ir, double centre, long from, long to,
                            double hz) {
    std::complex<double> acc;
    const double w = 2 * std::numbers::pi * hz / ir.sampleRate;
    for (long i = std::max(from, 0L); i < std::min(to, long(ir.samples.size())); ++i) {
        const double u = double(i - from) / double(to - from);
        const double win = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * u);
        acc += ir.samples[std::size_t(i)] * win * std::polar(1.0, -w * (double(i) - centre));
    }
    // The window is 1 at its middle; impulses sit near the middle of their windows.
    return acc;
}

} // namespace

double peakDbfs(const float* x, std::size_t n) {
    float p = 0;
    for (std::size_t i = 0; i < n; ++i)
        p = std::max(p, std::abs(x[i]));
    return 20 * std::log10(std::max(double(p), 1e-15));
}

double rmsDbfs(const float* x, std::size_t n) {
    return db10(2 * meanSquare(x, n)); // a full-scale sine's mean square is 1/2
}

std::size_t clippedSamples(const std::vector<float>& x) {
    return std::size_t(
        std::count_if(x.begin(), x.end(), [](float v) { return std::abs(v) >= kClipLevel; }));
}

CaptureQuality assessCapture(const std::vector<float>& capture, const ImpulseResponse& ir,
                             double peak, std::size_t sweepStart, std::size_t sweepLength,
                             std::size_t tailFrom) {
    CaptureQuality q;
    q.peakDbfs = peakDbfs(capture.data(), capture.size());
    q.clipped = clippedSamples(capture);
    // Signal: the capture while the sweep plays; noise: the silent tail at the end.
    const std::size_t s0 = std::min(sweepStart, capture.size());
    const std::size_t s1 = std::min(sweepStart + sweepLength, capture.size());
    const std::size_t t0 = std::min(std::max(tailFrom, s1), capture.size());
    const double signal = meanSquare(capture.data() + s0, s1 - s0);
    const double noise = meanSquare(capture.data() + t0, capture.size() - t0);
    q.snrDb = capture.size() - t0 < 256 ? 0.0 : db10(signal) - db10(noise);
    if (s1 - s0 < 16)
        q.snrDb = 0;
    // Arrival: the impulse's peak against its floor far after the peak, where only noise is.
    const std::size_t p = std::size_t(std::max(peak, 0.0));
    const double peakValue = p < ir.samples.size() ? double(ir.samples[p]) : 0.0;
    const std::size_t far = p + std::size_t(ir.sampleRate); // a second after the peak
    double floor = 0;
    if (far + 4096 < ir.samples.size())
        floor = meanSquare(ir.samples.data() + far, ir.samples.size() - far);
    else if (p > std::size_t(ir.sampleRate) / 2 + 4096) // before the harmonics instead
        floor = meanSquare(ir.samples.data(), p - std::size_t(ir.sampleRate) / 2);
    q.arrivalDb = db10(std::max(peakValue * peakValue, 1e-30)) - db10(floor);
    q.arrived = peakValue != 0 && (floor == 0 || q.arrivalDb >= kMinArrivalDb);
    return q;
}

double thdPercent(const ImpulseResponse& ir, double peak, const SweepSetup& sweep, double hz,
                  int maxHarmonic) {
    const double fs = ir.sampleRate;
    auto lead = [&](int k) { return harmonicLeadSeconds(sweep, k) * fs; };
    // The fundamental, in a window that keeps clear of the second harmonic.
    const double half1 = std::min(lead(2) / 2, 0.1 * fs);
    const std::complex<double> h1 = toneAt(ir, peak, long(peak - half1), long(peak + half1), hz);
    if (std::abs(h1) <= 0)
        return -1;
    double sum = 0;
    int used = 0;
    for (int k = 2; k <= maxHarmonic; ++k) {
        const double f = k * hz;
        if (f >= std::min(sweepEndHz(sweep), 0.45 * fs) || hz < sweep.startHz)
            break;
        const double centre = peak - lead(k);
        const double gap = std::min(lead(k) - lead(k - 1), lead(k + 1) - lead(k)) / 2;
        if (gap < 8)
            break;
        sum += std::norm(toneAt(ir, centre, long(centre - gap), long(centre + gap), f));
        ++used;
    }
    if (!used)
        return -1;
    return 100 * std::sqrt(sum) / std::abs(h1);
}

} // namespace q7
