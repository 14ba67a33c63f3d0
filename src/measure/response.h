// SPDX-License-Identifier: GPL-3.0-or-later
// From an impulse response to a frequency response: windows around the peak, the transform,
// smoothing as REW users know it, and the log-spaced points the outputs carry.
#pragma once

#include "measure/impulse.h"

#include <optional>
#include <string>
#include <vector>

namespace q7 {

struct Smoothing {
    enum class Kind { None, Octave, Variable, Psychoacoustic } kind = Kind::None;
    int fraction = 0; // N of 1/N octave

    // "none", "1/1", "1/3", "1/6", "1/12", "1/24", "1/48", "variable", "psy"; nullopt otherwise.
    static std::optional<Smoothing> parse(const std::string& text);
    // As REW names it: "No smoothing", "1/12 octave smoothing", "Var. smoothing",
    // "Psy. smoothing".
    std::string name() const;
    // The width in octaves at f (0 for none).
    double widthOctaves(double hz) const;
};

struct AnalysisOptions {
    // Before the peak: the flat part ends at the peak, a raised-cosine rise of a quarter of the
    // length leads into it. Held short of the second harmonic's impulse.
    double leftWindowMs = 50;
    // After the peak: flat for four fifths, then a raised-cosine fall.
    double rightWindowMs = 500;
    // Frequency-dependent window: at f the right window is cycles / f long (0: off).
    double windowCycles = 0;
    Smoothing smoothing{Smoothing::Kind::Octave, 48};
    double lowHz = 20, highHz = 20000;
    int pointsPerOctave = 48;
};

struct FrequencyResponse {
    std::vector<double> hz, db, phaseDeg;
    bool empty() const { return hz.empty(); }
};

// The log-spaced frequencies lowHz * 2^(k / pointsPerOctave) up to highHz.
std::vector<double> logFrequencies(double lowHz, double highHz, int pointsPerOctave);

// The response of ir around peak (an index into ir.samples). Magnitude in dB of the transfer
// function (0 dB: the capture holds what was played); phase in degrees with the peak's time
// taken out, so a pure delay reads 0. maxLeftMs caps the left window (the harmonics' room).
FrequencyResponse analyse(const ImpulseResponse& ir, double peak, const AnalysisOptions& o,
                          double maxLeftMs = 1e9);

} // namespace q7
