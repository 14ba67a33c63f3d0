// SPDX-License-Identifier: GPL-3.0-or-later
// Copying one EQ bank onto another: between the two microphone channels of the mic, echo and
// reverb EQs, and among the outputs with bands of the same kind. One undo step, sent at once.
#pragma once

#include <vector>

namespace q7 {

class EditPath;

struct EqCopyBank {
    int group, firstRecord, bands;
    const char *zh, *en;
};

// The bank at (group, first record), or null when it has no copies.
const EqCopyBank* eqCopyBank(int group, int firstRecord);
// Where a bank may be copied to.
std::vector<const EqCopyBank*> eqCopyTargets(const EqCopyBank& from);
// The first min(bands) bands of from onto to; a fixed band (the mic EQs' shelves) keeps its type
// and frequency. Returns whether every report went out.
bool copyEqBank(EditPath& edits, const EqCopyBank& from, const EqCopyBank& to);

} // namespace q7
