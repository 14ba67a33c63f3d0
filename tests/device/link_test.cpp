// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/link.h"
#include "rig.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <thread>

using namespace q7;
using q7::test::Rig;

namespace {

// A bus of HID interfaces; opened ones accept writes and never answer.
struct FakeBus : HidBackend {
    explicit FakeBus(Clock& c) : clock(c) {}
    Clock& clock;
    std::vector<HidInterface> interfaces;
    std::set<std::string> denied;
    std::vector<std::string> opened;

    struct Device : HidDevice {
        Clock& clock;
        explicit Device(Clock& c) : clock(c) {}
        int read(std::uint8_t*, std::size_t, int timeoutMs) override {
            clock.sleepMs(timeoutMs);
            return 0;
        }
        int write(const std::uint8_t*, std::size_t size) override { return int(size); }
    };

    std::vector<HidInterface> enumerate() override { return interfaces; }
    std::unique_ptr<HidDevice> open(const std::string& path, OpenError& error) override {
        if (denied.count(path)) {
            error = OpenError::PermissionDenied;
            return nullptr;
        }
        opened.push_back(path);
        error = OpenError::None;
        return std::make_unique<Device>(clock);
    }
};

HidInterface amp(const std::string& path) {
    return {path, kVendorId, kProductId};
}

} // namespace

TEST(LinkOpen, FirstMatchingInterfaceWinsWithinThirtyTwoAmplifiers) {
    VirtualClock clock;
    Clock::Participant self(clock);
    FakeBus bus(clock);
    bus.interfaces = {{"/dev/hidraw0", 0x046D, 0xC077}, amp("/dev/hidraw3"), amp("/dev/hidraw4")};
    Link link(bus, clock);
    const OpenResult r = link.OpenLink();
    ASSERT_TRUE(r.opened);
    EXPECT_EQ(link.devicePath(), "/dev/hidraw3");
    EXPECT_EQ(bus.opened, std::vector<std::string>{"/dev/hidraw3"});

    // Open while open: refused, nothing changes.
    EXPECT_FALSE(link.OpenLink().opened);
    EXPECT_EQ(link.devicePath(), "/dev/hidraw3");
    EXPECT_EQ(bus.opened.size(), 1u);
    link.CloseByRemoval();
    EXPECT_FALSE(link.isOpen());

    // Other HID devices do not count towards the 32: a desktop has many.
    FakeBus crowded(clock);
    for (int i = 0; i < 40; ++i)
        crowded.interfaces.push_back({"/dev/other" + std::to_string(i), 0x1234, 0x5678});
    crowded.interfaces.push_back(amp("/dev/hidraw40"));
    Link late(crowded, clock);
    EXPECT_TRUE(late.OpenLink().opened);
    EXPECT_EQ(late.devicePath(), "/dev/hidraw40");
    late.CloseByRemoval();

    // The 33rd amplifier interface is never examined.
    FakeBus many(clock);
    for (int i = 0; i < 32; ++i) {
        many.interfaces.push_back(amp("/dev/amp" + std::to_string(i)));
        many.denied.insert("/dev/amp" + std::to_string(i));
    }
    many.interfaces.push_back(amp("/dev/amp32"));
    Link capped(many, clock);
    const OpenResult none = capped.OpenLink();
    EXPECT_FALSE(none.opened);
    EXPECT_TRUE(none.permissionDenied);
    EXPECT_TRUE(many.opened.empty());
}

TEST(LinkOpen, PermissionDeniedIsReportedAndTheNextAmplifierTried) {
    VirtualClock clock;
    Clock::Participant self(clock);
    FakeBus bus(clock);
    bus.interfaces = {amp("/dev/hidraw1")};
    bus.denied = {"/dev/hidraw1"};
    Link link(bus, clock);
    OpenResult r = link.OpenLink();
    EXPECT_FALSE(r.opened);
    EXPECT_TRUE(r.found);
    EXPECT_TRUE(r.permissionDenied);

    bus.interfaces.push_back(amp("/dev/hidraw2"));
    r = link.OpenLink();
    EXPECT_TRUE(r.opened);
    EXPECT_EQ(r.path, "/dev/hidraw2");
}

TEST(LinkWrite, ASilentAmplifierIsPacedAtTheReplyTimeout) {
    Rig rig(SimOptions{.silent = true});
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(rig.c.link.write(shortCommand(CMD_GET_MODE)), 61);
    const auto s = rig.sent();
    ASSERT_EQ(s.size(), 4u);
    EXPECT_DOUBLE_EQ(s[0].ms, 0.0) << "the first write after opening goes at once";
    for (int i = 1; i < 4; ++i)
        EXPECT_DOUBLE_EQ(s[std::size_t(i)].ms - s[std::size_t(i) - 1].ms, 2500.0);
}

TEST(LinkWrite, AnsweredWritesGoAsSoonAsTheReplyIsHandled) {
    Rig rig(SimOptions{.latencyUs = 1000});
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    for (int i = 0; i < 5; ++i)
        rig.c.link.write(shortCommand(CMD_GET_MODE));
    const auto s = rig.sent();
    for (int i = 1; i < 5; ++i)
        EXPECT_DOUBLE_EQ(s[std::size_t(i)].ms - s[std::size_t(i) - 1].ms, 1.0);
}

TEST(LinkRead, ReportsThatAnswerNothingAskedAreDroppedAndCounted) {
    Rig rig;
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    const auto received = [&rig] {
        std::lock_guard l(rig.mutex);
        return std::count_if(rig.lines.begin(), rig.lines.end(), [](const TraceLine& t) {
            return t.direction == Direction::FromAmplifier;
        });
    };
    Report garbled = shortCommand(CMD_GET_PROTOCOL, 38);
    garbled[0] = 0xD7; // a foreign report id: whatever it carries is not a reply
    Report unasked = garbled;
    unasked[0] = kReportId; // a well-formed protocol reply nobody asked for
    Report memory = memRead(0, 56);
    memory[4] = 56;
    std::fill(memory.begin() + 5, memory.end(), 0x11);
    const std::uint8_t message[] = {1, 2, 3};
    for (const Report& r :
         {garbled, unasked, memory, tunnelReport(makeTunnelPacket(kTunnelMessage, message))})
        rig.sim.sendUnprompted(r);
    rig.clock.waitFor([&](double) { return received() == 4; }, 1000);
    ASSERT_EQ(received(), 4);

    EXPECT_EQ(rig.c.link.droppedReports(), 3);
    EXPECT_EQ(rig.c.state.protocol(), 1) << "nothing decoded from a dropped report";
    EXPECT_NE(rig.store.bandImage()[0], 0x11);
    const auto codes = rig.sentCodes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), CMD_TUNNEL), 1)
        << "the tunnel message is still acknowledged";

    // A DSP value for another parameter than the one asked for is not its answer either.
    rig.c.link.write(dspRead(1, 30, 1));
    ASSERT_TRUE(rig.c.link.awaitReply());
    EXPECT_EQ(rig.c.link.requestsAnswered(), 1);
    Report other{};
    other[0] = kReportId;
    other[1] = RPL_DSP_VALUE;
    other[3] = 1;
    other[4] = 31;
    rig.c.link.write(dspRead(1, 30, 1));
    rig.sim.sendUnprompted(other);
    rig.c.link.write(shortCommand(CMD_GET_PROTOCOL));
    ASSERT_TRUE(rig.c.link.awaitReply());
    EXPECT_EQ(rig.c.state.protocol(), 11) << "the real answer is taken";
    EXPECT_EQ(rig.c.link.droppedReports(), 4);
}

TEST(LinkClose, EditorSendsCloseFirstRemovalDoesNot) {
    Rig rig;
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    rig.store.setLevelReport(std::array<std::uint8_t, 8>{9, 9, 9, 9, 9, 9, 9, 9});
    rig.c.link.CloseByEditor();
    EXPECT_FALSE(rig.c.link.isOpen());
    EXPECT_EQ(rig.sentCodes(), std::vector<std::uint8_t>{CMD_CLOSE});
    EXPECT_EQ(rig.store.levelReport(), (std::array<std::uint8_t, 8>{}));
    EXPECT_EQ(rig.c.link.write(shortCommand(CMD_GET_MODE)), 0) << "closed: refused";

    rig.clearTrace();
    ASSERT_TRUE(rig.c.link.OpenLink().opened) << "a closed link opens again";
    EXPECT_TRUE(rig.c.link.CloseByRemoval());
    EXPECT_TRUE(rig.sent().empty());
    EXPECT_TRUE(rig.c.link.CloseByRemoval()) << "closing a closed link is fine";
    rig.c.link.CloseByEditor();
    EXPECT_TRUE(rig.sent().empty());
}

TEST(LinkBroken, AfterAReadErrorEveryWriteIsRefusedUntilReopened) {
    Rig rig(SimOptions{.readErrorAfter = 2});
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    rig.c.link.write(shortCommand(CMD_GET_MODE));
    rig.c.link.write(shortCommand(CMD_GET_MODE));
    rig.c.link.write(shortCommand(CMD_GET_MODE)); // its reply read fails
    rig.clock.sleepMs(100);
    EXPECT_TRUE(rig.c.link.readThreadEnded());
    EXPECT_EQ(rig.c.link.state(), LinkState::Broken);
    EXPECT_FALSE(rig.c.link.levelPollEnable);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(rig.c.link.write(shortCommand(CMD_GET_MODE)), 0);
    EXPECT_FALSE(rig.c.link.OpenLink().opened) << "still open (broken)";

    rig.c.link.CloseByRemoval();
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    EXPECT_EQ(rig.c.link.write(shortCommand(CMD_GET_MODE)), 61);
    EXPECT_EQ(rig.c.link.state(), LinkState::Open);
}

// Several threads writing while replies flow: every report goes out whole and each gets its
// reply. Run under ThreadSanitizer this also proves the link free of data races.
TEST(LinkConcurrency, WritersFromManyThreadsShareThePacing) {
    Rig rig(SimOptions{.latencyUs = 100});
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        rig.clock.reserveParticipant();
        writers.emplace_back([&rig, t] {
            Clock::Participant p(rig.clock, Clock::Participant::Reserved{});
            for (int i = 0; i < 50; ++i)
                rig.c.link.write(dspRead(1, 30 + t, 1));
        });
    }
    for (int i = 0; i < 50; ++i) {
        rig.store.cellInt(26);
        rig.clock.sleepMs(1);
    }
    {
        Clock::Idle idle(rig.clock);
        for (auto& w : writers)
            w.join();
    }
    rig.c.link.awaitReply();
    EXPECT_EQ(rig.sent().size(), 200u);
    EXPECT_EQ(rig.sim.requestsSeen(), 200);
}
