// SPDX-License-Identifier: GPL-3.0-or-later
#include "params/codec.h"
#include "params/dsp.h"
#include "params/store.h"

#include <gtest/gtest.h>
#include <thread>

using namespace q7;

TEST(BandRecord, EncodingTruncatesAndSaturates) {
    EXPECT_EQ(BandRecord::encode(1, -15.0, 100, 1).gain, 0);
    EXPECT_EQ(BandRecord::encode(1, 15.0, 100, 1).gain, 300);
    EXPECT_EQ(BandRecord::encode(1, 14.9, 100, 1).gain, 299);
    EXPECT_EQ(BandRecord::encode(1, 0.0, 100, 1).bytes()[0], 0x00);
    EXPECT_EQ(BandRecord::encode(1, 0.0, 100, 1).bytes()[1], 0x96);
    EXPECT_EQ(BandRecord::encode(1, 0, 100, 0.707).bytes()[4], 0x02);
    EXPECT_EQ(BandRecord::encode(1, 0, 100, 0.707).bytes()[5], 0xC3);
    EXPECT_EQ(BandRecord::encode(1, 0, 100, 1.414).q, 0x0586);
    EXPECT_EQ(BandRecord::encode(1, 0, 100, 0.707f).q, 707) << "float Q from the graph";
    EXPECT_EQ(BandRecord::encode(1, 0, 100, 1.414f).q, 1414);
    // Values outside the field saturate instead of wrapping into nonsense.
    EXPECT_EQ(BandRecord::encode(1, -40.0, 100, 1).gain, 0);
    EXPECT_EQ(BandRecord::encode(1, 0, 90000, 1).frequency, 65535);
    EXPECT_EQ(BandRecord::encode(1, 0, 100, -1).q, 0);

    const BandRecord r = BandRecord::encode(5, -3.2, 12345, 2.5);
    const auto b = r.bytes();
    EXPECT_EQ(b, (std::array<std::uint8_t, 7>{0x00, 0x76, 0x30, 0x39, 0x09, 0xC4, 5}));
    EXPECT_EQ(BandRecord::fromBytes(b.data()), r);
    EXPECT_NEAR(r.gainDb(), -3.2, 1e-12);
    EXPECT_DOUBLE_EQ(r.qValue(), 2.5);
}

TEST(EqGroups, TilesTheBandImageExactly) {
    int expectedOffset = 0, total = 0;
    for (const EqGroup& g : eqGroups()) {
        EXPECT_EQ(g.offset, expectedOffset) << "group " << g.group;
        expectedOffset += 7 * g.records;
        total += g.records;
        EXPECT_LE(g.pushed, g.records);
    }
    EXPECT_EQ(total, 163);
    EXPECT_EQ(expectedOffset, 1141);
    EXPECT_EQ(bandOffset(9, 13) + 7, 1141) << "the last record ends at byte 1140";
    EXPECT_EQ(bandOffset(9, 14), -1);
    EXPECT_EQ(bandOffset(0, 0), -1);
    EXPECT_EQ(bandOffset(5, 24), 511 + 7 * 24);
}

TEST(ParameterStore, StartsZeroedWithTheStartBandImage) {
    ParameterStore s;
    for (int i = 0; i < kCellCount; ++i)
        ASSERT_EQ(s.cellBits(i), 0u) << i;
    for (const EqGroup& g : eqGroups())
        for (int r = 0; r < g.records; ++r)
            ASSERT_EQ(s.band(g.group, r).gain, 150) << g.group << "/" << r;

    auto expect = [&](int group, int record, int hz, int q, int type) {
        const BandRecord b = s.band(group, record);
        EXPECT_EQ(b.frequency, hz) << group << "/" << record;
        EXPECT_EQ(b.q, q) << group << "/" << record;
        EXPECT_EQ(b.type, type) << group << "/" << record;
    };
    expect(1, 0, 25, 1414, 1);
    expect(1, 7, 630, 707, 4);
    expect(1, 8, 998, 1414, 1);
    expect(1, 10, 2500, 707, 5);
    expect(1, 22, 630, 707, 4); // channel B
    expect(1, 29, 16000, 1414, 1);
    expect(4, 10, 2500, 707, 5);
    expect(2, 13, 2000, 1414, 1);
    expect(3, 7, 31, 1414, 1);
    expect(5, 23, 20000, 1414, 1);
    expect(5, 24, 500, 707, 3);
    expect(5, 27, 1000, 707, 2);
    expect(6, 9, 16000, 1414, 1);
    expect(6, 12, 500, 707, 3);
    expect(7, 11, 1000, 707, 2);
    expect(8, 6, 31, 1414, 1);
    expect(8, 7, 31, 707, 1);
    expect(8, 9, 40, 707, 1);
    expect(8, 10, 40, 1414, 1);
    expect(8, 15, 62, 1414, 1);
    expect(8, 16, 100, 1414, 18);
    expect(8, 17, 100, 707, 20);
    expect(8, 19, 100, 707, 1);
    expect(8, 20, 500, 707, 3);
    expect(9, 13, 1000, 707, 2);
}

TEST(ParameterStore, PlanBlockEncodesCellsAsTenthsBytes) {
    ParameterStore s;
    ASSERT_EQ(s.writePlanBlock(0, kFactoryPlan), kPlanSize);
    // Decoded on write: room 4 x 4, Main L at (-1.0, +1.0), Top R at (+0.5, 0.0).
    EXPECT_EQ(s.cellInt(cell::RoomWidth), 4);
    EXPECT_EQ(s.cellInt(cell::RoomLength), 4);
    EXPECT_FLOAT_EQ(s.cellFloat(cell::SpeakerX + 0), -1.0f);
    EXPECT_FLOAT_EQ(s.cellFloat(cell::SpeakerY + 0), 1.0f);
    EXPECT_FLOAT_EQ(s.cellFloat(cell::SpeakerX + 7), 0.5f);
    EXPECT_FLOAT_EQ(s.cellFloat(cell::SpeakerX + 4), 0.0f);
    EXPECT_FLOAT_EQ(s.cellFloat(cell::SpeakerY + 4), -1.0f);
    // Re-encoding turns every zero into 0x80 (the sign of -0.05).
    const PlanBlock expected = {0x04, 0x04, 0x80, 0x80, 0x8A, 0x0A, 0x80, 0x0A, 0x0A, 0x0A,
                                0x8A, 0x8A, 0x80, 0x8A, 0x0A, 0x8A, 0x85, 0x80, 0x05, 0x80};
    EXPECT_EQ(s.encodePlanBlock(), expected);
    EXPECT_EQ(s.planBlock(), expected);

    s.setCellFloat(cell::ListenerX, -12.7f);
    s.setCellInt(cell::RoomWidth, 0x1FF); // only the low byte travels
    const PlanBlock p = s.encodePlanBlock();
    EXPECT_EQ(p[2], 0xFF);
    EXPECT_EQ(p[0], 0xFF);
}

TEST(ParameterStore, ByteViewsOfKeyTableAndLevelReport) {
    ParameterStore s;
    KeyTable keys{};
    for (std::size_t i = 0; i < keys.size(); ++i)
        keys[i] = std::uint8_t(0x10 + i);
    s.setKeyTable(keys);
    EXPECT_EQ(s.keyTable(), keys);
    EXPECT_EQ(s.cellBits(0), 0x13121110u) << "little-endian bytes of cell 0";
    s.setCellByte(5, 0xEE);
    EXPECT_EQ(s.cellBits(1), 0x1716EE14u) << "one byte changes, its neighbours stay";

    const std::array<std::uint8_t, 8> level = {1, 2, 3, 4, 5, 6, 7, 8};
    s.setLevelReport(level);
    EXPECT_EQ(s.levelReport(), level);
    EXPECT_EQ(s.cellBits(cell::MusicSource), 0u);
    s.clearLevelReport();
    EXPECT_EQ(s.levelReport(), (std::array<std::uint8_t, 8>{}));

    // Out-of-range indexes are ignored, not written past the cells.
    s.setCellBits(-1, 5);
    s.setCellBits(kCellCount, 5);
    EXPECT_EQ(s.cellBits(kCellCount), 0u);
}

TEST(ParameterStore, BlockWritesStopAtTheRegionEnd) {
    ParameterStore s;
    std::vector<std::uint8_t> bytes(56, 0xAB);
    EXPECT_EQ(s.writeBandImage(1120, bytes), 21u);
    EXPECT_EQ(s.bandImage()[1140], 0xAB);
    EXPECT_EQ(s.writeBandImage(1141, bytes), 0u);
    EXPECT_EQ(s.writeSpeakerLevelBlock(30, bytes), 2u);
    EXPECT_EQ(s.writePlanBlock(25, bytes), 0u);
    EXPECT_FALSE(s.setBand(9, 14, BandRecord{}));
}

TEST(ParameterStore, ModeImageReplacesOnlyItsCells) {
    ParameterStore s;
    s.setCellInt(25, 3);
    s.setCellInt(173, 4);
    ModeImage m = s.modeImage();
    for (int c = 0; c < kCellCount; ++c)
        m.cells[std::size_t(c)] = 0xFFFFFFFF;
    m.bandImage.fill(0x11);
    m.plan = kFactoryPlan;
    s.applyModeImage(m);
    EXPECT_EQ(s.cellInt(25), 3);
    EXPECT_EQ(s.cellInt(173), 4);
    EXPECT_EQ(s.cellBits(26), 0xFFFFFFFFu);
    EXPECT_EQ(s.cellBits(172), 0xFFFFFFFFu);
    EXPECT_EQ(s.bandImage()[0], 0x11);
    EXPECT_EQ(s.cellInt(cell::RoomWidth), 4) << "the plan is decoded into its cells";
}

// Readers on one thread, writers on another: under ThreadSanitizer this proves the store's
// cells and blocks are free of data races.
TEST(ParameterStore, ConcurrentReadersAndWritersDoNotRace) {
    ParameterStore s;
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            s.setCellInt(26 + i % 100, i);
            s.setBand(1 + i % 9, 0, BandRecord::encode(1, i % 30 - 15, 100 + i, 1.0));
            s.setSpeakerLevelSlot(i % 8, float(i));
            s.setLevelReport(std::array<std::uint8_t, 8>{std::uint8_t(i)});
            s.setCellByte(i % 16, std::uint8_t(i));
            s.encodePlanBlock();
        }
        stop = true;
    });
    std::uint64_t sum = 0;
    while (!stop) {
        sum += s.cellBits(50);
        sum += s.bandImage()[0];
        sum += s.modeImage().plan[1];
        sum += s.keyTable()[3];
        sum += std::uint64_t(s.speakerLevelSlot(2));
    }
    writer.join();
    EXPECT_GE(sum, 0u);
}
