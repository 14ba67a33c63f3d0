// SPDX-License-Identifier: GPL-3.0-or-later
// What a perfect measurement gives: each speaker's true impulse response through the simulated
// amplifier as it is set now and the room, analysed as a measurement analyses it. Fast, for
// testing the tuning's arithmetic apart from the sweeps.
#pragma once

#include "measure/impulse.h"
#include "params/edit_path.h"
#include "tune/tune.h"
#include "tune_rig.h"

namespace q7::test {

inline PositionSweeps truePosition(TuneRig& rig, int position, const std::vector<int>& speakers) {
    PositionSweeps p;
    rig.audio.setPosition(position);
    AnalysisOptions o;
    o.smoothing = Smoothing{Smoothing::Kind::None, 0};
    for (int k : speakers) {
        SpeakerSweep s;
        s.speaker = k;
        ImpulseResponse ir;
        ir.samples = rig.audio.trueImpulse(k);
        if (!ir.samples.empty()) {
            const double peak = peakIndex(ir.samples).value_or(0);
            s.arrived = true;
            s.snrDb = 80;
            s.arrivalMs = peak / 48.0;
            s.response = analyse(ir, peak, o, 40);
            for (double& d : s.response.db)
                d -= 12; // a sweep at -12 dBFS
        }
        p.speakers.push_back(std::move(s));
    }
    rig.audio.setPosition(0);
    return p;
}

inline RoomMeasurement trueMeasurement(TuneRig& rig, int positions,
                                       std::vector<int> speakers = {0, 1, 2, 3, 4, 5, 6, 7}) {
    RoomMeasurement m;
    m.settings = settingsOf(rig.store);
    for (int p = 0; p < positions; ++p)
        m.positions.push_back(truePosition(rig, p, speakers));
    return m;
}

} // namespace q7::test
