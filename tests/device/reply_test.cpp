// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/reply.h"

#include <gtest/gtest.h>
#include <vector>

using namespace q7;

namespace {

Report rpl(std::initializer_list<int> head) {
    Report r{};
    std::size_t i = 0;
    for (int b : head)
        r[i++] = std::uint8_t(b);
    return r;
}

struct Recorder : LinkObserver {
    std::vector<int> keys;
    std::vector<std::string> errors;
    void keyLearned(int code) override { keys.push_back(code); }
    void dspError(const std::string& text) override { errors.push_back(text); }
};

struct ReplyTest : ::testing::Test {
    ParameterStore store;
    DeviceState state;
    Recorder observer;
    std::vector<Report> acks;
    ReplyHandler handler{store, state};

    void SetUp() override {
        handler.setObserver(&observer);
        handler.setAckSender([this](const Report& r) { acks.push_back(r); });
    }
};

} // namespace

TEST_F(ReplyTest, IdentityDefaultsAndTexts) {
    EXPECT_EQ(state.model(), "HX2060");
    EXPECT_EQ(state.mcuVersion(), "2012-10-03");
    EXPECT_EQ(state.dspVersion(), "2012-11-30");
    EXPECT_EQ(state.protocol(), 1);
    EXPECT_EQ(state.modeNames().get(3), u"Mode4");

    handler.HandleReply(rpl({0x02, 0x80, 'Q', '7', 0x00, 'Z', 'Z'}));
    EXPECT_EQ(state.model(), "Q7") << "nothing of the previous text stays behind";
    EXPECT_TRUE(state.modelMatches());
    handler.HandleReply(rpl({0x02, 0x80, 'q', '7'}));
    EXPECT_TRUE(state.modelMatches()) << "case is ignored";
    handler.HandleReply(rpl({0x02, 0x80, 'Q', '7', 'X'}));
    EXPECT_FALSE(state.modelMatches());

    Report longText{};
    longText[1] = 0x81;
    std::fill(longText.begin() + 2, longText.end(), 'v');
    handler.HandleReply(longText);
    EXPECT_EQ(state.mcuVersion(), std::string(10, 'v'));
    longText[1] = 0x80;
    handler.HandleReply(longText);
    EXPECT_EQ(state.model().size(), 29u);

    handler.HandleReply(rpl({0x02, 0x7F, 11}));
    EXPECT_TRUE(state.protocolMatches());
    handler.HandleReply(rpl({0x02, 0x11, 2}));
    EXPECT_EQ(state.hdmi(), 2);
}

TEST_F(ReplyTest, StoreCellsFromSimpleReplies) {
    handler.HandleReply(rpl({0x02, 0x07, 2}));
    EXPECT_EQ(store.cellInt(cell::CurrentMode), 2);
    handler.HandleReply(rpl({0x02, 0x07, 9}));
    EXPECT_EQ(store.cellInt(cell::CurrentMode), 3) << "the mode stays in 0..3";
    handler.HandleReply(rpl({0x02, 0x0C, 4}));
    EXPECT_EQ(store.cellInt(cell::MusicSource), 4);
    handler.HandleReply(rpl({0x02, 0x0E, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(store.levelReport(), (std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_FALSE(store.parametersChanged());
    handler.HandleReply(rpl({0x02, 0x09}));
    EXPECT_TRUE(store.parametersChanged());

    handler.HandleReply(rpl({0x02, 0x20, 0, 9, 9, 9}));
    EXPECT_EQ(store.extraBlock(), (ExtraBlock{}));
    handler.HandleReply(rpl({0x02, 0x20, 1, 7, 8, 9}));
    handler.HandleReply(rpl({0x02, 0x8F, 0, 0x55}));
    EXPECT_EQ(store.extraBlock(), (ExtraBlock{7, 8, 9, 0, 0, 0x55}));

    Report settings = rpl({0x02, 0x92, 1, 255, 40, 99, 98, 1, 0x83, 7, 8, 2});
    handler.HandleReply(settings);
    EXPECT_EQ(state.currentSettings(), (MachineSettings{1, 255, 40, 99, 98, 1, 0x83, 7, 8, 2}));
    EXPECT_EQ(state.editSettings(), state.currentSettings());

    Report keys = rpl({0x02, 0x62});
    for (int i = 0; i < 16; ++i)
        keys[std::size_t(2 + i)] = std::uint8_t(0x30 + i);
    handler.HandleReply(keys);
    EXPECT_EQ(store.keyTable()[15], 0x3F);

    // Unknown codes change nothing.
    const ModeImage before = store.modeImage();
    handler.HandleReply(rpl({0x02, 0x55, 1, 2, 3}));
    handler.HandleReply(Report{});
    EXPECT_EQ(store.modeImage().cells, before.cells);
}

TEST_F(ReplyTest, MemoryRepliesFillTheirRegionsOnly) {
    Report band = rpl({0x02, 0x86, 0x00, 0x38, 3, 0x01, 0x2C, 0x03});
    handler.HandleReply(band);
    EXPECT_EQ(store.bandImage()[56], 0x01);
    EXPECT_EQ(store.bandImage()[58], 0x03);

    // A block that runs past the band image is cut at its end; the plan is untouched.
    Report tail = rpl({0x02, 0x86, 0x04, 0x60, 56});
    std::fill(tail.begin() + 5, tail.end(), 0x77);
    handler.HandleReply(tail);
    EXPECT_EQ(store.bandImage()[1140], 0x77);
    EXPECT_EQ(store.planBlock()[0], 0x00);

    Report plan = rpl({0x02, 0x86, 0x04, 0x75, 20, 4, 5, 0x85});
    handler.HandleReply(plan);
    EXPECT_EQ(store.cellInt(cell::RoomWidth), 4);
    EXPECT_EQ(store.cellInt(cell::RoomLength), 5);
    EXPECT_FLOAT_EQ(store.cellFloat(cell::ListenerX), -0.5f) << "decoded at once";

    Report levels = rpl({0x02, 0x86, 0x04, 0x89, 200, 0x40, 0xC0});
    handler.HandleReply(levels);
    EXPECT_FLOAT_EQ(store.speakerLevelSlot(0), 6.0f);

    const BandImage image = store.bandImage();
    handler.HandleReply(rpl({0x02, 0x86, 0x04, 0x80, 4, 1, 2, 3, 4})); // inside the plan region
    handler.HandleReply(rpl({0x02, 0x86, 0x0F, 0x00, 4, 1, 2, 3, 4}));
    EXPECT_EQ(store.bandImage(), image);
    EXPECT_EQ(store.planBlock()[0], 4);

    // Erased memory clears the whole image, not only L bytes.
    handler.HandleReply(rpl({0x02, 0x86, 0x00, 0x00, 2, 0xFF, 0xFF}));
    EXPECT_EQ(store.bandImage(), BandImage{});
}

TEST_F(ReplyTest, ModeNames) {
    Report r = rpl({0x02, 0xDB, 0x0F, 0x40, 40});
    const std::u16string name = u"Concert";
    for (std::size_t i = 0; i < name.size(); ++i)
        writeBe16(&r[5 + 2 * i], name[i]);
    handler.HandleReply(r);
    EXPECT_EQ(state.modeNames().get(1), u"Concert");

    Report erased = rpl({0x02, 0xDB, 0x0F, 0x40, 40, 0xFF, 0xFF, 0xFF, 0xFF});
    handler.HandleReply(erased);
    EXPECT_EQ(state.modeNames().get(1), u"Concert") << "an erased slot keeps the name";

    Report other = r;
    other[3] = 0x41;
    writeBe16(&other[5], u'X');
    handler.HandleReply(other);
    EXPECT_EQ(state.modeNames().get(1), u"Concert");

    Report overlong = rpl({0x02, 0xDB, 0x0F, 0xC0, 255});
    for (std::size_t i = 5; i + 1 < kReportSize; i += 2)
        writeBe16(&overlong[i], u'n');
    handler.HandleReply(overlong);
    EXPECT_EQ(state.modeNames().get(3), std::u16string(23, u'n')) << "kept to its storage";
}

TEST_F(ReplyTest, DspErrorIsReportedOnceAndValuesStillDecode) {
    Report v = rpl({0x02, 0x0A, 0x21, 0x01, 0x1E, 0x01, 0x3F, 0x00, 0x00, 0x00});
    handler.HandleReply(v);
    handler.HandleReply(v);
    ASSERT_EQ(observer.errors.size(), 1u);
    EXPECT_EQ(observer.errors[0], "参数错误,代码0x:21,指令1:0x01,指令2:0x1E ");
    EXPECT_EQ(store.cellInt(26), 50);
}

TEST_F(ReplyTest, TunnelMessagesAreAcknowledgedButNotAcks) {
    const std::uint8_t msg[] = {1, 2, 3};
    handler.HandleReply(tunnelReport(makeTunnelPacket(kTunnelMessage, msg)));
    ASSERT_EQ(acks.size(), 1u);
    EXPECT_EQ(acks[0], tunnelAcknowledgement());
    handler.HandleReply(tunnelReport(makeTunnelPacket(kTunnelAck, {})));
    EXPECT_EQ(acks.size(), 1u);
}

TEST_F(ReplyTest, LearnedKeysBeyondTheTableAreIgnoredPositionZeroIsKept) {
    handler.HandleReply(rpl({0x02, 0x60, 0x11, 5, 0xA5}));
    EXPECT_EQ(store.keyTable()[0], 0x11);
    EXPECT_EQ(store.keyTable()[5], 0xA5);
    EXPECT_EQ(observer.keys, std::vector<int>{0xA5});

    const KeyTable before = store.keyTable();
    for (int position : {16, 200}) {
        handler.HandleReply(rpl({0x02, 0x60, 0x99, position, 0xEE}));
        EXPECT_EQ(store.keyTable(), before) << position;
    }
    EXPECT_EQ(observer.keys.size(), 1u);
    EXPECT_EQ(store.cellBits(4), 0u) << "nothing written past the key table";

    // Position 0 is the table's first byte: byte 2 goes there, then the learned code over it.
    handler.HandleReply(rpl({0x02, 0x60, 0x99, 0, 0xEE}));
    EXPECT_EQ(store.keyTable()[0], 0xEE);
    EXPECT_EQ(store.keyTable()[5], 0xA5);
    EXPECT_EQ(observer.keys, (std::vector<int>{0xA5, 0xEE}));
}
