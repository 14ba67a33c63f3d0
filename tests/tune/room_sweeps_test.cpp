// SPDX-License-Identifier: GPL-3.0-or-later
// Every speaker of a room measured in one recording through the simulated amplifier: arrivals
// and responses against the true ones, speakers that are not there, a reference that is not
// there, and the mutes put back whatever happens.
#include "measure/impulse.h"
#include "measure/speakers.h"
#include "tune/room_sweeps.h"
#include "tune_rig.h"

#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

using namespace q7;
using namespace q7::test;

namespace {

RoomSweepSetup oneSecondSweeps(std::vector<int> speakers) {
    RoomSweepSetup s;
    s.sweep.seconds = 1.0;
    s.speakers = std::move(speakers);
    s.analysis.smoothing = *Smoothing::parse("1/12");
    return s;
}

// The true response, analysed as the measurement is (window, smoothing), with the true arrival
// in its phase.
SpeakerSweep truth(const SimulatedAudio& audio, int speaker, const AnalysisOptions& o) {
    ImpulseResponse ir;
    ir.samples = audio.trueImpulse(speaker);
    SpeakerSweep s;
    const double peak = peakIndex(ir.samples).value_or(0);
    s.response = analyse(ir, peak, o, 40);
    s.arrivalMs = peak / 48.0;
    return s;
}

} // namespace

TEST(RoomSweeps, MeasureEverySpeakerInOneRecording) {
    // A drifting microphone clock and some noise.
    TuneRig rig(testRoom(3), SimOptions{.noiseDb = -85, .driftPpm = 80});
    const AmpSettings before = rig.sim.current();
    const RoomSweepSetup setup = oneSecondSweeps({0, 1, 3, 4});
    PositionSweeps p = sweepRoom(rig.audio, rig.speakers, setup, MeasureDevices{});
    ASSERT_TRUE(p.ok()) << p.error;
    EXPECT_EQ(rig.sim.current(), before); // every mute back, nothing else touched
    EXPECT_NEAR(p.driftPpm, 80, 2);
    ASSERT_EQ(p.speakers.size(), 4u);

    // Frequencies where the transfers are compared: each speaker in its own band.
    const std::vector<double> wide = {60, 100, 250, 1000, 4000, 12000}, low = {35, 50, 70, 100};
    const SpeakerSweep mainTruth = truth(rig.audio, 0, setup.analysis);
    const SpeakerSweep& mainL = p.speakers[0];
    for (const SpeakerSweep& s : p.speakers) {
        SCOPED_TRACE(speakerOutputs()[std::size_t(s.speaker)].id);
        ASSERT_TRUE(s.arrived);
        EXPECT_GT(s.snrDb, 40);
        EXPECT_FALSE(s.clipped);
        const SpeakerSweep t = truth(rig.audio, s.speaker, setup.analysis);
        if (s.speaker != 3) {
            EXPECT_NEAR(s.arrivalMs - mainL.arrivalMs, t.arrivalMs - mainTruth.arrivalMs, 0.02);
        }
        // The transfer with its arrival, against main L's: what adds up in the air adds up
        // here (the Sub against the mains is what a crossover is set from).
        const std::vector<Complex> got = s.transfer(), gotMain = mainL.transfer();
        const std::vector<Complex> want = t.transfer(), wantMain = mainTruth.transfer();
        for (double f : s.speaker == 3 ? low : wide) {
            const auto at = std::size_t(std::lround(std::log2(f / 20) * 48));
            ASSERT_NEAR(s.response.hz[at], f, f * 0.01);
            const Complex ratio = (got[at] / gotMain[at]) / (want[at] / wantMain[at]);
            EXPECT_NEAR(20 * std::log10(std::abs(ratio)), 0, 0.3) << f;
            // A few microseconds of timing are a few degrees at the top.
            EXPECT_NEAR(std::arg(ratio) * 180 / std::numbers::pi, 0, 3 + 360 * f * 5e-6) << f;
        }
    }
}

TEST(RoomSweeps, SpeakersThatAreNotThereAndAReferenceThatIsNot) {
    SyntheticRoomSetup setup;
    setup.seed = 4;
    setup.connected[0] = false; // main L, the reference
    setup.connected[5] = false; // rear R
    TuneRig rig(syntheticRoom(setup));
    const AmpSettings before = rig.sim.current();
    PositionSweeps p =
        sweepRoom(rig.audio, rig.speakers, oneSecondSweeps({0, 1, 3, 5}), MeasureDevices{});
    ASSERT_TRUE(p.ok()) << p.error;
    EXPECT_EQ(rig.sim.current(), before);
    EXPECT_FALSE(p.find(0)->arrived);
    EXPECT_TRUE(p.find(1)->arrived);
    // Main R timed the others: its own arrival reads near 0 (its timing sweep's peak and its
    // full sweep's differ a little, by the same for every speaker).
    EXPECT_NEAR(p.find(1)->arrivalMs, 0, 0.05);
    EXPECT_TRUE(p.find(3)->arrived);
    EXPECT_FALSE(p.find(5)->arrived);
}

TEST(RoomSweeps, NothingHeardIsSaidSo) {
    SyntheticRoomSetup setup;
    setup.connected = {};
    TuneRig rig(syntheticRoom(setup));
    const PositionSweeps p =
        sweepRoom(rig.audio, rig.speakers, oneSecondSweeps({0, 1}), MeasureDevices{});
    EXPECT_FALSE(p.ok());
    EXPECT_EQ(p.error, "no speaker was heard at the microphone");
}

TEST(RoomSweeps, ACancelPutsEveryMuteBack) {
    TuneRig rig(testRoom(5));
    // Something muted by the user stays so.
    rig.store.setCellInt(125, 1);
    rig.dsp.sendCell(125);
    rig.c.link.awaitReply();
    const AmpSettings before = rig.sim.current();
    std::atomic<bool> cancel = false;
    RoomSweepCallbacks cb;
    cb.cancel = &cancel;
    cb.progress = [&](double f) {
        if (f > 0.4)
            cancel = true;
    };
    const PositionSweeps p =
        sweepRoom(rig.audio, rig.speakers, oneSecondSweeps({0, 1, 2, 3}), MeasureDevices{}, cb);
    EXPECT_TRUE(p.cancelled);
    EXPECT_FALSE(p.ok());
    EXPECT_EQ(rig.sim.current(), before);
}

TEST(RoomSweeps, ALaterRecordingSwitchesAsSoonAsTheStreamsAllowAndMeasuresTheSame) {
    TuneRig rig(testRoom(2), SimOptions{.noiseDb = -85, .driftPpm = 40});
    const RoomSweepSetup setup = oneSecondSweeps({0, 1, 3, 5});
    const PositionSweeps first = sweepRoom(rig.audio, rig.speakers, setup, MeasureDevices{});
    ASSERT_TRUE(first.ok()) << first.error;
    EXPECT_GT(first.offsetSeconds, 0);

    RoomSweepSetup quick = setup;
    fitToStreams(quick, first.offsetSeconds, 20.0);
    EXPECT_LT(roomSweepSeconds(quick), roomSweepSeconds(setup));
    EXPECT_GE(quick.switchAfterSeconds, first.offsetSeconds + 0.02);
    const PositionSweeps again = sweepRoom(rig.audio, rig.speakers, quick, MeasureDevices{});
    ASSERT_TRUE(again.ok()) << again.error;
    ASSERT_EQ(again.speakers.size(), first.speakers.size());
    // The previous speaker's decay now reaches into each part: the responses stay the same.
    for (std::size_t k = 0; k < first.speakers.size(); ++k) {
        const SpeakerSweep &a = first.speakers[k], &b = again.speakers[k];
        SCOPED_TRACE(speakerOutputs()[std::size_t(a.speaker)].id);
        ASSERT_TRUE(b.arrived);
        if (a.speaker != 3) {
            EXPECT_NEAR(b.arrivalMs, a.arrivalMs, 0.02);
        }
        for (double f : a.speaker == 3 ? std::vector<double>{35, 50, 70}
                                       : std::vector<double>{100, 1000, 8000}) {
            const auto at = std::size_t(std::lround(std::log2(f / 20) * 48));
            EXPECT_NEAR(b.response.db[at], a.response.db[at], 0.3) << f;
        }
    }

    // An offset that cannot be right, or none, leaves the setup as it was.
    for (double offset : {-1.0, 5.0}) {
        RoomSweepSetup same = setup;
        fitToStreams(same, offset, 0);
        EXPECT_EQ(same.switchAfterSeconds, setup.switchAfterSeconds);
        EXPECT_EQ(same.marginSeconds, setup.marginSeconds);
    }
}

namespace {

// The simulated devices, keeping what each run recorded: as it came in and as it was returned.
struct KeepingAudio : AudioBackend {
    explicit KeepingAudio(AudioBackend& a) : audio(a) {}
    AudioBackend& audio;
    std::vector<float> pieces, whole;
    int channels = 0, calls = 0;
    std::vector<AudioDevice> playbackDevices() override { return audio.playbackDevices(); }
    std::vector<AudioDevice> recordingDevices() override { return audio.recordingDevices(); }
    PlayRecordResult playAndRecord(const PlayRecordRequest& r,
                                   const PlayRecordCallbacks& given) override {
        PlayRecordCallbacks cb = given;
        pieces.clear();
        calls = 0;
        cb.recorded = [&](const float* f, std::size_t n) {
            ++calls;
            pieces.insert(pieces.end(), f, f + n * std::size_t(r.recordChannels));
            if (given.recorded)
                given.recorded(f, n);
        };
        PlayRecordResult out = audio.playAndRecord(r, cb);
        whole = out.recorded;
        channels = out.channels;
        return out;
    }
};

void expectSame(const PositionSweeps& a, const PositionSweeps& b) {
    EXPECT_EQ(a.error, b.error);
    EXPECT_EQ(a.driftPpm, b.driftPpm);
    EXPECT_EQ(a.offsetSeconds, b.offsetSeconds);
    ASSERT_EQ(a.speakers.size(), b.speakers.size());
    for (std::size_t k = 0; k < a.speakers.size(); ++k) {
        const SpeakerSweep &x = a.speakers[k], &y = b.speakers[k];
        SCOPED_TRACE(speakerOutputs()[std::size_t(x.speaker)].id);
        EXPECT_EQ(x.speaker, y.speaker);
        EXPECT_EQ(x.arrived, y.arrived);
        EXPECT_EQ(x.snrDb, y.snrDb);
        EXPECT_EQ(x.arrivalMs, y.arrivalMs);
        EXPECT_EQ(x.response.hz, y.response.hz);
        EXPECT_EQ(x.response.db, y.response.db);
        EXPECT_EQ(x.response.phaseDeg, y.response.phaseDeg);
        EXPECT_EQ(x.warnings, y.warnings);
    }
}

} // namespace

TEST(RoomSweeps, SpeakersAnalysedWhileTheRestRecordsReadAsAfterTheRecording) {
    // The recorder on the player's clock: each speaker is analysed as soon as its part is in,
    // and the last one too, before the reference's closing sweep has been recorded.
    for (double drift : {0.0, 50.0}) {
        SCOPED_TRACE(drift);
        TuneRig rig(testRoom(4), SimOptions{.noiseDb = -80, .driftPpm = drift});
        KeepingAudio audio(rig.audio);
        const RoomSweepSetup setup = oneSecondSweeps({0, 1, 3, 5, 6});
        const PositionSweeps during = sweepRoom(audio, rig.speakers, setup, MeasureDevices{});
        ASSERT_TRUE(during.ok()) << during.error;
        // The recording came in pieces, every frame once, as it was returned.
        EXPECT_GT(audio.calls, 10);
        EXPECT_EQ(audio.pieces, audio.whole);
        const PositionSweeps after = analyseRoomSweeps(setup, layoutRoomSweeps(setup),
                                                       channelOf(audio.whole, audio.channels, 0));
        expectSame(during, after);
        // A drifting recorder has its recording resampled before it is read: nothing is read
        // before the end then.
        EXPECT_EQ(during.analysedWhileRecording, drift == 0 ? 5 : 0);
        EXPECT_EQ(after.analysedWhileRecording, 0);
    }
}
