// SPDX-License-Identifier: GPL-3.0-or-later
// What the amplifier does to the music on its way to each speaker, as a complex frequency
// response computed from the settings it holds: the output's EQ records (with their crossover
// and all-pass sections), the delay stage in its mode, the speaker level and the music mix.
// Filters are the coefficient words the amplifier receives (DesignBiquad narrowed to single),
// so a prediction made with these is what the amplifier will play.
#pragma once

#include "params/biquad.h"
#include "params/store.h"

#include <complex>
#include <vector>

namespace q7 {

using Complex = std::complex<double>;

// One section as the amplifier runs it: its coefficient words narrowed to single.
struct Section {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    explicit Section(const Biquad& b);
    explicit Section(const BandRecord& r); // designed as the amplifier's filters are
    Complex at(double hz) const;
    // Multiplies h by the section's response at each frequency.
    void apply(const std::vector<double>& hz, std::vector<Complex>& h) const;
};

Complex sectionResponse(const Biquad& b, double hz);
Complex recordResponse(const BandRecord& r, double hz);

// Reading settings kept as a mode image.
std::int32_t imageCellInt(const ModeImage& m, int cell);
float imageCellFloat(const ModeImage& m, int cell);
BandRecord imageBand(const ModeImage& m, int group, int record);
void setImageBand(ModeImage& m, int group, int record, const BandRecord& r);
float imageSpeakerLevel(const ModeImage& m, int speaker); // dB, speaker numbers 1..8

// The parts of an output's chain.
struct ChainParts {
    bool eq = true;    // the output's EQ records, unless bypassed
    bool delay = true; // the delay stage with its split records
    bool level = true; // the speaker level and the music mix
};

// What every output shares: the music EQ (unless bypassed) and the music volume.
std::vector<Complex> musicChain(const ModeImage& settings, const std::vector<double>& hz);

// The chain of speakerOutputs()[speaker] at each frequency, after the music chain.
std::vector<Complex> outputChain(const ModeImage& settings, int speaker,
                                 const std::vector<double>& hz, ChainParts parts = {});

// The delay the output's delay stage applies, in ms (0 when it is off), as the amplifier has
// it: a whole number of samples, at least 1.5 ms.
double appliedDelayMs(const ModeImage& settings, int speaker);
// Whether the delay stage delays the whole signal ("Channel") rather than only what its
// high-pass split record lets through ("High Freq").
bool delaysWholeSignal(const ModeImage& settings, int speaker);

} // namespace q7
