// SPDX-License-Identifier: GPL-3.0-or-later
// A simulated amplifier in a room, connected and synchronised as q7ctl connects to one: its
// store holds what the amplifier holds, its audio devices play into the room.
#pragma once

#include "device/connection.h"
#include "params/dsp.h"
#include "params/edit_path.h"
#include "protocol/clock.h"
#include "sim/simulated_audio.h"
#include "sim/synthetic_room.h"
#include "tune/link_switch.h"

#include <gtest/gtest.h>
#include <memory>

namespace q7::test {

struct TuneRig {
    VirtualClock clock;
    SimulatedAmplifier sim;
    ParameterStore store;
    Connection c;
    Dsp dsp;
    DspSpeakerSwitch speakers;
    SimulatedAudio audio;

    explicit TuneRig(Room room, SimOptions o = {})
        : sim(clock, o), c(sim, clock, store), dsp(store, c.link, clock),
          speakers(linkSpeakerSwitch(c.link, dsp)), audio(sim, std::move(room), o) {
        participant = std::make_unique<Clock::Participant>(clock);
        EXPECT_TRUE(c.link.OpenLink().opened);
        c.session.SynchronizeData();
        EXPECT_EQ(c.session.CheckConnection(), CheckResult::Passed);
    }
    ~TuneRig() { c.link.CloseByEditor(); }

    std::unique_ptr<Clock::Participant> participant;
};

inline Room testRoom(unsigned seed, int positions = 1) {
    SyntheticRoomSetup setup;
    setup.seed = seed;
    setup.positions = positions;
    return syntheticRoom(setup);
}

} // namespace q7::test
