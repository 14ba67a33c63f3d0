// SPDX-License-Identifier: GPL-3.0-or-later
// The amplifier's outputs switched for a measurement over the link: the measurement's own
// switching (mute words, then every mute as the store holds it), each switch waiting for the
// amplifier's replies and telling whether it is still there.
#pragma once

#include "device/link.h"
#include "measure/speaker_switch.h"
#include "params/dsp.h"

namespace q7 {

DspSpeakerSwitch linkSpeakerSwitch(Link& link, Dsp& dsp);

} // namespace q7
