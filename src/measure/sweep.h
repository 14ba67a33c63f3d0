// SPDX-License-Identifier: GPL-3.0-or-later
// The exponential sine sweep and its inverse filter (Farina's method, in the synchronised form
// of Novak, Lotton and Simon): capture ∗ inverse is the impulse response of what was played
// through, with each harmonic's response landing before the linear one.
#pragma once

#include <vector>

namespace q7 {

inline constexpr double kMeasureSampleRate = 48000.0;

struct SweepSetup {
    double seconds = 3.0;
    double startHz = 10.0;
    double endHz = 24000.0;   // held below half the sample rate
    double levelDbfs = -12.0; // peak level; a full-scale sine is 0 dBFS
    double sampleRate = kMeasureSampleRate;
    // Raised-cosine fades over the ends of the sweep, in octaves of its travel.
    double fadeInOctaves = 0.5;
    double fadeOutOctaves = 0.15;
};

// The usable end frequency of a setup (endHz held just below half the sample rate).
double sweepEndHz(const SweepSetup& s);
// L, the sweep's time constant in seconds: the frequency doubles every L ln 2.
double sweepRate(const SweepSetup& s);
// How long before the linear impulse the k-th harmonic's impulse lands (L ln k).
double harmonicLeadSeconds(const SweepSetup& s, int k);

std::vector<float> exponentialSweep(const SweepSetup& s);
// Normalised so that sweep ∗ inverse is a unit impulse over the band at lag size() - 1:
// deconvolving a capture gives the transfer function from the played sweep to the capture.
std::vector<float> inverseSweep(const SweepSetup& s);

} // namespace q7
