// SPDX-License-Identifier: GPL-3.0-or-later
// Calibration files, smoothing and averaging, and what a measurement writes.
#include "eq/measurement.h"
#include "measure/average.h"
#include "measure/calibration.h"
#include "measure/output.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>

using namespace q7;

TEST(MicCalibration, ReadsTheUsualFileForms) {
    // A USB microphone's file: quoted header with the sensitivity, tab-separated points.
    MicCalibration c = parseMicCalibration("\"Sens Factor =-0.7716dB, SESNS=-17.228\"\r\n"
                                           "20.000\t-1.50\r\n1000\t0.0\r\n20000\t2.5\r\n");
    ASSERT_TRUE(c.ok()) << c.error;
    ASSERT_TRUE(c.dbfsAt94);
    EXPECT_NEAR(*c.dbfsAt94, -17.228, 1e-9); // SESNS stands over Sens Factor
    EXPECT_TRUE(c.phaseDeg.empty());
    EXPECT_NEAR(c.dbAt(10), -1.5, 1e-12); // held at the ends
    EXPECT_NEAR(c.dbAt(std::sqrt(20.0 * 1000)), -0.75, 1e-9);
    // Sens Factor alone corrects the nominal -18 dBFS; phase columns; comments; bad lines.
    c = parseMicCalibration("Sens Factor = 1.0 dB\n* comment\n100 0.5 -10\n10 0.0 -30\n"
                            "garbage here\n100 7 0\n1e3 0.0 0\n");
    ASSERT_TRUE(c.ok());
    EXPECT_NEAR(*c.dbfsAt94, -19.0, 1e-12);
    EXPECT_EQ(c.hz, (std::vector<double>{10, 100, 1000}));
    EXPECT_EQ(c.db[1], 0.5); // the repeated 100 Hz line is dropped
    EXPECT_EQ(c.phaseDeg[0], -30.0);
    EXPECT_EQ(c.ignoredLines, 1);
    // Subtracted from a response, phase too.
    FrequencyResponse r{{10, 100}, {3.0, 3.0}, {0.0, 0.0}};
    applyCalibration(r, c);
    EXPECT_EQ(r.db, (std::vector<double>{3.0, 2.5}));
    EXPECT_EQ(r.phaseDeg, (std::vector<double>{30.0, 10.0}));
    // Nothing usable: an error, and nothing applied.
    c = parseMicCalibration("just words\n");
    EXPECT_FALSE(c.ok());
    EXPECT_FALSE(readMicCalibration("/nonexistent/mic.cal").ok());
    EXPECT_EQ(splOffset(-12, -30), 112);
}

TEST(Smoothing, NamesAndWidthsAsRewHasThem) {
    EXPECT_EQ(Smoothing::parse("1/12")->name(), "1/12 octave smoothing");
    EXPECT_EQ(Smoothing::parse("variable")->name(), "Var. smoothing");
    EXPECT_EQ(Smoothing::parse("psy")->name(), "Psy. smoothing");
    EXPECT_EQ(Smoothing::parse("none")->name(), "No smoothing");
    EXPECT_FALSE(Smoothing::parse("1/5"));
    const Smoothing v = *Smoothing::parse("variable");
    EXPECT_DOUBLE_EQ(v.widthOctaves(50), 1.0 / 48);
    EXPECT_DOUBLE_EQ(v.widthOctaves(12000), 1.0 / 3);
    EXPECT_NEAR(v.widthOctaves(1000), std::sqrt(1.0 / 48 / 3), 1e-12);
    const Smoothing p = *Smoothing::parse("psy");
    EXPECT_DOUBLE_EQ(p.widthOctaves(80), 1.0 / 6);
    EXPECT_DOUBLE_EQ(p.widthOctaves(5000), 1.0 / 3);
    const auto f = logFrequencies(20, 20000, 48);
    EXPECT_EQ(f.size(), 479u);
    EXPECT_NEAR(f.back(), 20 * std::pow(2.0, 478.0 / 48), 1e-9);
}

TEST(Average, PowerDbAndVectorWithTheSpread) {
    const FrequencyResponse a{{100, 200}, {0.0, 6.0}, {0.0, 0.0}};
    const FrequencyResponse b{{100, 200}, {-6.0, 6.0}, {0.0, 180.0}};
    AveragedResponse p = averageResponses({a, b}, AverageKind::Power, {"sofa"});
    EXPECT_EQ(p.positions, (std::vector<std::string>{"sofa", "position 2"}));
    EXPECT_NEAR(p.mean.db[0], 10 * std::log10((1 + 0.25) / 2), 0.01);
    EXPECT_NEAR(p.spreadDb[0], 6.0, 1e-12);
    EXPECT_NEAR(averageResponses({a, b}, AverageKind::Db).mean.db[0], -3.0, 1e-12);
    // Opposite phases cancel in a vector average.
    const AveragedResponse v = averageResponses({a, b}, AverageKind::Vector);
    EXPECT_LT(v.mean.db[1], -100);
    EXPECT_NEAR(v.mean.db[0], 20 * std::log10(0.75), 0.01);
    // Different grids cannot be averaged.
    const FrequencyResponse c{{100}, {0.0}, {0.0}};
    EXPECT_TRUE(averageResponses({a, c}, AverageKind::Db).mean.empty());
    EXPECT_EQ(*parseAverageKind("vector"), AverageKind::Vector);
    EXPECT_FALSE(parseAverageKind("median"));
}

TEST(Outputs, RewTextReadsBackAndWavRoundTrips) {
    const FrequencyResponse r{{20, 1000, 20000}, {75.5, 80.125, 70.0}, {-12.5, 0, 45}};
    const std::string text = rewText(r, {"Measurement data measured by q7ctl", "Note: a\nb"});
    EXPECT_EQ(text, "* Measurement data measured by q7ctl\n* Note: a b\n"
                    "* Freq(Hz) SPL(dB) Phase(degrees)\n20.000000 75.500 -12.5000\n"
                    "1000.000000 80.125 0.0000\n20000.000000 70.000 45.0000\n");
    const MeasurementRead back = parseMeasurement(text);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.curve.hz, r.hz);
    EXPECT_EQ(back.curve.db, r.db);

    const std::string path = testing::TempDir() + "measure_ir.wav";
    std::vector<float> stereo = {0.5f, -0.25f, 1.0f, 0.0f, -1.0f, 0.125f};
    std::string error;
    ASSERT_TRUE(writeWav(path, stereo, 2, 48000, error)) << error;
    const WavData w = readWav(path);
    ASSERT_TRUE(w.ok()) << w.error;
    EXPECT_EQ(w.channels, 2);
    EXPECT_EQ(w.sampleRate, 48000);
    EXPECT_EQ(w.samples, stereo);
    EXPECT_FALSE(readWav(path, 1e-6).ok()); // longer than allowed
    std::ofstream(path) << "not audio";
    EXPECT_FALSE(readWav(path).ok());
    std::remove(path.c_str());
    EXPECT_FALSE(writeWav("/nonexistent/dir/x.wav", stereo, 2, 48000, error));
    EXPECT_FALSE(error.empty());
}
