// SPDX-License-Identifier: GPL-3.0-or-later
// Fitting an EQ bank to a measurement: the bands' type (peaking or shelf), frequency, gain and Q
// are chosen so that measurement + EQ follows a target, on the amplifier's own section designs,
// and judged after rounding to what a band record holds (0.1 dB, whole hertz, Q in thousandths).
#pragma once

#include "eq/eq_bank.h"
#include "eq/measurement.h"

#include <functional>
#include <vector>

namespace q7 {

struct FitOptions {
    double loHz = 20.0, hiHz = 20000.0;
    int maxBands = -1;       // at most this many of the free bands, the first ones; -1 all
    double maxBoostDb = 6.0; // the most the fitted bands together may raise any frequency
    bool cutOnly = false;    // the fitted bands together never raise any frequency
    std::vector<int> locked; // bands (from 0) the fit leaves exactly as they are
};

// Outside the fit range the fitted bands together change the response by at most this much.
inline constexpr double kFitOutsideToleranceDb = 0.5;

struct FitResult {
    bool ok = false;
    Note error;
    EqBankState bank;                      // the start bank with the fitted bands
    std::vector<int> bandsUsed;            // 0-based bands the fit set
    double loHz = 0, hiHz = 0;             // the range fitted
    std::vector<double> hz;                // the 1/48-octave points inside the range
    std::vector<double> measurement;       // on hz
    std::vector<double> target;            // on hz
    std::vector<double> eqBefore, eqAfter; // the bank's response on hz
    ErrorStats before, after;
    bool better = false; // the fit lowers the error: only then is it worth applying
    std::vector<Note> notes;
};

// The bands a fit may set: neither fixed nor a pass filter (a Sub crossover stays as it is).
std::vector<int> fittableBands(const EqBankState& state);

// Where the bank's own pass filters and crossover leave the signal within 3 dB of their peak;
// 20 Hz..20 kHz when it has none.
struct FitRange {
    double loHz = 20.0, hiHz = 20000.0;
};
FitRange passBand(const EqBankState& state);
// The range a fit starts from: the input and effect EQs the whole band, the outputs the room's
// low end (20-500 Hz), the Sub from 20 Hz up to its crossover.
FitRange defaultFitRange(const EqBankState& state);

// Bands used but not chosen (beyond maxBands) are set flat; fixed bands, locked bands, pass
// filters and bands in use whose centre lies outside the range are kept and their response
// counts in the prediction. The range is cut to the bank's pass band.
FitResult fitBank(const EqBankState& start, const ResponseCurve& measurement, const Target& target,
                  const FitOptions& options);

// Another measure of what a fit leaves: `error` gets the fitted bands' summed response in dB, its
// first hz.size() values on hz, and answers a mean square in dB² (say, what a listener's seats
// hear once smoothed, rather than the curve the fit was given).
struct FitJudge {
    std::vector<double> hz;
    std::function<double(const std::vector<double>&)> error;
    int passes = 12;
};

// The fit's bands walked over the record grid (0.1 dB, 1 Hz, Q steps) while the judge's error
// plus the fit's cost of gain falls; every limit of the fit still holds. The other bands, the
// range, the figures before and whether it is worth applying stay; the figures after are the fit's
// own measure again.
FitResult rejudgeFit(const FitResult& fit, const FitOptions& options, const FitJudge& judge);

} // namespace q7
