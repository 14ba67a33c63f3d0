// SPDX-License-Identifier: GPL-3.0-or-later
// The chain model against the simulated amplifier's own signal chain, which decodes what it
// received: every output, each delay mode, an all-pass band, levels and EQ.
#include "eq/eq_bank.h"
#include "measure/fft.h"
#include "measure/speakers.h"
#include "sim/amp_audio.h"
#include "tune/chain.h"
#include "tune_rig.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

using namespace q7;
using namespace q7::test;

namespace {

// The simulated chain's response at hz, from its impulse response.
std::vector<Complex> simulatedChain(const SimulatedAmplifier& sim, int speaker,
                                    const std::vector<double>& hz) {
    AmplifierAudio chain;
    chain.configure(sim.current());
    const std::vector<float> ir = chain.impulseResponse(speaker, 1 << 17);
    std::vector<Complex> h(hz.size());
    for (std::size_t i = 0; i < hz.size(); ++i) {
        const Complex step = std::polar(1.0, -2 * std::numbers::pi * hz[i] / 48000);
        Complex z(1.0), acc;
        for (float v : ir) {
            acc += double(v) * z;
            z *= step;
        }
        h[i] = acc;
    }
    return h;
}

} // namespace

TEST(TuneChain, PredictsWhatTheAmplifierPlays) {
    TuneRig rig(testRoom(1));
    Dsp& d = rig.dsp;
    // Main L delayed in "High Freq" mode, main R in "Channel" mode, the centre's delay off.
    d.sendDelay(DelayChannel::MainL, 7.3);
    d.sendSplitFilter(DelayChannel::MainL, 4);
    d.sendDelayMode(DelayChannel::MainR, 1);
    d.sendDelay(DelayChannel::MainR, 2.0);
    rig.store.setCellInt(delayChannelInfo(DelayChannel::Center).offCell, 1);
    d.sendCell(delayChannelInfo(DelayChannel::Center).offCell);
    // EQ: a cut on the main bank, an all-pass ("off") band on the Sub, the rear's bank bypassed.
    d.SendBand(5, 3, 1, -6.5, 180, 4.0);
    d.SendBand(8, 8, 0, 0.0, 80, 0.5);
    d.SendBand(6, 2, 1, 9.0, 300, 1.0);
    rig.store.setCellInt(113, 1);
    d.sendCell(113);
    d.sendSpeakerLevel(5, -4.25f);
    d.sendSpeakerLevel(7, 2.5f);
    rig.c.link.awaitReply();

    const ModeImage settings = settingsOf(rig.store);
    const std::vector<double> hz = {25, 45, 80, 120, 300, 700, 1000, 2600, 9000};
    const std::vector<Complex> music = musicChain(settings, hz);
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        SCOPED_TRACE(speakerOutputs()[std::size_t(k)].id);
        const std::vector<Complex> want = simulatedChain(rig.sim, k, hz);
        const std::vector<Complex> got = outputChain(settings, k, hz);
        for (std::size_t i = 0; i < hz.size(); ++i)
            EXPECT_LT(std::abs(got[i] * music[i] - want[i]), 1e-4 * std::abs(want[i]) + 1e-9)
                << hz[i] << " Hz: " << got[i] * music[i] << " vs " << want[i];
    }
    EXPECT_NEAR(appliedDelayMs(settings, 0), 350 / 48.0, 1e-9); // 350.9 samples, truncated
    EXPECT_EQ(appliedDelayMs(settings, 2), 0.0);
    EXPECT_FALSE(delaysWholeSignal(settings, 0));
    EXPECT_TRUE(delaysWholeSignal(settings, 1));
    // The all-pass turns the Sub's phase by half a turn at its frequency, its level unchanged.
    const BandRecord ap = quantise(0, 0.0, 80, 0.5);
    EXPECT_NEAR(std::abs(recordResponse(ap, 80)), 1.0, 1e-6);
    EXPECT_NEAR(std::abs(std::arg(recordResponse(ap, 80))), std::numbers::pi, 1e-3);
}
