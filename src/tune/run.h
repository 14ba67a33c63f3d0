// SPDX-License-Identifier: GPL-3.0-or-later
// A room tuning from the first sweep to the check, as the editor's assistant and q7ctl run it:
// every position measured (the microphone moved between them), the tuning computed, applied as
// one step, and each speaker measured again at the main seat. Runs on a worker thread (the
// sweeps block); applying belongs to the thread that owns the edit path.
#pragma once

#include "measure/audio.h"
#include "measure/run.h"
#include "tune/apply.h"
#include "tune/verify.h"

#include <atomic>
#include <functional>
#include <string>

namespace q7 {

struct TuneCallbacks {
    // Before each position when there are several (0 is the main seat), and before the check
    // when the microphone has to go back to the main seat. False cancels.
    std::function<bool(int position, int positions, bool returning)> placeMicrophone;
    // What is being done ("position 2 of 3", "check") and how far along it is.
    std::function<void(const std::string& stage, double fraction)> progress;
    const std::atomic<bool>* cancel = nullptr;
};

struct RoomRun {
    RoomMeasurement measured;
    std::string error;
    bool cancelled = false;
    bool ok() const { return error.empty() && !cancelled; }
};

// Measures every position with the options' speakers. `settings` are what the amplifier holds
// (the store, synchronised): every mute is put back after each position, whatever happens.
RoomRun measureRoom(AudioBackend& audio, SpeakerSwitch& speakers, const TuneOptions& options,
                    const MeasureDevices& devices, const ModeImage& settings,
                    const TuneCallbacks& callbacks = {});

// The check after applying: the plan's connected speakers at the main seat, with the shorter
// verification sweep.
struct TuneCheckRun {
    PositionSweeps sweeps;
    TuneVerification verification;
    std::string error;
    bool cancelled = false;
    bool ok() const { return error.empty() && !cancelled; }
};
// The check's sweeps: the verification sweep, switching as soon as the measurement showed the
// streams allow.
RoomSweepSetup checkSweepSetup(const TuneOptions& options, const TunePlan& plan);
TuneCheckRun checkTune(AudioBackend& audio, SpeakerSwitch& speakers, const TuneOptions& options,
                       const TunePlan& plan, const MeasureDevices& devices,
                       const TuneCallbacks& callbacks = {});

} // namespace q7
