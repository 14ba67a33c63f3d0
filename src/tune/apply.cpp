// SPDX-License-Identifier: GPL-3.0-or-later
#include "tune/apply.h"

namespace q7 {

StepName tuneStepName() {
    return {"房间调校", "Room tuning"};
}

TuneApplied applyTune(EditPath& edits, const TunePlan& plan) {
    if (!plan.ok)
        return TuneApplied::Nothing;
    // Computed for the settings as they were measured: a change since then (an edit, another
    // mode) would be overwritten half-way.
    if (!Change::between(plan.before, settingsOf(edits.store())).empty())
        return TuneApplied::Stale;
    if (plan.settings.empty())
        return TuneApplied::Nothing;
    bool ok = true;
    {
        EditPath::Scope step(edits, tuneStepName());
        ok = sendTuneSettings(edits.dsp(), plan.settings);
    }
    if (!ok || (edits.amplifierKnown() == false && !edits.holdsUnsent()))
        return TuneApplied::Failed;
    return edits.holdsUnsent() ? TuneApplied::Offline : TuneApplied::Sent;
}

} // namespace q7
