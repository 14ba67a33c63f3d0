// SPDX-License-Identifier: GPL-3.0-or-later
// Rooms with several listening positions: folders of positions, the built-in room's seats, and
// the synthetic rooms the tuning is tested on.
#include "measure/fft.h"
#include "measure/output.h"
#include "sim/simulated_audio.h"
#include "sim/synthetic_room.h"
#include "sim_link.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <gtest/gtest.h>
#include <numbers>

using namespace q7;
using namespace q7::test;

namespace {

std::size_t peakAt(const std::vector<float>& ir) {
    return std::size_t(
        std::max_element(ir.begin(), ir.end(),
                         [](float a, float b) { return std::abs(a) < std::abs(b); }) -
        ir.begin());
}

// The level of an impulse response over 1/6 octave around hz, in dB, from its plain DFT.
double levelAt(const std::vector<float>& ir, double hz) {
    double power = 0;
    for (int step = -4; step <= 4; ++step) {
        const double f = hz * std::exp2(step / 48.0);
        std::complex<double> acc;
        for (std::size_t n = 0; n < ir.size(); ++n)
            acc += double(ir[n]) * std::polar(1.0, -2 * std::numbers::pi * f * double(n) / 48000);
        power += std::norm(acc) / 9;
    }
    return 10 * std::log10(power);
}

} // namespace

TEST(Room, FoldersOfPositionsAreReadInOrder) {
    const std::filesystem::path dir = testing::TempDir() + "room_positions";
    std::filesystem::remove_all(dir);
    SyntheticRoomSetup setup;
    setup.positions = 3;
    setup.connected[5] = false;
    const Room made = syntheticRoom(setup);
    std::string error;
    ASSERT_TRUE(writeRoomFolder(made, dir.string(), error)) << error;
    EXPECT_TRUE(std::filesystem::exists(dir / "3" / "sub.wav"));
    EXPECT_FALSE(std::filesystem::exists(dir / "1" / "rear-r.wav"));

    const Room read = loadRoom(dir.string());
    ASSERT_TRUE(read.ok()) << read.error;
    ASSERT_EQ(read.positions.size(), 3u);
    EXPECT_EQ(read.positions, made.positions);

    SimWithLink f;
    SimulatedAudio audio(f.amp, SimOptions{.roomDir = dir.string()});
    ASSERT_TRUE(audio.ok()) << audio.error();
    EXPECT_EQ(audio.positions(), 3);
    EXPECT_EQ(audio.position(), 0);
    const std::vector<float> seat = audio.trueImpulse(0);
    EXPECT_TRUE(audio.setPosition(2));
    EXPECT_FALSE(audio.setPosition(3));
    EXPECT_EQ(audio.position(), 2);
    EXPECT_NE(audio.trueImpulse(0), seat);
    EXPECT_TRUE(audio.trueImpulse(5).empty());

    // A gap ends the positions; a bad file in one of them names it.
    std::filesystem::rename(dir / "3", dir / "4");
    EXPECT_EQ(loadRoom(dir.string()).positions.size(), 2u);
    ASSERT_TRUE(writeWav((dir / "2" / "center.wav").string(), {0.1f, 0.2f}, 2, 48000, error));
    const Room bad = loadRoom(dir.string());
    EXPECT_FALSE(bad.ok());
    EXPECT_NE(bad.error.find("2/center.wav"), std::string::npos) << bad.error;
    std::filesystem::remove_all(dir);
}

TEST(Room, TheBuiltInRoomHasNineSeats) {
    SimWithLink f;
    SimulatedAudio audio(f.amp, SimOptions{});
    EXPECT_EQ(audio.positions(), kBuiltInRoomPositions);
    EXPECT_EQ(audio.impulsesAt(0), builtInRoom().positions[0]);
    // The sofa's left end is nearer main L and farther from main R than the middle.
    const RoomImpulses middle = audio.impulsesAt(0), end = audio.impulsesAt(1);
    EXPECT_LT(peakAt(end[0]), peakAt(middle[0]));
    EXPECT_GT(peakAt(end[1]), peakAt(middle[1]));
    EXPECT_TRUE(audio.impulsesAt(kBuiltInRoomPositions).empty() ||
                audio.impulsesAt(kBuiltInRoomPositions)[0].empty());
}

TEST(SyntheticRoom, IsMadeAsAsked) {
    SyntheticRoomSetup setup;
    setup.seed = 5;
    setup.positions = 2;
    SyntheticRoomTruth truth;
    const Room room = syntheticRoom(setup, &truth);
    ASSERT_EQ(room.positions.size(), 2u);
    EXPECT_EQ(syntheticRoom(setup).positions, room.positions); // the same seed, the same room
    for (int k = 0; k < kSpeakerOutputs; ++k) {
        SCOPED_TRACE(k);
        const double d = truth.distanceM[std::size_t(k)];
        EXPECT_GE(d, 0.5);
        EXPECT_LE(d, 6.0);
        EXPECT_LE(std::abs(truth.levelDb[std::size_t(k)]), 6.0);
        if (k == 3)
            continue; // the Sub's broad impulse has no sharp peak
        // The direct sound arrives after the distance, give or take the jitter.
        const double ms = double(peakAt(room.positions[0][std::size_t(k)])) / 48.0;
        EXPECT_NEAR(ms, d / 343.0 * 1000, 0.1 + 0.021);
    }
    // The fronts have their wall's dip (against the same room without the wall), clearest
    // near them, where the room's reverberation does not fill it.
    SyntheticRoomSetup near = setup;
    near.maxDistanceM = 2.5;
    SyntheticRoomSetup open = near;
    open.boundaryDip = false;
    SyntheticRoomTruth nearTruth;
    const Room walled = syntheticRoom(near, &nearTruth), noWall = syntheticRoom(open);
    for (int k : {0, 1, 2}) {
        const double dip = nearTruth.dipHz[std::size_t(k)];
        // Mid-bass: where the wall's reflection cancels most, just under 100 Hz for the
        // farther walls.
        EXPECT_GT(dip, 80);
        EXPECT_LT(dip, 300);
        EXPECT_LT(levelAt(walled.positions[0][std::size_t(k)], dip),
                  levelAt(noWall.positions[0][std::size_t(k)], dip) - 6)
            << k;
    }
    EXPECT_EQ(noWall.positions[0][4], walled.positions[0][4]);
    // The Sub's mode stands out, and its wires are reversed.
    const auto& sub = room.positions[0][3];
    EXPECT_GT(levelAt(sub, truth.subModeHz), levelAt(sub, truth.subModeHz * 1.5) + 6);
    setup.subInverted = false;
    const Room upright = syntheticRoom(setup);
    std::vector<float> negated = upright.positions[0][3];
    for (float& v : negated)
        v = -v;
    EXPECT_EQ(sub, negated);
    EXPECT_EQ(upright.positions[0][0], room.positions[0][0]);
    // Speakers left out are not connected; the others stay as they were.
    setup.subInverted = true;
    setup.connected[4] = false;
    const Room fewer = syntheticRoom(setup);
    EXPECT_TRUE(fewer.positions[1][4].empty());
    EXPECT_EQ(fewer.positions[1][5], room.positions[1][5]);
}
