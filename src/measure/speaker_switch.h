// SPDX-License-Identifier: GPL-3.0-or-later
// The speaker switching of a measurement through the DSP value senders: the mute words that
// leave only the measured speakers audible, then the group mutes as the store holds them. The
// command line and the editor share it; each says how the writes reach the amplifier.
#pragma once

#include "measure/run.h"

#include <functional>

namespace q7 {

class Dsp;

class DspSpeakerSwitch final : public SpeakerSwitch {
public:
    // settled: runs after each switch's writes; waits for them to reach the amplifier where the
    // caller can wait, and says whether the amplifier is still there. None: they are taken.
    explicit DspSpeakerSwitch(Dsp& dsp, std::function<bool()> settled = {})
        : dsp_(dsp), settled_(std::move(settled)) {}
    bool solo(const std::vector<int>& speakers) override;
    bool restore() override;

private:
    Dsp& dsp_;
    std::function<bool()> settled_;
};

} // namespace q7
