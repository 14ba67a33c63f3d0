// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/clock.h"

#include <gtest/gtest.h>
#include <thread>

using namespace q7;

TEST(VirtualClock, SingleThreadSleepsAdvanceAtOnce) {
    VirtualClock clock;
    clock.sleepMs(2500);
    clock.sleepMs(20.5);
    EXPECT_DOUBLE_EQ(clock.nowMs(), 2520.5);
    Event e(clock, true, false);
    EXPECT_FALSE(e.wait(100));
    EXPECT_DOUBLE_EQ(clock.nowMs(), 2620.5);
    e.set();
    EXPECT_TRUE(e.wait(100));
    EXPECT_FALSE(e.isSet()) << "auto-reset";
    EXPECT_DOUBLE_EQ(clock.nowMs(), 2620.5);
}

// Time stands still while any participant runs and jumps to the earliest deadline once all
// wait: a ping-pong over two events takes exactly the virtual time of the sleeps.
TEST(VirtualClock, ParticipantsHoldTimeUntilAllWait) {
    VirtualClock clock;
    Event ping(clock, true, false), pong(clock, true, false);
    clock.reserveParticipant();
    std::thread other([&] {
        Clock::Participant p(clock, Clock::Participant::Reserved{});
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(ping.wait(kForever));
            clock.sleepMs(10);
            pong.set();
        }
    });
    {
        Clock::Participant p(clock);
        for (int i = 0; i < 3; ++i) {
            ping.set();
            ASSERT_TRUE(pong.wait(1000));
        }
        EXPECT_DOUBLE_EQ(clock.nowMs(), 30.0);
        // A timeout nobody answers costs exactly its length.
        EXPECT_FALSE(pong.wait(2500));
        EXPECT_DOUBLE_EQ(clock.nowMs(), 2530.0);
    }
    other.join();
}

TEST(VirtualClock, WakeAtBringsAScheduledDeliveryForward) {
    VirtualClock clock;
    Clock::Participant p(clock);
    const double due = 7.25;
    const bool got =
        clock.waitFor([&](double now) { return now >= due; }, 1000, [&] { return due; });
    EXPECT_TRUE(got);
    EXPECT_DOUBLE_EQ(clock.nowMs(), 7.25);
}

TEST(SystemClock, EventsWakeWaitersPromptly) {
    SystemClock clock;
    Event e(clock, false, false);
    std::thread setter([&] { e.set(); });
    EXPECT_TRUE(e.wait(5000));
    setter.join();
    EXPECT_TRUE(e.isSet()) << "manual reset";
    const double start = clock.nowMs();
    Event never(clock, true, false);
    EXPECT_FALSE(never.wait(5));
    EXPECT_GE(clock.nowMs() - start, 4.9);
}
