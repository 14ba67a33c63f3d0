// SPDX-License-Identifier: GPL-3.0-or-later
#include "params/codec.h"
#include "protocol/report.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>

using namespace q7;
using namespace q7::codec;

TEST(ScaledCells, SendAndReadBackExactly) {
    EXPECT_EQ(floatBits(scaledToFloat(50, Scale::C100)), floatBits(0.5f));
    EXPECT_EQ(scaledFromFloat(-0.01f, Scale::C100), -1) << "rounding away from zero";
    EXPECT_EQ(scaledFromFloat(0.0f, Scale::C1e7), 0);

    // Every cell value the pages can produce survives the trip to the DSP and back.
    for (int v = -20000; v <= 20000; ++v) {
        ASSERT_EQ(scaledFromFloat(scaledToFloat(v, Scale::C100), Scale::C100), v) << v;
        ASSERT_EQ(scaledFromFloat(scaledToFloat(v, Scale::C1e4), Scale::C1e4), v) << v;
        ASSERT_EQ(scaledFromFloat(scaledToFloat(v, Scale::C1e5), Scale::C1e5), v) << v;
    }
    for (int v = 0; v <= 1000000; v += 7)
        ASSERT_EQ(scaledFromFloat(scaledToFloat(v, Scale::C1e7), Scale::C1e7), v) << v;

    // Garbage from the wire saturates instead of overflowing.
    EXPECT_EQ(scaledFromFloat(1e30f, Scale::C1e7), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(scaledFromFloat(std::nanf(""), Scale::C100), 0);
}

TEST(SimpleCodes, SelectorMuteAndFlag) {
    EXPECT_EQ(selectorWord(0x1234), 0x34u);
    EXPECT_EQ(selectorWord(-1), 0xFFu);
    EXPECT_EQ(selectorFromWord(0xAABBCC05), 5);
    EXPECT_EQ(muteValue(1), 0.0f);
    EXPECT_EQ(muteValue(0), 1.0f);
    EXPECT_EQ(muteFromValue(0.0f), 1);
    EXPECT_EQ(muteFromValue(1.0f), 0);
    EXPECT_EQ(flagValues(0), (std::array<float, 2>{1.0f, 1.0f}));
    EXPECT_EQ(flagValues(1), (std::array<float, 2>{1.0f, 0.0f}));
    EXPECT_EQ(flagFromValue(0.0f), 1);
    EXPECT_EQ(flagFromValue(0.9f), 1) << "truncates toward zero";
    EXPECT_EQ(flagFromValue(1.0f), 0);
}

TEST(Delays, SamplesRoundHalfUpAndSaturate) {
    EXPECT_EQ(msToSamples(10.0), 480u);
    EXPECT_EQ(msToSamples(0.5), 24u);
    EXPECT_EQ(msToSamples(1.5), 72u);
    EXPECT_EQ(msToSamples(10.01), 480u);
    EXPECT_EQ(msToSamples(100.0), 4800u);
    EXPECT_EQ(msToSamples(1.0 / 96.0), 1u) << "half a sample rounds up";
    EXPECT_EQ(msToSamples(-5.0), 0u);
    EXPECT_EQ(msToSamples(std::nan("")), 0u);
    EXPECT_EQ(msToSamples(1e300), 0xFFFFFFFFu);
    EXPECT_FLOAT_EQ(samplesToMs(480), 10.0f);
    EXPECT_FLOAT_EQ(samplesToMs(72), 1.5f);
    for (std::uint32_t s = 0; s < 48000; ++s)
        ASSERT_EQ(msToSamples(samplesToMs(s)), s);
}

TEST(AngularFrequency, EncodesAndRoundsBack) {
    EXPECT_FLOAT_EQ(angularFrequency(1), 0.00013089969f);
    EXPECT_EQ(floatBits(angularFrequency(1)), floatBits(float(kTwoPi / 48000.0)));
    for (int hz = 0; hz <= 24000; ++hz)
        ASSERT_EQ(hzFromAngular(angularFrequency(hz)), hz);
}

TEST(MicShift, DelayTable) {
    EXPECT_EQ(micShiftDelaySamples(0), 0u);
    EXPECT_EQ(micShiftDelaySamples(1), 0u);
    EXPECT_EQ(micShiftDelaySamples(2), 4800u);
    EXPECT_EQ(micShiftDelaySamples(3), 2800u);
    EXPECT_EQ(micShiftDelaySamples(4), 1800u);
    EXPECT_EQ(micShiftDelaySamples(5), 1200u);
    // Values outside the table must not read past it.
    EXPECT_EQ(micShiftDelaySamples(99), 1200u);
    EXPECT_EQ(micShiftDelaySamples(-3), 0u);
}

TEST(Compressor, RecordWordsAndInverse) {
    const auto w = compressorRecord({-20.0f, 4.0f, 10.0f, 100.0f});
    EXPECT_EQ(w[0], floatBits(-20.0f));
    EXPECT_EQ(w[1], 0u);
    EXPECT_EQ(w[2], 0x3F400000u);
    EXPECT_EQ(w[3], 0x41A00000u);
    EXPECT_EQ(w[4], 0x3D4CCCCDu);
    EXPECT_EQ(w[5], 0x3B086426u);
    EXPECT_EQ(w[6], 0x395A6E3Au);

    const Compressor back = compressorFromRecord(w);
    EXPECT_EQ(back.threshold, -20.0f);
    EXPECT_EQ(back.ratio, 4.0f);
    EXPECT_EQ(back.attack, 10.0f);
    EXPECT_EQ(back.release, 100.0f);
}

TEST(Compressor, ReadingBackAndSendingAgainGivesTheSameWords) {
    // What the page sets reads back as itself: whole milliseconds, ratios in tenths.
    for (int ms = 1; ms <= 1000; ++ms) {
        const auto w = compressorRecord({-10.0f, float(1 + ms % 200 / 10.0), float(ms), float(ms)});
        const Compressor back = compressorFromRecord(w);
        ASSERT_EQ(back.attack, float(ms));
        ASSERT_EQ(back.release, float(ms));
        ASSERT_EQ(back.ratio, float(1 + ms % 200 / 10.0)) << ms;
    }
    // Any value: one pull and push later, the words are the ones the amplifier had.
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> time(0.05f, 2000.0f), ratio(1.01f, 40.0f);
    for (int i = 0; i < 20000; ++i) {
        const auto w = compressorRecord({-3.0f, ratio(rng), time(rng), time(rng)});
        const auto again = compressorRecord(compressorFromRecord(w));
        ASSERT_EQ(again, w) << i;
        ASSERT_EQ(compressorRecord(compressorFromRecord(again)), w);
    }
}

TEST(SpeakerLevel, RecordWords) {
    EXPECT_EQ(floatBits(kLevelQuadratic), 0x3B14134Fu);
    EXPECT_EQ(floatBits(kLevelLinear), 0x3F4CC661u);
    const auto six = speakerLevelRecord(6.0f);
    EXPECT_EQ(six[0], 0x3FE08423u);
    EXPECT_EQ(six[1], 0x3FFF64C1u);
    EXPECT_EQ(six[2], 0x3F7EFF25u);
    EXPECT_EQ(six[3], 0xBFFF7EF1u);
    EXPECT_EQ(six[4], six[0]);
    EXPECT_EQ(six[5], six[1]);
    const auto zero = speakerLevelRecord(0.0f);
    EXPECT_EQ(zero, (std::array<std::uint32_t, 6>{0x3F800000, 0x3F800000, 0x3F7EFF25, 0xBFFF7EF1,
                                                  0x3F800000, 0x3F800000}));
}

TEST(Tenths, SignMagnitudeBytes) {
    EXPECT_EQ(tenthsByte(0.0f), 0x80);
    EXPECT_EQ(tenthsByte(-0.04f), 0x80);
    EXPECT_EQ(tenthsByte(-0.5f), 0x85);
    EXPECT_EQ(tenthsByte(-0.3f), 0x83);
    EXPECT_EQ(tenthsByte(0.3f), 0x03);
    EXPECT_EQ(tenthsByte(12.7f), 0x7F);
    EXPECT_EQ(tenthsByte(3.14f), 0x1F);
    EXPECT_EQ(tenthsByte(0.65f), 0x07) << "x10 is taken in single precision";
    // Beyond the byte's range the magnitude saturates rather than flipping the sign bit.
    EXPECT_EQ(tenthsByte(13.0f), 0x7F);
    EXPECT_EQ(tenthsByte(-40.0f), 0xFF);
    EXPECT_EQ(tenthsByte(std::nanf("")), 0x80);

    EXPECT_FLOAT_EQ(tenthsValue(0x85), -0.5f);
    EXPECT_FLOAT_EQ(tenthsValue(0x7F), 12.7f);
    EXPECT_EQ(tenthsValue(0x80), -0.0f);
    for (int b = 0; b < 256; ++b) {
        if (b == 0x00)
            continue; // +0.0 re-encodes as 0x80
        ASSERT_EQ(tenthsByte(tenthsValue(std::uint8_t(b))), b) << b;
    }
}

TEST(Steps, RampAndFadeValues) {
    EXPECT_EQ(rampValue(80), float(0.80));
    EXPECT_EQ(rampValue(75), float(0.75));
    EXPECT_EQ(fadeValue(3), float(0.3));
    EXPECT_EQ(fadeValue(0), 0.0f);
}

TEST(Coefficients, SignOfRecursiveTermsIsFlipped) {
    const Biquad b{0.5, 0.25, 0.125, -1.5, 0.75};
    const auto w = coefficientWords(b);
    EXPECT_EQ(w[0], floatBits(1.5f));
    EXPECT_EQ(w[1], floatBits(-0.75f));
    EXPECT_EQ(w[2], floatBits(0.5f));
    EXPECT_EQ(w[3], floatBits(0.25f));
    EXPECT_EQ(w[4], floatBits(0.125f));
}
