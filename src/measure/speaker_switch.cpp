// SPDX-License-Identifier: GPL-3.0-or-later
#include "measure/speaker_switch.h"

#include "measure/speakers.h"
#include "params/dsp.h"

namespace q7 {

bool DspSpeakerSwitch::solo(const std::vector<int>& speakers) {
    bool ok = true;
    for (const DspWords& w : soloWords(speakers))
        ok = dsp_.writeWords(w.module, w.parameter, w.words) && ok;
    return (!settled_ || settled_()) && ok;
}

bool DspSpeakerSwitch::restore() {
    // Every group's mutes, even after one fails: as many as possible go back.
    bool ok = true;
    for (int cell : groupMuteCells())
        ok = dsp_.sendCell(cell) && ok;
    return (!settled_ || settled_()) && ok;
}

} // namespace q7
