// SPDX-License-Identifier: GPL-3.0-or-later
// What can go wrong in a capture: clipping, too little signal over the noise, nothing arriving;
// and the harmonic distortion the sweep reveals on the way.
#pragma once

#include "measure/impulse.h"
#include "measure/sweep.h"

#include <cstddef>
#include <vector>

namespace q7 {

inline constexpr float kClipLevel = 0.999f;
inline constexpr double kMinSnrDb = 40.0;
inline constexpr double kMinArrivalDb = 20.0;    // impulse peak over the impulse's noise floor
inline constexpr double kMinArrivalSnrDb = 10.0; // the sweep over the silence after it

double peakDbfs(const float* x, std::size_t n);
double rmsDbfs(const float* x, std::size_t n); // a full-scale sine reads 0
// Samples at or beyond the clipping level.
std::size_t clippedSamples(const std::vector<float>& x);

struct CaptureQuality {
    double peakDbfs = -300;
    std::size_t clipped = 0; // samples at full scale
    double snrDb = 0;        // the sweep's level over the silent tail's
    double arrivalDb = 0;    // impulse peak over the impulse's own noise floor
    bool arrived = false;

    bool isClipped() const { return clipped > 0; }
    bool lowSnr() const { return snrDb < kMinSnrDb; }
};

// sweepStart: where the sweep begins in the capture (the peak's lag); sweepLength in samples;
// tailFrom: where the silent tail begins (after the room's decay).
CaptureQuality assessCapture(const std::vector<float>& capture, const ImpulseResponse& ir,
                             double peak, std::size_t sweepStart, std::size_t sweepLength,
                             std::size_t tailFrom);

// Total harmonic distortion in percent at hz (harmonics 2..maxHarmonic that the sweep covered),
// from the harmonic impulses before the linear one at peak; negative when it cannot be told.
double thdPercent(const ImpulseResponse& ir, double peak, const SweepSetup& sweep, double hz,
                  int maxHarmonic = 5);

} // namespace q7
