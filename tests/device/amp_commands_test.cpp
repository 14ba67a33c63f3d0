// SPDX-License-Identifier: GPL-3.0-or-later
// The amplifier's commands put on the wire exactly the reports the window and q7ctl built for
// themselves before (written out here byte by byte from the wire layout, for random arguments),
// and the simulated amplifier takes them as meant.
#include "device/amp_commands.h"
#include "params/dsp.h"
#include "rig.h"

#include <gtest/gtest.h>
#include <initializer_list>
#include <random>

using namespace q7;
using namespace q7::test;

namespace {

// Report id 2, the command code, the payload bytes from byte 2, the rest zero.
Report wire(std::uint8_t code, std::initializer_list<int> payload = {}) {
    Report r{};
    r[0] = 0x02;
    r[1] = code;
    std::size_t i = 2;
    for (int b : payload)
        r[i++] = std::uint8_t(b);
    return r;
}

template <std::size_t N> Report wireBlock(std::uint8_t code, const std::array<std::uint8_t, N>& b) {
    Report r = wire(code);
    for (std::size_t i = 0; i < N; ++i)
        r[2 + i] = b[i];
    return r;
}

// A DSP write of one big-endian word: status 0, module, parameter, count 1.
Report dspWord(int module, int parameter, std::uint32_t word) {
    return wire(0x09, {0x00, module, parameter, 0x01, int(word >> 24), int((word >> 16) & 0xFF),
                       int((word >> 8) & 0xFF), int(word & 0xFF)});
}

// A name slot: 0x0F00 + 64 per mode, big-endian, then the length byte.
Report nameSlot(std::uint8_t code, int mode, int length) {
    const int address = 0x0F00 + 64 * mode;
    return wire(code, {address >> 8, address & 0xFF, length});
}

struct Commands : ::testing::Test {
    Rig rig;
    AmpCommands& amp = rig.c.commands;
    std::mt19937 rng{20261210};

    void SetUp() override { ASSERT_TRUE(rig.c.link.OpenLink().opened); }
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
    // The reports sent since the last call.
    std::vector<Report> sent() {
        std::vector<Report> out;
        for (const TraceLine& t : rig.sent())
            out.push_back(t.report);
        rig.clearTrace();
        return out;
    }
};

using Reports = std::vector<Report>;

TEST_F(Commands, InputAndHdmiGoOutAsTheRibbonSentThemAndTheAmplifierFollows) {
    for (int round = 0; round < 20; ++round) {
        const int source = pick(0, kSourceCount - 1);
        EXPECT_TRUE(amp.selectSource(source));
        EXPECT_EQ(sent(), Reports{wire(0x0B, {source})});
        EXPECT_EQ(rig.store.cellInt(cell::MusicSource), source);

        const int port = pick(0, kHdmiCount - 1);
        EXPECT_TRUE(amp.selectHdmi(port));
        EXPECT_EQ(sent(), Reports{wire(0x10, {port})});
        ASSERT_TRUE(rig.c.link.awaitReply());
        EXPECT_EQ(rig.c.state.hdmi(), port) << "kept, and the amplifier's answer agrees";
    }
}

TEST_F(Commands, ABorrowedInputGoesOutAsTheMeasurementSentIt) {
    for (int round = 0; round < 10; ++round) {
        const int source = pick(0, kSourceCount - 1);
        EXPECT_TRUE(amp.switchSource(source));
        EXPECT_TRUE(amp.askSource());
        EXPECT_EQ(sent(), (Reports{wire(0x0B, {source}), wire(0x0C)}));
        ASSERT_TRUE(rig.c.link.awaitReply());
        EXPECT_EQ(rig.store.cellInt(cell::MusicSource), source) << "the amplifier plays it";
    }
}

TEST_F(Commands, PitchIsTheWholeNumberPlusFiveAtModuleFourParameterTwenty) {
    Dsp senders(rig.store, rig.c.link, rig.clock);
    for (int pitch = -5; pitch <= 5; ++pitch) {
        EXPECT_TRUE(amp.setPitch(senders, pitch));
        EXPECT_EQ(sent(), Reports{dspWord(4, 20, std::uint32_t(pitch + 5))}) << pitch;
        EXPECT_EQ(rig.store.cellInt(cell::MusicPitch), pitch);
        ASSERT_TRUE(rig.c.link.awaitReply());
        EXPECT_EQ(rig.sim.dspValue(4, 20).at(0), std::uint32_t(pitch + 5));
    }
}

TEST_F(Commands, MachineSettingsAndKeyTableCarryTheirRecordsFromByteTwo) {
    for (int round = 0; round < 10; ++round) {
        MachineSettings edited{};
        for (auto& b : edited)
            b = std::uint8_t(pick(0, 255));
        rig.c.state.setEditSettings(edited);
        EXPECT_TRUE(amp.applyMachineSettings());
        EXPECT_EQ(sent(), Reports{wireBlock(0x91, edited)});
        EXPECT_EQ(rig.c.state.currentSettings(), edited) << "applied is current";

        KeyTable keys{};
        for (auto& b : keys)
            b = std::uint8_t(pick(0, 255));
        rig.store.setKeyTable(keys);
        EXPECT_TRUE(amp.sendKeyTable());
        EXPECT_EQ(sent(), Reports{wireBlock(0x63, keys)});
        ASSERT_TRUE(rig.c.link.awaitReply());
        EXPECT_EQ(rig.sim.settings(), edited);
        EXPECT_EQ(rig.sim.keyTable(), keys);
    }
}

TEST_F(Commands, LearningAKeyAndCancellingItGoOutAtOnce) {
    for (int round = 0; round < 5; ++round) {
        const int key = pick(1, 15);
        EXPECT_TRUE(amp.startLearning(key));
        const double asked = rig.clock.nowMs();
        // Nobody presses the key: the cancel must not sit behind the unanswered request.
        EXPECT_TRUE(amp.cancelLearning());
        EXPECT_LT(rig.clock.nowMs() - asked, kReplyWaitMs);
        EXPECT_EQ(sent(), (Reports{wire(0x60, {key}), wire(0x61)}));
    }
}

TEST_F(Commands, PairingAndTheQuestionsAreBareCommandCodes) {
    EXPECT_TRUE(amp.pairMics());
    EXPECT_TRUE(amp.askModel());
    EXPECT_TRUE(amp.askProtocol());
    EXPECT_TRUE(amp.askSettings());
    EXPECT_TRUE(amp.askLevels());
    EXPECT_EQ(sent(),
              (Reports{wire(0x0F, {0x01}), wire(0x80), wire(0x7F), wire(0x92), wire(0x0E)}));
    for (int mode = 0; mode < 4; ++mode) {
        EXPECT_TRUE(amp.askModeName(mode));
        EXPECT_EQ(sent(), Reports{nameSlot(0xDB, mode, 40)});
    }
    ASSERT_TRUE(rig.c.link.awaitReply());
    EXPECT_EQ(rig.c.state.model(), "Q7");
}

TEST_F(Commands, UserModesAreKeptAsCurrentAndNamedInBigEndianUnits) {
    for (int round = 0; round < 10; ++round) {
        const int mode = pick(0, 3);
        const std::uint8_t codes[3] = {0x05, 0x04, 0x06};
        const int action = pick(0, 2);
        const bool ok = action == 0   ? amp.loadMode(mode)
                        : action == 1 ? amp.storeMode(mode)
                                      : amp.defaultMode(mode);
        EXPECT_TRUE(ok);
        EXPECT_EQ(sent(), Reports{wire(codes[action], {mode})});
        EXPECT_EQ(rig.store.cellInt(cell::CurrentMode), mode);

        // Up to 25 units of which the first 20 are kept.
        std::u16string name;
        for (int n = pick(0, 25); n > 0; --n)
            name.push_back(char16_t(pick(0x20, 0x9FFF)));
        EXPECT_TRUE(amp.renameMode(mode, name));
        Report want = nameSlot(0xDA, mode, 44);
        for (std::size_t i = 0; i < std::min<std::size_t>(name.size(), 20); ++i) {
            want[5 + 2 * i] = std::uint8_t(name[i] >> 8);
            want[6 + 2 * i] = std::uint8_t(name[i] & 0xFF);
        }
        EXPECT_EQ(sent(), Reports{want});
        EXPECT_EQ(rig.c.state.modeNames().get(mode), name.substr(0, 20));
        ASSERT_TRUE(rig.c.link.awaitReply());
    }
    amp.loadMode(7);
    EXPECT_EQ(sent(), Reports{wire(0x05, {3})}) << "a mode past the last is the last";
}

TEST_F(Commands, ResetIsCodeSixtyEightWithItsSafetyByte) {
    EXPECT_TRUE(amp.resetMachine());
    EXPECT_EQ(sent(), Reports{wire(0x68, {0xAA})});
}

TEST_F(Commands, NothingGoesOutWhileTheLinkIsClosed) {
    rig.c.link.CloseByEditor();
    sent();
    EXPECT_FALSE(amp.selectSource(2));
    EXPECT_FALSE(amp.pairMics());
    EXPECT_FALSE(amp.resetMachine());
    for (const Report& r : sent())
        EXPECT_EQ(r[1], 0x8A) << "only the close went out";
}

} // namespace
