// SPDX-License-Identifier: GPL-3.0-or-later
// Deconvolution of a capture into an impulse response, and finding what arrived when.
#pragma once

#include "measure/sweep.h"

#include <complex>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

namespace q7 {

struct ImpulseResponse {
    std::vector<float> samples;
    std::size_t zero = 0; // the index of lag 0: what arrived with no delay peaks here
    double sampleRate = kMeasureSampleRate;
    // The phase (radians) the deconvolution's minimum-phase low edge adds, at 1 Hz * 2^(j/96);
    // the analysis takes it out again. Empty: none.
    std::vector<float> edgePhase;
    double edgePhaseAt(double hz) const;

    // Seconds from lag 0 to a (fractional) index.
    double secondsAt(double index) const { return (index - double(zero)) / sampleRate; }
};

// capture ∗ inverse, with lag 0 where a capture that is the sweep itself (starting at frame 0)
// would peak. The analytic inverse leaves a ripple near the sweep's ends (a dB at one octave
// above the start of a 1 s sweep): the result is divided by sweep ∗ inverse's own spectrum
// (regularised where the sweep has no energy), so that the sweep through nothing reads flat.
class RealFft;

class Deconvolver {
public:
    explicit Deconvolver(const SweepSetup& sweep);
    ~Deconvolver();
    ImpulseResponse operator()(const std::vector<float>& capture);
    // Makes the filter for captures of this length ahead (while the sweep plays): the first
    // deconvolution of a length costs several times the later ones.
    void prepareFor(std::size_t captureFrames);
    const SweepSetup& sweep() const { return setup_; }
    std::size_t sweepLength() const { return sweep_.size(); }

private:
    SweepSetup setup_;
    std::vector<float> sweep_, inverse_;
    // The inverse's spectrum corrected by sweep ∗ inverse, for the last transform size.
    std::unique_ptr<RealFft> fft_;
    std::vector<std::complex<double>> filter_, spectrum_;
    std::vector<double> out_;
    std::vector<float> edgePhase_;

    void prepare(std::size_t size);
};

// One-off deconvolution with the plain analytic inverse (no correction).
ImpulseResponse deconvolve(const std::vector<float>& capture, const std::vector<float>& inverse,
                           double sampleRate = kMeasureSampleRate);

// The index of the largest magnitude in [from, to), refined to a fraction of a sample by a
// parabola through its neighbours; nullopt for an empty range.
std::optional<double> peakIndex(const std::vector<float>& x, std::size_t from, std::size_t to);
inline std::optional<double> peakIndex(const std::vector<float>& x) {
    return peakIndex(x, 0, x.size());
}

// x resampled so that what took `ratio` samples now takes one: y[i] = x(start + i * ratio), by
// windowed-sinc interpolation (flat to 0.01 dB up to 0.9 of the Nyquist frequency). x is zero
// outside itself; `frames` outputs, or as many as reach x's end when 0.
std::vector<float> resample(const std::vector<float>& x, double ratio, double start = 0,
                            std::size_t frames = 0);
// The kernel's reach each side of a sample, in x's samples, at ratio 1 or less (it widens by
// the ratio above 1).
constexpr int kResampleHalfTaps = 32;

// One channel out of interleaved frames.
std::vector<float> channelOf(const std::vector<float>& interleaved, int channels, int channel);

} // namespace q7
