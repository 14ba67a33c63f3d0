// SPDX-License-Identifier: GPL-3.0-or-later
#include "tune/link_switch.h"

namespace q7 {

DspSpeakerSwitch linkSpeakerSwitch(Link& link, Dsp& dsp) {
    return DspSpeakerSwitch(dsp, [&link] {
        link.awaitReply();
        return link.isOpen() && !link.readThreadEnded();
    });
}

} // namespace q7
