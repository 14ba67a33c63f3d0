// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/report.h"

#include <gtest/gtest.h>

using namespace q7;

namespace {

Report bytes(std::initializer_list<int> head) {
    Report r{};
    std::size_t i = 0;
    for (int b : head)
        r[i++] = std::uint8_t(b);
    return r;
}

} // namespace

TEST(ShortCommand, PlacesLowBytesAfterTheCodeAndZeroFillsTheRest) {
    EXPECT_EQ(shortCommand(CMD_GET_MODEL), bytes({0x02, 0x80}));
    // 255 is an ordinary payload byte, not an end marker; only the low byte is kept.
    EXPECT_EQ(shortCommand(CMD_MODE_STORE, 255, 0x1234, 7), bytes({0x02, 0x04, 0xFF, 0x34, 7}));
    EXPECT_EQ(shortCommand(CMD_RESET_MACHINE, 0xAA), bytes({0x02, 0x68, 0xAA}));
}

TEST(DspWrite, LayoutMatchesTheAmplifier) {
    const std::uint32_t half = floatBits(0.5f);
    EXPECT_EQ(dspWrite(1, 33, std::span(&half, 1)),
              bytes({0x02, 0x09, 0x00, 0x01, 0x21, 0x01, 0x3F, 0x00, 0x00, 0x00}));
    EXPECT_EQ(dspRead(5, 33, 7), bytes({0x02, 0x0A, 0x00, 0x05, 0x21, 0x07}));
}

TEST(DspWrite, ThirteenWordsEndAtByte57AndAFourteenthDoesNotFit) {
    std::vector<std::uint32_t> words(14, 0xA1B2C3D4);
    const Report r = dspWrite(2, 3, std::span(words).first(13));
    EXPECT_EQ(r[5], 13);
    EXPECT_EQ(r[57], 0xD4);
    EXPECT_EQ(r[58], 0x00);
    EXPECT_EQ(dspWrite(2, 3, words), r) << "a 14th word must be cut, not overflow the report";

    const Report rep = dspWriteRepeated(4, 15, floatBits(1.0f), 2);
    EXPECT_EQ(rep[5], 2);
    EXPECT_EQ(readBe32(&rep[6]), 0x3F800000u);
    EXPECT_EQ(readBe32(&rep[10]), 0x3F800000u);
    EXPECT_EQ(readBe32(&rep[14]), 0u);
}

TEST(DspValue, ParsesStatusAddressAndWords) {
    Report r = bytes({0x01, 0x0A, 0x05, 0x08, 0x21, 0x02});
    writeBe32(&r[6], 0x11223344);
    writeBe32(&r[10], 0x55667788);
    const DspValueReply v = parseDspValue(r);
    EXPECT_EQ(v.status, 5);
    EXPECT_EQ(v.module, 8);
    EXPECT_EQ(v.parameter, 0x21);
    EXPECT_EQ(v.count, 2);
    EXPECT_EQ(v.words[0], 0x11223344u);
    EXPECT_EQ(v.words[1], 0x55667788u);
    EXPECT_EQ(v.words[12], 0u);
}

TEST(MemoryWindows, BandImageThenPlanThenLevels) {
    const auto& w = parameterMemoryWindows();
    ASSERT_EQ(w.size(), 23u);
    for (int k = 0; k < 20; ++k)
        EXPECT_EQ(w[std::size_t(k)], (MemWindow{std::uint16_t(56 * k), 56}));
    EXPECT_EQ(w[20], (MemWindow{1120, 21})) << "the last band window is 21 bytes";
    EXPECT_EQ(w[21], (MemWindow{1141, 20}));
    EXPECT_EQ(w[22], (MemWindow{1161, 32}));
    EXPECT_TRUE(splitMemory(10, 0).empty());
}

TEST(Memory, WriteAndReadLayouts) {
    const std::array<std::uint8_t, 3> data = {7, 8, 9};
    EXPECT_EQ(memWrite(1161, data), bytes({0x02, 0x85, 0x04, 0x89, 3, 7, 8, 9}));
    EXPECT_EQ(memRead(1141, 20), bytes({0x02, 0x86, 0x04, 0x75, 20}));

    std::vector<std::uint8_t> big(80, 0xEE);
    const Report r = memWrite(0, big);
    EXPECT_EQ(r[4], 56) << "data beyond one window is cut";
    EXPECT_EQ(r[60], 0xEE);
}

TEST(Memory, ReplyLengthIsBoundedByTheReport) {
    Report r = bytes({0x00, 0x86, 0x00, 0x38, 200});
    const MemReply m = parseMem(r);
    EXPECT_EQ(m.address, 56);
    EXPECT_EQ(m.length, 200);
    EXPECT_EQ(m.available, 56u);
}

TEST(ModeNames, WriteCarries44AndBigEndianUnits) {
    const Report r = modeNameWrite(1, u"Party");
    EXPECT_EQ(r[1], 0xDA);
    EXPECT_EQ(r[2], 0x0F);
    EXPECT_EQ(r[3], 0x40);
    EXPECT_EQ(r[4], 44);
    EXPECT_EQ(r[5], 0x00);
    EXPECT_EQ(r[6], 'P');
    EXPECT_EQ(r[14], 'y');
    EXPECT_EQ(r[15], 0x00);

    const Report twenty = modeNameWrite(3, u"ABCDEFGHIJKLMNOPQRST");
    EXPECT_EQ(twenty[4], 44);
    EXPECT_EQ(twenty[44], 'T');
    EXPECT_EQ(twenty[45], 0);

    const Report chinese = modeNameWrite(0, u"卡拉");
    EXPECT_EQ(chinese[5], 0x53);
    EXPECT_EQ(chinese[6], 0x61);

    // Longer names are cut to the 22 units the length byte announces.
    const Report longName = modeNameWrite(2, std::u16string(40, u'x'));
    EXPECT_EQ(longName[48], 'x');
    EXPECT_EQ(longName[49], 0);
    EXPECT_EQ(modeNameWrite(9, u"a")[3], 0xC0) << "mode numbers are clamped to 0..3";
}

TEST(ModeNames, ReadRequestAndDecode) {
    EXPECT_EQ(modeNameRead(2), bytes({0x02, 0xDB, 0x0F, 0x80, 40}));
    EXPECT_EQ(modeFromNameAddress(0x0FC0), 3);
    EXPECT_EQ(modeFromNameAddress(0x0FC1), -1);

    Report r = bytes({0x00, 0xDB, 0x0F, 0x40, 40});
    const std::u16string name = u"Concert";
    for (std::size_t i = 0; i < name.size(); ++i)
        writeBe16(&r[5 + 2 * i], name[i]);
    r[21] = 'Z'; // after the zero unit at bytes 19..20: must not be taken
    r[22] = 'Z';
    EXPECT_EQ(decodeModeName(r), u"Concert");

    // L shorter than the text stops after L bytes.
    r[4] = 6;
    EXPECT_EQ(decodeModeName(r), u"Con");

    // A length running past the report stops at the report's end.
    Report full{};
    full[4] = 255;
    for (std::size_t i = 5; i + 1 < kReportSize; i += 2)
        writeBe16(&full[i], u'a');
    EXPECT_EQ(decodeModeName(full).size(), 28u);

    Report erased = bytes({0x00, 0xDB, 0x0F, 0x00, 40, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_TRUE(isErasedModeName(erased));
    erased[8] = 0;
    EXPECT_FALSE(isErasedModeName(erased));
}

TEST(ReplyText, StopsAtZeroOrLimit) {
    Report r = bytes({0x00, 0x80, 'Q', '7', 0x00, 'X'});
    EXPECT_EQ(replyText(r, 29), "Q7");
    Report unterminated{};
    unterminated.fill('A');
    EXPECT_EQ(replyText(unterminated, 10), "AAAAAAAAAA");
    EXPECT_EQ(replyText(unterminated, 100).size(), 59u);
}

TEST(Tunnel, PacketChecksumCoversLengthZeroAndMessage) {
    const std::array<std::uint8_t, 3> msg = {0x10, 0x20, 0x33};
    const auto p = makeTunnelPacket(kTunnelMessage, msg);
    ASSERT_EQ(p.size(), 7u);
    EXPECT_EQ(p[0], 0x01);
    EXPECT_EQ(p[1], 5);
    EXPECT_EQ(p[2], 0x00);
    EXPECT_EQ(p[6], std::uint8_t(0xFF ^ 5 ^ 0x00 ^ 0x10 ^ 0x20 ^ 0x33));

    const Report r = tunnelReport(p);
    EXPECT_EQ(r[1], 0x12);
    EXPECT_EQ(r[2], 7);
    const auto parsed = parseTunnelMessage(r);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed, std::vector<std::uint8_t>(msg.begin(), msg.end()));

    Report bad = r;
    bad[9] ^= 1; // checksum byte
    EXPECT_FALSE(parseTunnelMessage(bad));
    Report overlong = r;
    overlong[2] = 60; // claims more than the report holds
    EXPECT_FALSE(parseTunnelMessage(overlong));

    EXPECT_EQ(tunnelAcknowledgement(), bytes({0x02, 0x12, 0x01, 0x06}));
    const std::vector<std::uint8_t> longest(54, 0x5A);
    EXPECT_TRUE(parseTunnelMessage(tunnelReport(makeTunnelPacket(kTunnelMessage, longest))));
}

TEST(LevelReport, MeterOrderFormatAndIndicators) {
    const Report r = bytes({0x00, 0x0E, 1, 2, 3, 4, 5, 6, 7, 0x33});
    const LevelReport l = LevelReport::fromReport(r);
    EXPECT_EQ(l.meters(), (std::array<std::uint8_t, 6>{5, 6, 1, 2, 3, 4}));
    EXPECT_EQ(l.format(), AudioFormat::Dolby) << "Dolby is tested first";
    EXPECT_TRUE(l.indicatorA());
    EXPECT_TRUE(l.indicatorB());

    LevelReport s;
    s.bytes[7] = 0x06;
    EXPECT_EQ(s.format(), AudioFormat::Dts);
    s.bytes[7] = 0x04;
    EXPECT_EQ(s.format(), AudioFormat::Lpcm);
    s.bytes[7] = 0x10;
    EXPECT_EQ(s.format(), AudioFormat::Stereo);
    EXPECT_FALSE(s.indicatorB());
}

TEST(Records, SettingsAndKeyTableCommands) {
    const std::array<std::uint8_t, 10> settings = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    const Report s = setSettings(settings);
    EXPECT_EQ(s[1], 0x91);
    EXPECT_EQ(s[2], 1);
    EXPECT_EQ(s[11], 10);
    EXPECT_EQ(s[12], 0);
    std::array<std::uint8_t, 16> keys{};
    keys[15] = 0x42;
    const Report k = setKeyTable(keys);
    EXPECT_EQ(k[1], 0x63);
    EXPECT_EQ(k[17], 0x42);
}
