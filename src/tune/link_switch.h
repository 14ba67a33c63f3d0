// SPDX-License-Identifier: GPL-3.0-or-later
// The amplifier's outputs switched for a measurement over the link: the mute words of the
// output groups with only some speakers audible, then every mute as the store holds it (the
// store is synchronised from the amplifier, and a measurement never changes it).
#pragma once

#include "device/link.h"
#include "measure/run.h"
#include "params/dsp.h"

namespace q7 {

class LinkSpeakerSwitch final : public SpeakerSwitch {
public:
    LinkSpeakerSwitch(Link& link, Dsp& dsp) : link_(link), dsp_(dsp) {}
    bool solo(const std::vector<int>& speakers) override;
    bool restore() override;

private:
    Link& link_;
    Dsp& dsp_;
    bool confirmed();
};

} // namespace q7
