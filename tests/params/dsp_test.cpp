// SPDX-License-Identifier: GPL-3.0-or-later
#include "params/dsp.h"
#include "params/param_names.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <random>

using namespace q7;

namespace {

std::uint32_t f2w(float f) {
    std::uint32_t w;
    std::memcpy(&w, &f, 4);
    return w;
}

// Bytes of a DSP write, built by hand from the wire layout rather than by the code under test.
Report expectedWrite(int module, int parameter, std::vector<std::uint32_t> words) {
    Report r{};
    r[0] = 0x02;
    r[1] = 0x09;
    r[3] = std::uint8_t(module);
    r[4] = std::uint8_t(parameter);
    r[5] = std::uint8_t(words.size());
    for (std::size_t i = 0; i < words.size(); ++i)
        for (int b = 0; b < 4; ++b)
            r[6 + 4 * i + std::size_t(b)] = std::uint8_t(words[i] >> (24 - 8 * b));
    return r;
}

Report expectedMem(int address, std::vector<std::uint8_t> data) {
    Report r{};
    r[0] = 0x02;
    r[1] = 0x85;
    r[2] = std::uint8_t(address >> 8);
    r[3] = std::uint8_t(address);
    r[4] = std::uint8_t(data.size());
    std::copy(data.begin(), data.end(), r.begin() + 5);
    return r;
}

Report reply(int module, int parameter, std::vector<std::uint32_t> words, int status = 0) {
    Report r = expectedWrite(module, parameter, std::move(words));
    r[1] = 0x0A;
    r[2] = std::uint8_t(status);
    return r;
}

struct DspTest : ::testing::Test {
    ParameterStore store;
    VirtualClock clock;
    RecordingSink sink{&clock};
    Dsp dsp{store, sink, clock};

    std::vector<Report> sent() const { return sink.reports(); }
};

} // namespace

TEST_F(DspTest, WriteDspParamPutsCountCopies) {
    dsp.WriteDspParam(1, 33, 0.5f, 1);
    dsp.WriteDspParam(4, 15, 0.7f, 2);
    dsp.WriteDspParam(8, 30, std::uint32_t(1), 1);
    const auto r = sent();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0], expectedWrite(1, 33, {0x3F000000}));
    EXPECT_EQ(r[1], expectedWrite(4, 15, {f2w(0.7f), f2w(0.7f)}));
    EXPECT_EQ(r[2], expectedWrite(8, 30, {1}));
}

TEST_F(DspTest, CellsTravelByTheirCode) {
    store.setCellInt(26, 85);  // mic volume: c100 to two addresses
    store.setCellInt(54, 123); // c1e7
    store.setCellInt(88, -5);  // pitch goes as cell + 5
    store.setCellInt(97, 0x101);
    store.setCellInt(72, 1);  // echo mute, count 2
    store.setCellInt(106, 1); // main L delay mode: flag pair
    store.setCellBits(172, 0xC1400000);
    for (int c : {26, 54, 88, 97, 72, 106, 172})
        dsp.sendCell(c);
    const auto r = sent();
    ASSERT_EQ(r.size(), 8u);
    EXPECT_EQ(r[0], expectedWrite(1, 30, {f2w(0.85f)}));
    EXPECT_EQ(r[1], expectedWrite(1, 43, {f2w(0.85f)}));
    EXPECT_EQ(r[2], expectedWrite(1, 65, {f2w(float(123 / 1e7))}));
    EXPECT_EQ(r[3], expectedWrite(4, 20, {0}));
    EXPECT_EQ(r[4], expectedWrite(5, 34, {0x01}));
    EXPECT_EQ(r[5], expectedWrite(2, 29, {0, 0}));
    EXPECT_EQ(r[6], expectedWrite(5, 39, {0x3F800000, 0}));
    EXPECT_EQ(r[7], expectedWrite(4, 19, {0xC1400000}));
}

TEST_F(DspTest, MusicUnmuteFadesIn) {
    store.setCellInt(86, 1);
    dsp.sendMute(86);
    ASSERT_EQ(sink.size(), 1u);
    EXPECT_EQ(sent()[0], expectedWrite(4, 16, {0, 0}));
    sink.clear();

    store.setCellInt(86, 0);
    const double start = clock.nowMs();
    dsp.sendMute(86);
    const auto e = sink.entries();
    ASSERT_EQ(e.size(), 10u);
    for (int i = 0; i < 9; ++i) {
        const float v = float(i / 10.0);
        EXPECT_EQ(e[std::size_t(i)].report, expectedWrite(4, 16, {f2w(v), f2w(v)})) << i;
        EXPECT_DOUBLE_EQ(e[std::size_t(i)].ms - start, 30.0 * i);
    }
    EXPECT_EQ(e[9].report, expectedWrite(4, 16, {0x3F800000, 0x3F800000}));
    EXPECT_DOUBLE_EQ(clock.nowMs() - start, 270.0);

    // Other mutes switch at once.
    sink.clear();
    store.setCellInt(44, 0);
    dsp.sendMute(44);
    EXPECT_EQ(sink.size(), 2u);
}

TEST_F(DspTest, OutputDelayIsRaisedToOneAndAHalfMilliseconds) {
    dsp.sendDelay(DelayChannel::MainL, 0.5);
    EXPECT_FLOAT_EQ(store.cellFloat(102), 1.5f);
    dsp.sendDelay(DelayChannel::TopR, 10.01);
    dsp.sendDelay(DelayChannel::Sub, 100.0);
    const auto r = sent();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0], expectedWrite(5, 35, {72}));
    EXPECT_EQ(r[1], expectedWrite(9, 22, {480}));
    EXPECT_EQ(r[2], expectedWrite(8, 29, {4800}));
}

TEST_F(DspTest, PredelayEchoAndReverbTime) {
    dsp.sendPredelay(Effect::Reverb, MicChannel::A, 2.0);
    EXPECT_FLOAT_EQ(store.cellFloat(75), 1.5f);
    EXPECT_FLOAT_EQ(store.cellFloat(76), 1.5f);
    dsp.sendPredelay(Effect::Echo, MicChannel::B, 50.0);
    EXPECT_FLOAT_EQ(store.cellFloat(66), 25.0f);
    dsp.sendEchoTime(MicChannel::A, 12.0);
    EXPECT_FLOAT_EQ(store.cellFloat(61), 40.0f);
    dsp.sendReverbTime(MicChannel::B, 123.7);
    EXPECT_FLOAT_EQ(store.cellFloat(82), 123.0f);

    const auto r = sent();
    ASSERT_EQ(r.size(), 7u);
    EXPECT_EQ(r[0], expectedWrite(3, 16, {72}));
    EXPECT_EQ(r[1], expectedWrite(3, 17, {72}));
    EXPECT_EQ(r[2], expectedWrite(2, 23, {1200}));
    EXPECT_EQ(r[3], expectedWrite(2, 24, {1200}));
    EXPECT_EQ(r[4], expectedWrite(2, 18, {1920}));
    EXPECT_EQ(r[5], expectedWrite(3, 24, {f2w(1.23f)}));
    EXPECT_EQ(r[6], expectedWrite(3, 25, {f2w(1.23f)}));
}

TEST_F(DspTest, MicShiftOffSendsOnlyTheBypass) {
    store.setCellInt(33, 4);
    dsp.sendMicShift(MicChannel::A, 1);
    EXPECT_EQ(store.cellInt(33), 1);
    EXPECT_EQ(store.cellInt(34), 1);
    ASSERT_EQ(sink.size(), 1u);
    EXPECT_EQ(sent()[0], expectedWrite(1, 40, {1}));

    sink.clear();
    dsp.sendMicShift(MicChannel::B, 3);
    EXPECT_EQ(store.cellInt(41), 3);
    EXPECT_EQ(store.cellInt(42), 0);
    const auto r = sent();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0], expectedWrite(1, 53, {0}));
    EXPECT_EQ(r[1], expectedWrite(1, 51, {f2w(float(3 * 6.283185307179586 / 48000))}));
    EXPECT_EQ(r[2], expectedWrite(1, 52, {2800}));

    sink.clear();
    dsp.sendMicShift(MicChannel::A, 77); // a corrupt value must not index past the table
    EXPECT_EQ(sent().back(), expectedWrite(1, 39, {1200}));
}

TEST_F(DspTest, CompressorStoresCellsThenSendsTheRecord) {
    dsp.sendCompressor(OutputGroup::Center, {-20.0f, 4.0f, 10.0f, 100.0f});
    EXPECT_FLOAT_EQ(store.cellFloat(149), -20.0f);
    EXPECT_FLOAT_EQ(store.cellFloat(152), 100.0f);
    ASSERT_EQ(sink.size(), 1u);
    EXPECT_EQ(sent()[0], expectedWrite(7, 17,
                                       {f2w(-20.0f), 0, 0x3F400000, 0x41A00000, 0x3D4CCCCD,
                                        0x3B086426, 0x395A6E3A}));
}

TEST_F(DspTest, SendBandWritesRecordMemoryAndCoefficients) {
    EXPECT_TRUE(dsp.SendBand(EqHalf::MicB, 2, 1, 0.0, 1000, 1.41));
    const BandRecord rec = store.band(1, 17);
    EXPECT_EQ(rec, (BandRecord{150, 1000, 1410, 1}));
    const auto r = sent();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0], expectedMem(7 * 17, {0x00, 0x96, 0x03, 0xE8, 0x05, 0x82, 0x01}));
    // A flat PEQ reads -a1, -a2, 1.0, a1, a2.
    const Report& c = r[1];
    EXPECT_EQ(c[3], 1);
    EXPECT_EQ(c[4], 17);
    EXPECT_EQ(c[5], 5);
    const std::uint32_t na1 = readBe32(&c[6]), na2 = readBe32(&c[10]);
    EXPECT_EQ(readBe32(&c[14]), 0x3F800000u);
    EXPECT_EQ(readBe32(&c[18]), na1 ^ 0x80000000u);
    EXPECT_EQ(readBe32(&c[22]), na2 ^ 0x80000000u);

    sink.clear();
    EXPECT_TRUE(dsp.SendBand(EqHalf::EchoB, 0, 2, -3.0, 500, 0.707));
    EXPECT_EQ(sent()[0][2], std::uint8_t((210 + 49) >> 8));
    EXPECT_EQ(sent()[0][3], std::uint8_t(210 + 49));
    EXPECT_EQ(sent()[1][4], 7) << "record and DSP parameter are the same";

    sink.clear();
    EXPECT_FALSE(dsp.SendBand(EqHalf::EchoA, 7, 1, 0, 100, 1));
    EXPECT_FALSE(dsp.SendBand(10, 0, 1, 0, 100, 1));
    EXPECT_EQ(sink.size(), 0u) << "out-of-range bands send nothing";
}

TEST_F(DspTest, DelayModeSwitchesTheSplitBands) {
    dsp.sendSplitFilter(DelayChannel::MainL, 3);
    EXPECT_EQ(store.band(5, 24), (BandRecord{150, 800, 707, 3}));
    EXPECT_EQ(store.band(5, 25), (BandRecord{150, 1300, 707, 2}));

    sink.clear();
    dsp.sendDelayMode(DelayChannel::MainL, 1);
    EXPECT_EQ(store.cellInt(106), 1);
    auto r = sent();
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[0], expectedWrite(5, 39, {0x3F800000, 0}));
    EXPECT_EQ(store.band(5, 24), (BandRecord{150, 800, 707, 1}));
    EXPECT_EQ(store.band(5, 25), (BandRecord{150, 1300, 707, 1}));
    EXPECT_EQ(r[1][1], 0x85);
    EXPECT_EQ(r[2][4], 24);
    EXPECT_EQ(r[4][4], 25);

    sink.clear();
    dsp.sendDelayMode(DelayChannel::MainL, 0);
    r = sent();
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[0], expectedWrite(5, 39, {0x3F800000, 0x3F800000}));
    EXPECT_EQ(store.band(5, 24).type, 3);
    EXPECT_EQ(store.band(5, 25).type, 2);

    // A split frequency that is not in the table falls back to index 0.
    store.setBand(6, 12, BandRecord{150, 550, 707, 3});
    sink.clear();
    dsp.sendDelayMode(DelayChannel::RearR, 0);
    EXPECT_EQ(store.band(6, 12).frequency, 500);
    EXPECT_EQ(store.band(6, 13).frequency, 1000);
    EXPECT_EQ(sent()[0], expectedWrite(6, 26, {0x3F800000, 0x3F800000}));
}

TEST_F(DspTest, ResetGroupEqLayouts) {
    dsp.resetGroupEq(EqHalf::Sub);
    EXPECT_EQ(sink.size(), 40u);
    EXPECT_EQ(store.band(8, 0), (BandRecord{150, 20, 1410, 1}));
    EXPECT_EQ(store.band(8, 15), (BandRecord{150, 62, 1410, 1}));
    EXPECT_EQ(store.band(8, 16), (BandRecord{150, 100, 1414, 18}));
    EXPECT_EQ(store.band(8, 17), (BandRecord{150, 100, 1414, 20}));
    EXPECT_EQ(store.band(8, 19), (BandRecord{150, 100, 1414, 1}));
    EXPECT_EQ(store.band(8, 20).type, 3) << "the split pair is not part of the reset";

    sink.clear();
    dsp.resetGroupEq(EqHalf::MicB);
    EXPECT_EQ(sink.size(), 30u);
    EXPECT_EQ(store.band(1, 23), (BandRecord{150, 1000, 1410, 1}));
    EXPECT_EQ(store.band(1, 22), (BandRecord{150, 630, 707, 4}));
    EXPECT_EQ(store.band(1, 25), (BandRecord{150, 2500, 707, 5}));
    EXPECT_EQ(store.band(1, 0).frequency, 25) << "channel A untouched";

    sink.clear();
    dsp.resetGroupEq(EqHalf::ReverbB);
    EXPECT_EQ(sink.size(), 14u);
    EXPECT_EQ(store.band(3, 12).frequency, 2300);
    EXPECT_EQ(store.band(3, 5).frequency, 1000);

    sink.clear();
    dsp.resetGroupEq(EqHalf::Main);
    EXPECT_EQ(sink.size(), 48u);
}

TEST_F(DspTest, SpeakerLevelBlockAndRecord) {
    dsp.sendSpeakerLevel(5, 6.0f);
    const auto r = sent();
    ASSERT_EQ(r.size(), 2u);
    std::vector<std::uint8_t> block(32, 0);
    block[20] = 0x40;
    block[21] = 0xC0; // 6.0f in slot 5 (sub)
    EXPECT_EQ(r[0], expectedMem(1161, block));
    EXPECT_EQ(r[1],
              expectedWrite(
                  8, 33, {0x3FE08423, 0x3FFF64C1, 0x3F7EFF25, 0xBFFF7EF1, 0x3FE08423, 0x3FFF64C1}));

    sink.clear();
    dsp.sendSpeakerLevel(42, -1.0f); // unknown speakers are treated as main L
    EXPECT_FLOAT_EQ(store.speakerLevelSlot(0), -1.0f);
    EXPECT_EQ(sent()[1][3], 5);
    EXPECT_EQ(sent()[1][4], 42);
}

TEST_F(DspTest, ResetAllSpeakerLevels) {
    for (int s = 0; s < 8; ++s)
        store.setSpeakerLevelSlot(s, 3.0f);
    dsp.resetAllSpeakerLevels();
    const auto r = sent();
    ASSERT_EQ(r.size(), 17u);
    const int order[8][2] = {{5, 42}, {7, 23}, {5, 43}, {6, 28},
                             {8, 33}, {6, 29}, {9, 28}, {9, 29}};
    for (int s = 0; s < 8; ++s) {
        EXPECT_EQ(r[std::size_t(2 * s + 1)], expectedWrite(order[s][0], order[s][1],
                                                           {0x3F800000, 0x3F800000, 0x3F7EFF25,
                                                            0xBFFF7EF1, 0x3F800000, 0x3F800000}));
    }
    EXPECT_EQ(r[14], expectedMem(1161, std::vector<std::uint8_t>(32, 0)));
    EXPECT_EQ(r[16],
              expectedMem(1141, {0x04, 0x04, 0x80, 0x80, 0x8A, 0x0A, 0x80, 0x0A, 0x0A, 0x0A,
                                 0x8A, 0x8A, 0x80, 0x8A, 0x0A, 0x8A, 0x85, 0x80, 0x05, 0x80}));
    EXPECT_FLOAT_EQ(store.cellFloat(cell::SpeakerX + 6), -0.5f);
}

TEST_F(DspTest, RefusedReportsAreReported) {
    struct Refusing : ReportSink {
        int write(const Report&) override { return 0; }
    } refusing;
    Dsp offline(store, refusing, clock);
    EXPECT_FALSE(offline.sendDelay(DelayChannel::Center, 20.0));
    EXPECT_FLOAT_EQ(store.cellFloat(153), 20.0f) << "the store keeps the edit";
}

TEST(DspReadList, HasTheRequestsInOrder) {
    const auto& l = dspReadList();
    ASSERT_EQ(l.size(), 148u);
    EXPECT_EQ(l.front(), (DspRequest{1, 30, 1}));
    EXPECT_EQ(l[1], (DspRequest{1, 32, 1}));
    EXPECT_EQ(l[11], (DspRequest{1, 49, 1}));
    EXPECT_EQ(l[12], (DspRequest{1, 66, 2}));
    EXPECT_EQ(l.back(), (DspRequest{2, 27, 1}));
    int sevens = 0, sixes = 0;
    for (const auto& r : l) {
        sevens += r.count == 7;
        sixes += r.count == 6;
    }
    EXPECT_EQ(sevens, 5) << "one read per compressor";
    EXPECT_EQ(sixes, 8) << "one read per speaker level";
}

TEST(DspReply, DecodesIntoCells) {
    ParameterStore s;
    decodeDspReply(s, reply(1, 30, {f2w(-0.01f)}));
    EXPECT_EQ(s.cellInt(26), -1);
    decodeDspReply(s, reply(1, 43, {f2w(0.55f)}));
    EXPECT_EQ(s.cellInt(26), 55) << "(1,43) also sets the mic volume";
    decodeDspReply(s, reply(1, 55, {0}));
    EXPECT_EQ(s.cellInt(44), 1);
    decodeDspReply(s, reply(4, 20, {0x00000003}));
    EXPECT_EQ(s.cellInt(88), -2);
    decodeDspReply(s, reply(6, 25, {0x3F800000, 0}));
    EXPECT_EQ(s.cellInt(123), 1) << "flags read the second value";
    decodeDspReply(s, reply(6, 21, {480}));
    EXPECT_FLOAT_EQ(s.cellFloat(119), 10.0f);
    decodeDspReply(s, reply(1, 38, {f2w(float(4 * 6.283185307179586 / 48000))}));
    EXPECT_EQ(s.cellInt(33), 4);
    decodeDspReply(s, reply(3, 24, {f2w(2.5f)}));
    EXPECT_FLOAT_EQ(s.cellFloat(82), 250.0f);
    decodeDspReply(s, reply(4, 19, {0xC1400000}));
    EXPECT_EQ(s.cellBits(172), 0xC1400000u);
    decodeDspReply(s, reply(1, 64, {f2w(0.00012f)}, 0x33)); // status does not stop decoding
    EXPECT_EQ(s.cellInt(53), 12);

    decodeDspReply(
        s,
        reply(9, 19, {f2w(-12.0f), 0, 0x3F400000, 0x41A00000, 0x3D4CCCCD, 0x3B086426, 0x395A6E3A}));
    EXPECT_FLOAT_EQ(s.cellFloat(132), -12.0f);
    EXPECT_NEAR(s.cellFloat(133), 4.0f, 1e-5);
    EXPECT_NEAR(s.cellFloat(134), 10.0f, 0.02);
    EXPECT_NEAR(s.cellFloat(135), 100.0f, 0.5);
}

TEST(DspReply, ShiftBypassAlsoTurnsTheShiftOff) {
    ParameterStore s;
    s.setCellInt(33, 3);
    s.setCellInt(34, 0);
    decodeDspReply(s, reply(1, 53, {1}));
    EXPECT_EQ(s.cellInt(42), 1);
    EXPECT_EQ(s.cellInt(41), 1);
    EXPECT_EQ(s.cellInt(33), 3);
    EXPECT_EQ(s.cellInt(34), 0);
    decodeDspReply(s, reply(1, 40, {0}));
    EXPECT_EQ(s.cellInt(33), 3) << "bypass 0 leaves the frequency";
}

TEST(DspReply, IgnoresAddressesWithoutCells) {
    ParameterStore s;
    const auto before = s.modeImage();
    decodeDspReply(s, reply(10, 30, {0x3F800000}));
    decodeDspReply(s, reply(0, 30, {0x3F800000}));
    for (int p : {31, 39, 44, 45, 52, 66})
        decodeDspReply(s, reply(1, p, {0x3F800000}));
    decodeDspReply(s, reply(3, 19, {0x3F800000}));
    decodeDspReply(s, reply(5, 42, {0x3F800000}));
    decodeDspReply(s, reply(5, 3, {0x3F800000})); // a coefficient address
    const auto after = s.modeImage();
    EXPECT_EQ(before.cells, after.cells);
}

// Whatever a pull reads back goes out again as the very words the amplifier held, and a second
// pull and push change nothing more: no value creeps on round trips. Every cell the full push
// carries, with random values across the range its page gives it.
TEST(DspReply, EveryCellReadBackAndSentAgainKeepsItsWords) {
    std::mt19937 rng(2104);
    ModeImage base = ParameterStore().modeImage();
    auto dspWrites = [](const RecordingSink& sink) {
        std::vector<Report> out;
        for (const Report& r : sink.reports())
            if (r[1] == 0x09)
                out.push_back(r);
        return out;
    };
    auto readBack = [](ParameterStore& into, const std::vector<Report>& writes) {
        for (Report r : writes) {
            r[1] = 0x0A; // the reply carries the write's layout
            decodeDspReply(into, r);
        }
    };
    int cellsTried = 0;
    for (int c = kSavedFirstCell; c <= kSavedLastCell; ++c) {
        const ParamInfo* p = cellParam(c);
        if (!p || cellLayout(c).code == CellCode::None)
            continue;
        ++cellsTried;
        for (int trial = 0; trial < 200; ++trial) {
            ModeImage m = base;
            if (p->kind == ValueKind::Number || p->kind == ValueKind::Ratio) {
                // A random user value in the page's range, held as the cell holds it.
                std::uniform_real_distribution<double> user(p->min, p->max);
                const double stored = (user(rng) * p->div - p->add) / p->mul;
                m.cells[std::size_t(c)] = p->storage == ParamStorage::Float32
                                              ? f2w(float(stored))
                                              : std::uint32_t(std::int32_t(std::lround(stored)));
            } else if (p->kind == ValueKind::Shift) {
                m.cells[std::size_t(c)] = std::uint32_t(rng() % 6);
            } else {
                const bool routing = cellLayout(c).code == CellCode::C100;
                m.cells[std::size_t(c)] = (rng() % 2) * (routing ? 100u : 1u);
            }
            VirtualClock clock;
            ParameterStore first;
            first.applyModeImage(m);
            RecordingSink sink(&clock);
            Dsp(first, sink, clock).pushCells(1, [c](int x) { return x == c; });
            const std::vector<Report> sent = dspWrites(sink);

            ParameterStore pulled;
            pulled.applyModeImage(m);
            readBack(pulled, sent);
            RecordingSink again(&clock);
            Dsp(pulled, again, clock).pushCells(1, [c](int x) { return x == c; });
            ASSERT_EQ(dspWrites(again), sent) << p->id << " " << trial;

            ParameterStore twice;
            twice.applyModeImage(pulled.modeImage());
            readBack(twice, dspWrites(again));
            ASSERT_EQ(twice.modeImage().cells, pulled.modeImage().cells) << p->id << " " << trial;
        }
    }
    EXPECT_GT(cellsTried, 130);
}
