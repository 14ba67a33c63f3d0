// SPDX-License-Identifier: GPL-3.0-or-later
// Microphone calibration files and the level calibration that makes a response read in dB SPL.
#pragma once

#include "measure/problem.h"
#include "measure/response.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace q7 {

struct MicCalibration {
    std::vector<double> hz, db, phaseDeg; // phaseDeg empty when the file has none
    // The level in dBFS that 94 dB SPL reads on this microphone, when the header says so
    // ("Sens Factor =-0.77dB, SESNS=-17.23": SESNS, or -18 - Sens Factor without it).
    std::optional<double> dbfsAt94;
    int ignoredLines = 0;
    MeasureIssue problem; // set when nothing could be read
    std::string error;    // the problem in the command line's words
    void fail(MeasureIssue issue) {
        problem = std::move(issue);
        error = english(problem);
    }

    bool ok() const { return hz.size() >= 2 && error.empty(); }
    // The correction at f: interpolated over log frequency, held at the ends.
    double dbAt(double hz) const;
    double phaseAt(double hz) const;
};

MicCalibration parseMicCalibration(std::string_view text);
MicCalibration readMicCalibration(const std::string& path);

// Takes the microphone's own response out of a measured one.
void applyCalibration(FrequencyResponse& r, const MicCalibration& cal);

// The dB to add to a transfer function measured with a sweep at sweepDbfs so that it reads in
// dB SPL, given the level in dBFS that 94 dB SPL reads at the microphone (an acoustic
// calibrator, or the microphone file's sensitivity). A sine of the sweep's level through a
// transfer of 0 dB reads sweepDbfs at the microphone.
inline double splOffset(double sweepDbfs, double dbfsAt94) {
    return sweepDbfs + 94.0 - dbfsAt94;
}

} // namespace q7
