// SPDX-License-Identifier: GPL-3.0-or-later
// Fitting an EQ bank to a measurement: the bands' type (peaking or shelf), frequency, gain and Q
// are chosen so that measurement + EQ follows a target, on the amplifier's own section designs,
// and judged after rounding to what a band record holds (0.1 dB, whole hertz, Q in thousandths).
#pragma once

#include "params/eq_bank.h"
#include "params/measurement.h"

#include <vector>

namespace q7 {

struct FitOptions {
    double loHz = 20.0, hiHz = 20000.0;
    int maxBands = -1;       // at most this many of the free bands, the first ones; -1 all
    double maxBoostDb = 6.0; // per band
    bool cutOnly = false;
};

struct FitResult {
    bool ok = false;
    Note error;
    EqBankState bank;                      // the start bank with the fitted bands
    std::vector<int> bandsUsed;            // 0-based bands the fit set
    std::vector<double> hz;                // the 1/48-octave points inside the range
    std::vector<double> measurement;       // on hz
    std::vector<double> target;            // on hz
    std::vector<double> eqBefore, eqAfter; // the bank's response on hz
    ErrorStats before, after;
    std::vector<Note> notes;
};

// The bands a fit may set: neither fixed nor a pass filter (a Sub crossover stays as it is).
std::vector<int> fittableBands(const EqBankState& state);

// Bands used but not chosen (beyond maxBands) are set flat; fixed bands and pass filters are
// kept and their response counts in the prediction.
FitResult fitBank(const EqBankState& start, const ResponseCurve& measurement, const Target& target,
                  const FitOptions& options);

} // namespace q7
