// SPDX-License-Identifier: GPL-3.0-or-later
// Measuring through the simulated amplifier's room: measured against the true response, the
// timing references with drift, the options and room files, and the devices it offers.
#include "measure/fft.h"
#include "measure/level_check.h"
#include "measure/output.h"
#include "measure/run.h"
#include "measure/speakers.h"
#include "sim/simulated_audio.h"
#include "sim_link.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <gtest/gtest.h>

using namespace q7;
using namespace q7::test;

namespace {

// Switches the simulated amplifier's outputs with the mute words, as q7ctl does.
class SimSwitch final : public SpeakerSwitch {
public:
    SimSwitch(Dsp& dsp) : dsp_(dsp) {}
    bool solo(const std::vector<int>& speakers) override {
        ++solos;
        bool ok = true;
        for (const DspWords& w : soloWords(speakers))
            ok = dsp_.writeWords(w.module, w.parameter, w.words) && ok;
        return ok;
    }
    bool restore() override {
        ++restores;
        bool ok = true;
        for (int c : groupMuteCells())
            ok = dsp_.sendCell(c) && ok;
        return ok;
    }
    int solos = 0, restores = 0;

private:
    Dsp& dsp_;
};

// The true response on the measurement's grid: the impulse response analysed the same way,
// without sweep, noise, offset or drift.
FrequencyResponse truth(const SimulatedAudio& audio, int speaker, const AnalysisOptions& o) {
    ImpulseResponse ir;
    ir.samples = audio.trueImpulse(speaker);
    const auto peak = peakIndex(ir.samples);
    return analyse(ir, peak.value_or(0), o, 40);
}

struct Fixture {
    SimWithLink sim;
    ParameterStore store;
    Dsp dsp{store, sim.sink, sim.clock};
    SimSwitch speakers{dsp};
    explicit Fixture(SimOptions o = {}) : sim(std::move(o)) {
        // The amplifier as it comes: its own settings, which the editor would synchronise.
        for (int c : groupMuteCells())
            store.setCellInt(c, 0);
    }
};

MeasureSetup oneSecond(int speaker, TimingReference reference) {
    MeasureSetup s;
    s.sweep.seconds = 1.0;
    s.speaker = speaker;
    s.reference = reference;
    s.analysis.smoothing = *Smoothing::parse("1/12");
    return s;
}

double maxDeviation(const FrequencyResponse& a, const FrequencyResponse& b, double lo, double hi,
                    double offset) {
    double worst = 0;
    for (std::size_t i = 0; i < a.hz.size(); ++i)
        if (a.hz[i] >= lo && a.hz[i] <= hi)
            worst = std::max(worst, std::abs(a.db[i] - offset - b.db[i]));
    return worst;
}

} // namespace

TEST(SimulatedAudio, OffersItsTwoDevicesAndRefusesOthers) {
    Fixture f;
    SimulatedAudio audio(f.sim.amp, {});
    ASSERT_TRUE(audio.ok());
    ASSERT_EQ(audio.playbackDevices().size(), 1u);
    EXPECT_EQ(audio.playbackDevices()[0].name, "Simulated amplifier input");
    EXPECT_EQ(audio.recordingDevices()[0].name, "Simulated measurement microphone");
    PlayRecordRequest r;
    r.playDevice = "Speakers";
    r.recordFrames = 10;
    EXPECT_NE(audio.playAndRecord(r, {}).error.find("Speakers"), std::string::npos);
    r.playDevice.clear();
    r.sampleRate = 44100;
    EXPECT_FALSE(audio.playAndRecord(r, {}).ok());
    // Paced on a clock, a run takes as long as it plays.
    VirtualClock pace;
    SimulatedAudio paced(f.sim.amp, {}, &pace);
    r.recordFrames = 24000;
    r.sampleRate = 48000;
    std::vector<double> seen;
    ASSERT_TRUE(paced.playAndRecord(r, {.progress = [&](double p) { seen.push_back(p); }}).ok());
    EXPECT_GE(pace.nowMs(), 500.0 + 40.0);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(seen.back(), 1.0);
    // Cancelled before it starts.
    std::atomic<bool> cancel = true;
    EXPECT_TRUE(audio.playAndRecord(r, {.cancel = &cancel}).cancelled);
}

TEST(SimulatedAudio, LoopbackMeasurementMatchesTheTrueResponse) {
    Fixture f;
    SimulatedAudio audio(f.sim.amp, SimOptions{.noiseDb = -90, .audioLatencyMs = 40});
    const MeasureSetup setup = oneSecond(speakerOutputIndex("main-l"), TimingReference::Loopback);
    int cues = 0;
    double progress = 0;
    const MeasureOutcome m =
        measure(audio, &f.speakers, setup, {},
                {.progress = [&](double p) { progress = p; }, .cue = [&](int) { ++cues; }});
    ASSERT_TRUE(m.ok()) << m.error;
    EXPECT_EQ(progress, 1.0);
    EXPECT_EQ(cues, 0);
    EXPECT_EQ(f.speakers.solos, 1);
    EXPECT_EQ(f.speakers.restores, 1);
    EXPECT_GT(m.quality.snrDb, 40);
    EXPECT_FALSE(m.quality.isClipped());
    // Latency 40 ms, the main L delay of the factory settings 1.5 ms, and the path to the sofa.
    const auto trueIr = audio.trueImpulse(0);
    const double trueDelayMs = *peakIndex(trueIr) / 48.0 + 40.0;
    EXPECT_NEAR(m.delayMs, trueDelayMs, 1.0 / 48);
    const FrequencyResponse want = truth(audio, 0, setup.analysis);
    EXPECT_LT(maxDeviation(m.response, want, 30, 16000, setup.sweep.levelDbfs), 0.5);
    // Every mute is back as the amplifier had it.
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        const SpeakerOutput& s = speakerOutputs()[std::size_t(k)];
        EXPECT_EQ(f.sim.amp.dspValue(s.module, s.muteParameter)[std::size_t(s.muteWord)],
                  floatBits(1.0f));
    }
}

TEST(SimulatedAudio, AcousticReferenceTimesTheCentreAgainstMainLeftWithDrift) {
    Fixture f;
    SimulatedAudio audio(f.sim.amp, SimOptions{.driftPpm = 100});
    MeasureSetup setup = oneSecond(speakerOutputIndex("center"), TimingReference::Acoustic);
    setup.referenceSpeaker = speakerOutputIndex("main-l");
    int cues = 0;
    const MeasureOutcome m = measure(audio, &f.speakers, setup, {}, {.cue = [&](int) { ++cues; }});
    ASSERT_TRUE(m.ok()) << m.error;
    EXPECT_EQ(cues, 2);
    EXPECT_EQ(f.speakers.solos, 3);
    EXPECT_NEAR(m.driftPpm, 100, 5);
    // The centre's arrival after main L's, as the true responses place them.
    const double want =
        (*peakIndex(audio.trueImpulse(2)) - *peakIndex(audio.trueImpulse(0))) / 48.0;
    EXPECT_NEAR(m.delayMs, want, 0.05);
    EXPECT_LT(
        maxDeviation(m.response, truth(audio, 2, setup.analysis), 30, 16000, setup.sweep.levelDbfs),
        0.5);
}

TEST(SimulatedAudio, OptionsAndRoomFiles) {
    std::string error;
    auto o =
        SimOptions::parse("room=/tmp/r,noise_db=-95.5,drift_ppm=-120,audio_latency_ms=0", error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->roomDir, "/tmp/r");
    EXPECT_EQ(o->noiseDb, -95.5);
    EXPECT_EQ(o->driftPpm, -120);
    EXPECT_EQ(o->audioLatencyMs, 0);
    EXPECT_EQ(SimOptions{}.noiseDb, -80);
    EXPECT_EQ(SimOptions{}.audioLatencyMs, 40);
    for (const char* bad : {"noise_db=loud", "drift_ppm=5000", "audio_latency_ms=-1", "noise_db="})
        EXPECT_FALSE(SimOptions::parse(bad, error)) << bad;

    // A room of one speaker: the others are not connected and measure nothing.
    const std::filesystem::path dir = testing::TempDir() + "sim_room";
    std::filesystem::create_directories(dir);
    std::vector<float> ir(4800, 0.0f);
    ir[96] = 0.5f;
    ir[700] = -0.2f;
    ASSERT_TRUE(writeWav((dir / "main-r.wav").string(), ir, 1, 48000, error)) << error;
    Fixture f;
    SimulatedAudio audio(f.sim.amp, SimOptions{.roomDir = dir.string()});
    ASSERT_TRUE(audio.ok()) << audio.error();
    EXPECT_TRUE(audio.impulsesAt(0)[0].empty());
    EXPECT_EQ(audio.impulsesAt(0)[1], ir);
    MeasureOutcome m = measure(audio, &f.speakers,
                               oneSecond(speakerOutputIndex("main-l"), TimingReference::None), {});
    EXPECT_FALSE(m.ok());
    m = measure(audio, &f.speakers, oneSecond(speakerOutputIndex("main-r"), TimingReference::None),
                {});
    ASSERT_TRUE(m.ok()) << m.error;
    // A file that is not mono 48 kHz is refused with its name.
    ASSERT_TRUE(writeWav((dir / "sub.wav").string(), {0.1f, 0.2f}, 2, 48000, error));
    SimulatedAudio bad(f.sim.amp, SimOptions{.roomDir = dir.string()});
    EXPECT_FALSE(bad.ok());
    EXPECT_NE(bad.error().find("sub.wav"), std::string::npos);
    EXPECT_FALSE(SimulatedAudio(f.sim.amp, SimOptions{.roomDir = "/nonexistent"}).ok());
    std::filesystem::remove_all(dir);
}

TEST(SimulatedAudio, LevelCheckAdvisesLouderOrSofter) {
    Fixture f;
    SimulatedAudio audio(f.sim.amp, SimOptions{});
    MeasureIssue error;
    LevelCheckSetup setup;
    // The default level in the built-in room: plenty over the noise, room to spare.
    LevelCheck c = checkLevel(audio, &f.speakers, 0, setup, {}, {}, error);
    ASSERT_TRUE(error.empty()) << english(error);
    EXPECT_EQ(c.advice, LevelCheck::Advice::Good);
    EXPECT_GT(c.snrDb, 40);
    EXPECT_GT(c.headroomDb, 6);
    EXPECT_EQ(f.speakers.restores, 1);
    // Very quiet: louder. Very loud: softer.
    setup.levelDbfs = -50;
    c = checkLevel(audio, &f.speakers, 0, setup, {}, {}, error);
    EXPECT_EQ(c.advice, LevelCheck::Advice::Louder) << c.snrDb;
    setup.levelDbfs = 0;
    c = checkLevel(audio, &f.speakers, 0, setup, {}, {}, error);
    EXPECT_EQ(c.advice, LevelCheck::Advice::Softer) << c.headroomDb;
    // The burst has the sweep's RMS: a sine of the sweep's peak level.
    setup.levelDbfs = -12;
    EXPECT_NEAR(assessLevel(levelCheckSignal(setup), 48000).levelDbfs, -12.0, 1.0);
}
