// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated amplifier's signal chain, decoded from what it received, against the editor's
// own prediction of the same settings (independent paths), and its routing and mutes.
#include "eq/eq_bank.h"
#include "measure/fft.h"
#include "measure/speakers.h"
#include "sim/amp_audio.h"
#include "sim_link.h"

#include <cmath>
#include <complex>
#include <cstring>
#include <gtest/gtest.h>

using namespace q7;
using namespace q7::test;

namespace {

// Magnitude in dB of an impulse response at each frequency.
std::vector<double> magnitudeDb(const std::vector<float>& ir, const std::vector<double>& hz) {
    RealFft fft(goodFftSize(std::max<std::size_t>(ir.size(), 1 << 17)));
    std::vector<std::complex<double>> setup(fft.bins());
    fft.forward(ir.data(), ir.size(), setup.data());
    std::vector<double> out;
    for (double f : hz) {
        // The exact DFT at f, from the bins' neighbourhood is not exact enough: evaluate it.
        std::complex<double> acc;
        const double w = 2 * 3.14159265358979323846 * f / 48000;
        for (std::size_t n = 0; n < ir.size(); ++n)
            acc += double(ir[n]) * std::polar(1.0, -w * double(n));
        out.push_back(20 * std::log10(std::abs(acc)));
    }
    return out;
}

// A tuning that touches every stage of the chain.
void tune(ParameterStore& s) {
    s.setCellInt(cell::MusicVolume, 70);
    s.setCellInt(95, 80);  // main: music mix 80 %
    s.setCellInt(160, 90); // sub: music mix 90 %
    s.setCellInt(106, 1);  // main L delay in "Channel" mode: the split bands are flat
    s.setCellFloat(102, 7.5f);
    s.setCellInt(169, 1); // the sub too
    for (int b = 0; b < 15; ++b) {
        BandRecord r = s.band(4, b);
        r.gain = BandRecord::encode(r.type, (b % 5) - 2.0, 100, 1).gain;
        s.setBand(4, b, r);
    }
    s.setBand(5, 2, BandRecord::encode(1, -6.0, 63, 4.0));
    s.setBand(5, 7, BandRecord::encode(5, 3.0, 6000, 0.7));
    s.setBand(5, 9, BandRecord::encode(3, 0.0, 40, 0.7));
    // The sub: a 24 dB Linkwitz-Riley low pass at 80 Hz and a boost at 45 Hz.
    const auto lp = crossoverTypes(1, true);
    for (int j = 0; j < 4; ++j)
        s.setBand(8, j, BandRecord::encode(lp[std::size_t(j)], 0.0, 80, 0.707));
    s.setBand(8, 4, BandRecord::encode(1, 4.0, 45, 2.0));
    for (int j = 5; j < 8; ++j)
        s.setBand(8, j, BandRecord::encode(1, 0.0, 45, 2.0));
}

} // namespace

TEST(AmplifierAudio, ChainAgreesWithTheEditorsPrediction) {
    SimWithLink sim;
    ParameterStore store;
    tune(store);
    Dsp dsp(store, sim.sink, sim.clock);
    ASSERT_TRUE(dsp.fullDownload(0));
    // A band beyond the ten the full download pushes reaches the amplifier when edited.
    ASSERT_TRUE(dsp.SendBand(5, 15, 1, 5.0, 2500, 2.0));
    ASSERT_TRUE(dsp.sendSpeakerLevel(1, -3.0f));
    ASSERT_TRUE(dsp.sendSpeakerLevel(5, 2.0f));
    ASSERT_TRUE(dsp.sendCell(cell::MusicVolume));

    AmplifierAudio chain;
    chain.configure(sim.amp.current());
    const std::vector<double> hz = octaveGrid(20, 20000, 3);
    const auto music = bankResponseDb(readBank(store, 0), hz);
    struct Case {
        int speaker, bank;
        double mix, levelDb;
    };
    for (const Case c : {Case{0, 5, 0.8, -3.0}, Case{3, 2, 0.9, 2.0}}) {
        const auto bank = bankResponseDb(readBank(store, c.bank), hz);
        const auto got = magnitudeDb(chain.impulseResponse(c.speaker, 1 << 16), hz);
        for (std::size_t i = 0; i < hz.size(); ++i) {
            const double want = music[i] + bank[i] + 20 * std::log10(0.7 * c.mix) + c.levelDb;
            if (want < -60)
                continue; // far down the sub's slope
            EXPECT_NEAR(got[i], want, 0.1)
                << speakerOutputs()[std::size_t(c.speaker)].id << " at " << hz[i] << " Hz";
        }
    }
}

// A file loaded after a tuning: its levels must replace the ones the DSP plays, not only the
// stored block (the check after the next tuning measured each speaker off by the old level).
TEST(AmplifierAudio, FullDownloadReplacesThePlayedSpeakerLevels) {
    SimWithLink sim;
    ParameterStore tuned;
    tune(tuned);
    Dsp before(tuned, sim.sink, sim.clock);
    ASSERT_TRUE(before.fullDownload(0));
    for (int speaker = 1; speaker <= kSpeakerCount; ++speaker)
        ASSERT_TRUE(before.sendSpeakerLevel(speaker, -1.5f * float(speaker)));

    ParameterStore file;
    tune(file);
    const float levels[kSpeakerCount] = {0.0f, 0.0f, 2.0f, 0.0f, -4.5f, 0.0f, 0.0f, 1.0f};
    for (int slot = 0; slot < kSpeakerCount; ++slot)
        file.setSpeakerLevelSlot(slot, levels[slot]);
    Dsp dsp(file, sim.sink, sim.clock);
    ASSERT_TRUE(dsp.fullDownload(0));

    for (int k = 0; k < kSpeakerOutputs; ++k) {
        const SpeakerOutput& out = speakerOutputs()[std::size_t(k)];
        const SpeakerInfo& info = speakerInfo(out.speaker);
        const std::vector<std::uint32_t> words = sim.amp.dspValue(info.module, info.parameter);
        ASSERT_EQ(words.size(), 6u) << out.id;
        float played;
        std::memcpy(&played, &words[5], 4);
        EXPECT_NEAR(20 * std::log10(double(played)), levels[info.slot], 1e-4) << out.id;
    }
    // And heard: every speaker plays as on an amplifier that only ever received the file.
    SimWithLink fresh;
    Dsp only(file, fresh.sink, fresh.clock);
    ASSERT_TRUE(only.fullDownload(0));
    AmplifierAudio after, clean;
    after.configure(sim.amp.current());
    clean.configure(fresh.amp.current());
    for (int k = 0; k < kSpeakerOutputs; ++k)
        EXPECT_EQ(after.impulseResponse(k, 4096), clean.impulseResponse(k, 4096))
            << speakerOutputs()[std::size_t(k)].id;
}

TEST(AmplifierAudio, RoutingDelayAndMutesFollowTheWordsReceived) {
    SimWithLink sim;
    ParameterStore store;
    tune(store);
    for (int c : {112, 129, 146}) // rear, top and center hear the music too
        store.setCellInt(c, 100);
    Dsp dsp(store, sim.sink, sim.clock);
    ASSERT_TRUE(dsp.fullDownload(1));
    ASSERT_TRUE(dsp.sendDelayMode(DelayChannel::MainR, 1));
    ASSERT_TRUE(dsp.sendDelay(DelayChannel::MainR, 10.0));
    AmplifierAudio chain;
    chain.configure(sim.amp.current());
    // Left in, right silent: the left speakers and the centre play, the right ones do not.
    std::vector<float> left(2048, 0.0f), right(2048, 0.0f);
    left[0] = 1.0f;
    std::array<std::vector<float>, kSpeakerOutputs> out;
    chain.process(left.data(), right.data(), left.size(), out);
    auto energy = [](const std::vector<float>& x) {
        double e = 0;
        for (float v : x)
            e += double(v) * v;
        return e;
    };
    EXPECT_GT(energy(out[0]), 0.01);
    EXPECT_EQ(energy(out[1]), 0.0);
    EXPECT_GT(energy(out[2]), 0.0);
    EXPECT_EQ(energy(out[5]), 0.0);
    // Main R in "Channel" mode: its impulse arrives 480 samples late, whole.
    const auto r = chain.impulseResponse(1, 2048);
    const auto peak = std::max_element(r.begin(), r.end(),
                                       [](float a, float b) { return std::abs(a) < std::abs(b); });
    EXPECT_EQ(peak - r.begin(), 480);
    // Solo words: only main R stays audible; the editor's own mutes come back afterwards.
    for (const DspWords& w : soloWords({1}))
        ASSERT_TRUE(dsp.writeWords(w.module, w.parameter, w.words));
    chain.configure(sim.amp.current());
    for (int k = 0; k < kSpeakerOutputs; ++k)
        EXPECT_EQ(chain.audible(k), k == 1) << k;
    for (int c : groupMuteCells())
        ASSERT_TRUE(dsp.sendCell(c));
    chain.configure(sim.amp.current());
    for (int k = 0; k < kSpeakerOutputs; ++k)
        EXPECT_TRUE(chain.audible(k)) << k;
    // The music mute silences everything.
    store.setCellInt(cell::MusicMute, 1);
    ASSERT_TRUE(dsp.sendCell(cell::MusicMute));
    chain.configure(sim.amp.current());
    EXPECT_FALSE(chain.audible(0));
}
