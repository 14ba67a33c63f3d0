// SPDX-License-Identifier: GPL-3.0-or-later
// DesignBiquad: the one designer of second-order sections, shared by the coefficient sender and
// the EQ graph so that the drawn response is the one the amplifier produces.
#pragma once

#include <vector>

namespace q7 {

// Normalised so that a0 = 1.
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
};

// type: band type code (0 off, 1 PEQ, 2 LP, 3 HP, 4 LS, 5 HS, 6..21 crossover sections,
// anything else a unit all-pass). A design that cannot be evaluated (for example Q = 0 on an
// erased record) yields the plain pass-through section instead of NaN coefficients.
Biquad DesignBiquad(int type, double gainDb, double frequencyHz, double q, double extraGainDb,
                    double sampleRate);

// Magnitude response in dB of one section at frequency f.
double biquadMagnitudeDb(const Biquad& b, double frequencyHz, double sampleRate);

// Runs the samples through the section in place, starting from rest.
void filterInPlace(std::vector<double>& samples, const Biquad& b);

} // namespace q7
