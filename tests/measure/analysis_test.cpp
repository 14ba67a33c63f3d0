// SPDX-License-Identifier: GPL-3.0-or-later
// Whole measurements on synthetic recordings: timing references, drift, quality gates,
// distortion and level calibration.
#include "measure/impulse.h"
#include "measure/run.h"
#include "measure/speakers.h"

#include <bit>
#include <cmath>
#include <gtest/gtest.h>
#include <random>

using namespace q7;

namespace {

MeasureSetup setup(TimingReference reference = TimingReference::None) {
    MeasureSetup s;
    s.sweep.seconds = 1.0;
    s.reference = reference;
    s.analysis.smoothing = *Smoothing::parse("1/12");
    return s;
}

// signal delayed by `frames` (fractional) and scaled, on a recording of n frames; with a clock
// `ppm` fast, the recorder takes more samples per second than the player gives.
std::vector<float> recorded(const std::vector<float>& signal, double frames, double gain,
                            std::size_t n, double ppm = 0) {
    std::vector<float> y = resample(signal, 1.0 / (1 + ppm * 1e-6), -frames, n);
    for (float& v : y)
        v = float(v * gain);
    return y;
}

void addNoise(std::vector<float>& x, double rms, unsigned seed = 7) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> n(0.0, rms);
    for (float& v : x)
        v = float(v + n(rng));
}

} // namespace

TEST(Measurement, LoopbackGivesTheLatencyToTheSample) {
    const MeasureSetup s = setup(TimingReference::Loopback);
    const PlaybackLayout l = layoutPlayback(s);
    EXPECT_EQ(l.recordFrames, l.signal.size() + 72000);
    EXPECT_TRUE(l.cues.empty());
    // The recorder started 0.37 s before the player; the speaker path adds 12.5 ms.
    const double offset = 0.37 * 48000, latency = 600;
    auto mic = recorded(l.signal, offset + latency, 0.5, l.recordFrames);
    const auto loop = recorded(l.signal, offset, 1.0, l.recordFrames);
    addNoise(mic, 1e-5);
    const MeasureOutcome m = analyseRecording(s, l, mic, &loop);
    ASSERT_TRUE(m.ok()) << m.error;
    EXPECT_NEAR(m.delayMs, 12.5, 1.0 / 48);
    EXPECT_TRUE(m.warnings.empty()) << m.warnings.front();
    EXPECT_GT(m.quality.snrDb, 60);
    for (std::size_t i = 0; i < m.response.hz.size(); ++i)
        ASSERT_NEAR(m.response.db[i], -12 - 6.0206, 0.05) << m.response.hz[i];
    EXPECT_FALSE(m.driftMeasured); // one clock: nothing to correct
    // Without the loopback channel there is nothing to time against.
    EXPECT_FALSE(analyseRecording(s, l, mic, nullptr).ok());
    // A recorder on its own clock, 200 ppm fast: the loopback's group delay tells it.
    const auto driftingMic = recorded(l.signal, offset + latency, 0.5, l.recordFrames, 200);
    const auto driftingLoop = recorded(l.signal, offset, 1.0, l.recordFrames, 200);
    const MeasureOutcome d = analyseRecording(s, l, driftingMic, &driftingLoop);
    ASSERT_TRUE(d.ok()) << d.error;
    EXPECT_TRUE(d.driftMeasured);
    EXPECT_NEAR(d.driftPpm, 200, 5);
    EXPECT_NEAR(d.delayMs, 12.5, 1.0 / 48);
}

TEST(Measurement, AcousticReferenceTimesSpeakersAndCorrectsDrift) {
    for (double ppm : {100.0, -450.0}) {
        MeasureSetup s = setup(TimingReference::Acoustic);
        s.referenceSpeaker = 0;
        s.speaker = 3;
        const PlaybackLayout l = layoutPlayback(s);
        ASSERT_EQ(l.cues.size(), 2u);
        EXPECT_EQ(l.cues[0].id, kCueMeasured);
        EXPECT_LT(l.cues[0].frame, l.mainStart);
        EXPECT_GT(l.cues[1].frame, l.mainStart);
        EXPECT_LT(l.cues[1].frame, l.ref2Start);
        // The reference speaker plays the timing sweeps, the measured one the sweep.
        std::vector<float> refPart = l.signal, mainPart = l.signal;
        for (std::size_t i = 0; i < l.signal.size(); ++i)
            (i >= l.cues[0].frame && i < l.cues[1].frame ? refPart : mainPart)[i] = 0.0f;
        const double offset = 0.2 * 48000;
        auto mic = recorded(refPart, offset + 0.004 * 48000, 0.3, l.recordFrames, ppm);
        const auto far = recorded(mainPart, offset + 0.0073 * 48000, 0.4, l.recordFrames, ppm);
        for (std::size_t i = 0; i < mic.size(); ++i)
            mic[i] += far[i];
        addNoise(mic, 1e-5);
        const MeasureOutcome m = analyseRecording(s, l, mic);
        ASSERT_TRUE(m.ok()) << m.error;
        EXPECT_TRUE(m.driftMeasured);
        EXPECT_NEAR(m.driftPpm, ppm, 3) << ppm;
        EXPECT_NEAR(m.delayMs, 3.3, 0.05) << ppm;
        for (std::size_t i = 0; i < m.response.hz.size(); ++i)
            ASSERT_NEAR(m.response.db[i], -12 + 20 * std::log10(0.4), 0.1)
                << m.response.hz[i] << " Hz at " << ppm << " ppm";
    }
}

TEST(Measurement, QualityGatesNameWhatWentWrong) {
    const MeasureSetup s = setup();
    const PlaybackLayout l = layoutPlayback(s);
    // Nothing but noise: no arrival, and the measurement fails.
    std::vector<float> silence(l.recordFrames, 0.0f);
    addNoise(silence, 1e-3);
    MeasureOutcome m = analyseRecording(s, l, silence);
    EXPECT_FALSE(m.ok());
    EXPECT_NE(m.error.find("no signal"), std::string::npos) << m.error;
    // Too loud: the recording clips (the measurement still gives its response).
    auto loud = recorded(l.signal, 1000, 6.0, l.recordFrames);
    for (float& v : loud)
        v = std::clamp(v, -1.0f, 1.0f);
    m = analyseRecording(s, l, loud);
    ASSERT_TRUE(m.ok()) << m.error;
    EXPECT_TRUE(m.quality.isClipped());
    ASSERT_FALSE(m.warnings.empty());
    EXPECT_NE(m.warnings.front().find("clipped"), std::string::npos);
    // Noise 30 dB under the sweep: the signal-to-noise ratio reads about that and warns.
    auto noisy = recorded(l.signal, 1000, 1.0, l.recordFrames);
    const double sweepRms = std::pow(10.0, -12.0 / 20) / std::sqrt(2.0);
    addNoise(noisy, sweepRms * std::pow(10.0, -30.0 / 20));
    m = analyseRecording(s, l, noisy);
    ASSERT_TRUE(m.ok()) << m.error;
    EXPECT_NEAR(m.quality.snrDb, 30, 1.5);
    EXPECT_TRUE(m.quality.lowSnr());
    EXPECT_EQ(m.warnings.size(), 1u);
    EXPECT_NEAR(m.delayMs, 1000.0 / 48, 0.05); // no reference: from the recording's start
}

TEST(Measurement, DistortionComesFromTheHarmonicImpulses) {
    const MeasureSetup s = setup();
    const PlaybackLayout l = layoutPlayback(s);
    // y = x + c x²: the second harmonic is c A / 2 of the fundamental for a sine of peak A.
    const double c = 0.4, a = std::pow(10.0, -12.0 / 20);
    std::vector<float> bent = l.signal;
    for (float& v : bent)
        v = float(v + c * v * v);
    const auto mic = recorded(bent, 2000, 1.0, l.recordFrames);
    const MeasureOutcome m = analyseRecording(s, l, mic);
    ASSERT_TRUE(m.ok()) << m.error;
    EXPECT_NEAR(m.thdPercent1k, 100 * c * a / 2, 0.5);
    // A clean path has none to speak of.
    const MeasureOutcome clean =
        analyseRecording(s, l, recorded(l.signal, 2000, 1.0, l.recordFrames));
    EXPECT_LT(clean.thdPercent1k, 0.05);
}

TEST(Measurement, LevelsReadInDbSplWithACalibration) {
    MeasureSetup s = setup();
    const PlaybackLayout l = layoutPlayback(s);
    const auto mic = recorded(l.signal, 500, 0.1, l.recordFrames); // -20 dB
    MeasureOutcome m = analyseRecording(s, l, mic);
    ASSERT_TRUE(m.ok());
    EXPECT_FALSE(m.splCalibrated);
    EXPECT_NEAR(m.response.db[100], -32, 0.05); // dBFS at the microphone
    // 94 dB SPL reads -30 dBFS: a sine of -32 dBFS is 92 dB SPL.
    s.dbfsAt94 = -30;
    m = analyseRecording(s, l, mic);
    EXPECT_TRUE(m.splCalibrated);
    EXPECT_NEAR(m.response.db[100], 92, 0.05);
    // The microphone file's sensitivity serves when no calibrator level is given, and its
    // curve comes off the response.
    s.dbfsAt94.reset();
    s.calibration = parseMicCalibration("\"Sens Factor =-2.0dB, SERNO: 7001234\"\n"
                                        "10 1.0\n20000 1.0\n");
    ASSERT_TRUE(s.calibration->ok());
    m = analyseRecording(s, l, mic);
    EXPECT_NEAR(m.response.db[100], -32 + 94 - (-16) - 1.0, 0.05);
}

TEST(Speakers, SoloLeavesOnlyTheChosenSpeakersAudible) {
    const std::uint32_t on = std::bit_cast<std::uint32_t>(1.0f), off = 0;
    EXPECT_EQ(speakerOutputIndex("rear-r"), 5);
    EXPECT_EQ(speakerOutputIndex("Main-L"), -1);
    const auto words = soloWords({speakerOutputIndex("main-r"), speakerOutputIndex("sub")});
    const std::vector<DspWords> want = {{5, 41, {off, on}},
                                        {7, 22, {off}},
                                        {8, 32, {on}},
                                        {6, 27, {off, off}},
                                        {9, 27, {off, off}}};
    EXPECT_EQ(words, want);
}
