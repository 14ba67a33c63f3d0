// SPDX-License-Identifier: GPL-3.0-or-later
#include "tune/link_switch.h"

#include "measure/speakers.h"

namespace q7 {

bool LinkSpeakerSwitch::confirmed() {
    link_.awaitReply();
    return link_.isOpen() && !link_.readThreadEnded();
}

bool LinkSpeakerSwitch::solo(const std::vector<int>& speakers) {
    bool ok = true;
    for (const DspWords& w : soloWords(speakers))
        ok = dsp_.writeWords(w.module, w.parameter, w.words) && ok;
    return confirmed() && ok;
}

bool LinkSpeakerSwitch::restore() {
    bool ok = true;
    for (int cell : groupMuteCells())
        ok = dsp_.sendCell(cell) && ok;
    return confirmed() && ok;
}

} // namespace q7
