// SPDX-License-Identifier: GPL-3.0-or-later
// Applying a room tuning: one edit step on the editor's edit path (undo takes all of it back),
// sent to the amplifier when one is connected, or kept in the document for later.
#pragma once

#include "params/edit_path.h"
#include "tune/tune.h"

namespace q7 {

enum class TuneApplied {
    Sent,    // applied and sent to the amplifier
    Offline, // applied to the settings; no amplifier took them (they go with the next download)
    Stale,   // the settings changed since the measurement: nothing applied, compute again
    Failed,  // applied, but a report failed: what the amplifier holds is uncertain
    Nothing, // the tuning changes nothing
};

// The step's name, in both languages.
StepName tuneStepName();

// One step: every bank, delay and level of the plan, with the pages' senders.
TuneApplied applyTune(EditPath& edits, const TunePlan& plan);

} // namespace q7
