// SPDX-License-Identifier: GPL-3.0-or-later
// After a tuning is applied: each speaker measured again at the main seat, against what was
// predicted and against the tuning's limits.
#pragma once

#include "tune/tune.h"

namespace q7 {

struct SpeakerCheck {
    bool measured = false;
    double levelDb = 0;      // at the main seat against the target, over its level band
    double levelErrorDb = 0; // against the mean of every speaker's
    double arrivalMs = 0, arrivalErrorMs = 0; // the Sub's is not told (a broad impulse)
    double rmsAfterDb = 0;                    // deviation from the target, as before
    double predictionErrorDb = 0;             // RMS of measured - predicted over its range
    std::vector<double> afterDb;              // 1/6 octave, on the plan's grid
};

struct TuneVerification {
    bool measured = false;
    std::array<SpeakerCheck, kSpeakerOutputs> speakers;
    double levelSpreadDb = 0;   // the largest level error
    double arrivalSpreadMs = 0; // the largest arrival error
    double dipAfterDb = 0;      // Sub + mains around the crossover
    std::vector<double> sumAfterDb;
    bool levelsOk = false, arrivalsOk = false, dipOk = false, predictionOk = false;
    std::vector<Note> shortfalls; // one line for each limit missed
    std::vector<Note> notChecked; // each figure the check could not tell, and why
    bool ok() const { return measured && levelsOk && arrivalsOk && dipOk && predictionOk; }
};

TuneVerification verifyTune(const TunePlan& plan, const PositionSweeps& after,
                            const TuneTolerance& tolerance);

} // namespace q7
