// SPDX-License-Identifier: GPL-3.0-or-later
#include "tune/run.h"

#include <algorithm>

namespace q7 {

namespace {

RoomSweepCallbacks sweepCallbacks(const TuneCallbacks& cb, const std::string& stage) {
    RoomSweepCallbacks s;
    s.cancel = cb.cancel;
    if (cb.progress)
        s.progress = [&cb, stage](double f) { cb.progress(stage, f); };
    return s;
}

double longestDelayMs(const ModeImage& settings) {
    double most = 0;
    for (int k = 0; k < kSpeakerOutputs; ++k)
        most = std::max(most, appliedDelayMs(settings, k));
    return most;
}

bool cancelled(const TuneCallbacks& cb) {
    return cb.cancel && cb.cancel->load();
}

} // namespace

RoomRun measureRoom(AudioBackend& audio, SpeakerSwitch& speakers, const TuneOptions& o,
                    const MeasureDevices& devices, const ModeImage& settings,
                    const TuneCallbacks& cb) {
    RoomRun run;
    run.measured.settings = settings;
    RoomSweepSetup setup = tuneSweepSetup(o, false);
    const int positions = std::clamp(o.positions, 1, kMaxTunePositions);
    for (int p = 0; p < positions; ++p) {
        if (positions > 1 && cb.placeMicrophone && !cb.placeMicrophone(p, positions, false)) {
            run.cancelled = true;
            return run;
        }
        if (cancelled(cb)) {
            run.cancelled = true;
            return run;
        }
        const std::string stage =
            "position " + std::to_string(p + 1) + " of " + std::to_string(positions);
        PositionSweeps s = sweepRoom(audio, speakers, setup, devices, sweepCallbacks(cb, stage));
        if (s.cancelled) {
            run.cancelled = true;
            return run;
        }
        if (!s.ok()) {
            run.error = positions > 1 ? stage + ": " + s.error : s.error;
            return run;
        }
        // The next positions are timed by whoever timed this one, and switch as soon as the
        // streams allow.
        setup.referenceSpeaker = s.referenceSpeaker;
        fitToStreams(setup, s.offsetSeconds, longestDelayMs(settings));
        run.measured.positions.push_back(std::move(s));
    }
    return run;
}

RoomSweepSetup checkSweepSetup(const TuneOptions& o, const TunePlan& plan) {
    RoomSweepSetup setup = tuneSweepSetup(o, true);
    if (plan.streamOffsetSeconds >= 0)
        fitToStreams(setup, plan.streamOffsetSeconds, longestDelayMs(plan.after));
    return setup;
}

TuneCheckRun checkTune(AudioBackend& audio, SpeakerSwitch& speakers, const TuneOptions& o,
                       const TunePlan& plan, const MeasureDevices& devices,
                       const TuneCallbacks& cb) {
    TuneCheckRun run;
    TuneOptions check = o;
    check.speakers.clear();
    for (const TuneSpeaker& t : plan.speakers)
        if (t.connected)
            check.speakers.push_back(t.speaker);
    // Timed by a full-range speaker that is there: the one that timed the measurement if it can.
    auto there = [&](int k) {
        return k != kTuneSub &&
               std::find(check.speakers.begin(), check.speakers.end(), k) != check.speakers.end();
    };
    if (!there(check.referenceSpeaker))
        for (int k : check.speakers)
            if (there(k)) {
                check.referenceSpeaker = k;
                break;
            }
    const int positions = std::clamp(o.positions, 1, kMaxTunePositions);
    if (positions > 1 && cb.placeMicrophone && !cb.placeMicrophone(0, positions, true)) {
        run.cancelled = true;
        return run;
    }
    if (cancelled(cb)) {
        run.cancelled = true;
        return run;
    }
    run.sweeps = sweepRoom(audio, speakers, checkSweepSetup(check, plan), devices,
                           sweepCallbacks(cb, "check"));
    if (run.sweeps.cancelled) {
        run.cancelled = true;
        return run;
    }
    if (!run.sweeps.ok()) {
        run.error = run.sweeps.error;
        return run;
    }
    run.verification = verifyTune(plan, run.sweeps, o.tolerance);
    return run;
}

} // namespace q7
