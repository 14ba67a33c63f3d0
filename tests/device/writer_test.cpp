// SPDX-License-Identifier: GPL-3.0-or-later
// The link's one writer: a thread that never waits (the editor's window) hands its reports over
// and goes on, while the wire keeps stop-and-wait in the order reports were issued.
#include "params/dsp.h"
#include "rig.h"

#include <gtest/gtest.h>
#include <thread>

using namespace q7;
using q7::test::Rig;

namespace {

Report dspValue(int module, int parameter, float v) {
    return dspWriteRepeated(module, parameter, floatBits(v), 1);
}

// The reports the editor sent and the times they went, relative to the first.
std::vector<std::pair<double, Report>> timeline(const std::vector<TraceLine>& lines) {
    std::vector<std::pair<double, Report>> out;
    for (const TraceLine& t : lines)
        out.emplace_back(t.ms - lines.front().ms, t.report);
    return out;
}

// Runs the same writes once from a waiting thread and once from the non-waiting one.
std::vector<std::pair<double, Report>> wire(bool nonWaiting, SimOptions options,
                                            const std::vector<Report>& reports) {
    Rig rig(options);
    if (nonWaiting)
        rig.c.link.setNonWaitingThread(std::this_thread::get_id());
    EXPECT_TRUE(rig.c.link.OpenLink().opened);
    for (const Report& r : reports) {
        EXPECT_EQ(rig.c.link.write(r), 61);
        rig.clock.sleepMs(2); // the user's next move comes later than the reply
    }
    rig.clock.sleepMs(3000);
    return timeline(rig.sent());
}

} // namespace

TEST(Writer, TheWindowsWritesPutTheSameReportsOnTheWireAtTheSameTimes) {
    std::vector<Report> reports;
    for (int i = 0; i < 20; ++i)
        reports.push_back(dspValue(1, 30 + i % 3, 0.01f * float(i)));
    reports.push_back(shortCommand(CMD_MODE_STORE, 1));
    reports.push_back(shortCommand(CMD_GET_LEVELS));
    const SimOptions healthy{.latencyUs = 1000};
    const auto waited = wire(false, healthy, reports);
    const auto queued = wire(true, healthy, reports);
    ASSERT_EQ(waited.size(), reports.size());
    EXPECT_EQ(queued, waited);
}

TEST(Writer, TheWindowNeverWaitsForASilentAmplifier) {
    Rig rig(SimOptions{.silent = true});
    rig.c.link.setNonWaitingThread(std::this_thread::get_id());
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    const double start = rig.clock.nowMs();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(rig.c.link.write(shortCommand(CMD_GET_MODE)), 61);
    EXPECT_DOUBLE_EQ(rig.clock.nowMs(), start) << "no time passed on the writing thread";
    rig.clock.sleepMs(5 * 2500);
    const auto s = rig.sent();
    ASSERT_EQ(s.size(), 5u) << "still one report per reply timeout";
    for (std::size_t i = 1; i < s.size(); ++i)
        EXPECT_DOUBLE_EQ(s[i].ms - s[i - 1].ms, 2500.0);
}

TEST(Writer, AQueuedWriteALaterOneSupersedesIsDroppedButNotAcrossARequest) {
    Rig rig(SimOptions{.silent = true});
    rig.c.link.setNonWaitingThread(std::this_thread::get_id());
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    // A drag against an amplifier that does not answer: the first goes, the rest wait.
    rig.c.link.write(dspValue(1, 30, 0.0f));
    rig.clock.sleepMs(1);
    for (int v = 1; v <= 10; ++v)
        rig.c.link.write(dspValue(1, 30, 0.1f * float(v)));
    rig.c.link.write(dspValue(1, 43, 0.5f)); // another target stays
    rig.c.link.write(shortCommand(CMD_MODE_STORE, 2));
    rig.c.link.write(dspValue(1, 30, 0.75f)); // after the store: must not replace 1.0
    rig.c.link.write(dspValue(1, 30, 0.8f));
    EXPECT_EQ(rig.c.link.queued(), 4u);
    rig.clock.sleepMs(10 * 2500);
    const auto s = rig.sent();
    ASSERT_EQ(s.size(), 5u);
    EXPECT_EQ(s[0].report, dspValue(1, 30, 0.0f));
    EXPECT_EQ(s[1].report, dspValue(1, 30, 1.0f)) << "the last before the store";
    EXPECT_EQ(s[2].report, dspValue(1, 43, 0.5f));
    EXPECT_EQ(s[3].report, shortCommand(CMD_MODE_STORE, 2));
    EXPECT_EQ(s[4].report, dspValue(1, 30, 0.8f));
}

TEST(Writer, OneLevelRequestIsQueuedAtATime) {
    Rig rig(SimOptions{.silent = true});
    rig.c.link.setNonWaitingThread(std::this_thread::get_id());
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    rig.c.link.write(shortCommand(CMD_GET_MODE)); // in flight, never answered
    for (int i = 0; i < 8; ++i) {
        rig.c.session.pollLevels();
        rig.clock.sleepMs(300);
    }
    EXPECT_EQ(rig.c.link.queued(), 1u);
    rig.clock.sleepMs(5000);
    std::vector<double> polls;
    for (const TraceLine& t : rig.sent())
        if (t.report[1] == CMD_GET_LEVELS)
            polls.push_back(t.ms);
    EXPECT_EQ(polls, std::vector<double>{2500.0}) << "the ticks while one waited added nothing";
}

TEST(Writer, WorkersAndTheWindowShareOneOrder) {
    Rig rig(SimOptions{.latencyUs = 3000});
    rig.c.link.setNonWaitingThread(std::this_thread::get_id());
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    rig.clock.reserveParticipant();
    std::thread worker([&rig] {
        Clock::Participant p(rig.clock, Clock::Participant::Reserved{});
        for (int i = 0; i < 30; ++i)
            EXPECT_EQ(rig.c.link.write(dspRead(4, i, 1)), 61);
    });
    for (int i = 0; i < 30; ++i) {
        rig.c.link.write(shortCommand(CMD_SET_SOURCE, i % 5));
        rig.clock.sleepMs(1);
    }
    {
        Clock::Idle idle(rig.clock);
        worker.join();
    }
    rig.clock.sleepMs(200);
    const auto s = rig.sent();
    // Every worker read went out, in its order; the window's last source choice went out last of
    // its own, and nothing went out before the previous report's reply.
    int nextRead = 0;
    for (const TraceLine& t : s) {
        if (t.report[1] == CMD_DSP_READ) {
            EXPECT_EQ(t.report[4], nextRead);
            ++nextRead;
        }
    }
    EXPECT_EQ(nextRead, 30);
    std::uint8_t lastSource = 0xFF;
    for (const TraceLine& t : s)
        if (t.report[1] == CMD_SET_SOURCE)
            lastSource = t.report[2];
    EXPECT_EQ(lastSource, 29 % 5);
    for (std::size_t i = 1; i < s.size(); ++i)
        EXPECT_GE(s[i].ms - s[i - 1].ms, 3.0 - 1e-9);
    EXPECT_EQ(rig.sim.requestsSeen(), int(s.size()));
}

TEST(Writer, TheWindowsCloseDrainsThenSendsCmdCloseWithoutWaiting) {
    Rig rig(SimOptions{.latencyUs = 1000});
    rig.c.link.setNonWaitingThread(std::this_thread::get_id());
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    for (int i = 0; i < 4; ++i)
        rig.c.link.write(shortCommand(CMD_MODE_STORE, i));
    const double start = rig.clock.nowMs();
    rig.c.link.CloseByEditor();
    EXPECT_DOUBLE_EQ(rig.clock.nowMs(), start);
    EXPECT_FALSE(rig.c.link.isOpen()) << "closed for the window at once";
    EXPECT_EQ(rig.c.link.write(shortCommand(CMD_GET_MODE)), 0);
    EXPECT_FALSE(rig.c.link.OpenLink().opened) << "not while its last reports go out";
    rig.clock.sleepMs(100);
    EXPECT_FALSE(rig.c.link.closing());
    std::vector<std::uint8_t> codes = rig.sentCodes();
    EXPECT_EQ(codes, (std::vector<std::uint8_t>{CMD_MODE_STORE, CMD_MODE_STORE, CMD_MODE_STORE,
                                                CMD_MODE_STORE, CMD_CLOSE}));
    ASSERT_FALSE(rig.recorder.states.empty());
    EXPECT_EQ(rig.recorder.states.back(), LinkState::Closed);
    EXPECT_TRUE(rig.c.link.OpenLink().opened) << "closed: opens again";
}

TEST(Writer, ACloseDrainIsBoundedWhenTheAmplifierIsSilent) {
    Rig rig(SimOptions{.silent = true});
    rig.c.link.setNonWaitingThread(std::this_thread::get_id());
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    for (int i = 0; i < 20; ++i)
        rig.c.link.write(shortCommand(CMD_MODE_STORE, i % 4));
    const double start = rig.clock.nowMs();
    rig.c.link.CloseByEditor();
    ASSERT_TRUE(rig.sim.plugged());
    rig.clock.waitFor([&rig](double) { return !rig.c.link.closing(); }, 60000);
    EXPECT_FALSE(rig.c.link.closing());
    EXPECT_LE(rig.clock.nowMs() - start, kCloseDrainMs + 2500 + kReadThreadExitWaitMs + 100);
    EXPECT_EQ(rig.sent().back().report, shortCommand(CMD_CLOSE));
    EXPECT_LT(rig.sent().size(), 10u) << "what could not go out in time was dropped";
}

TEST(Writer, ARemovalDropsWhatIsQueuedAndReleasesWaitingWriters) {
    Rig rig(SimOptions{.silent = true});
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    rig.clock.reserveParticipant();
    int result = -1;
    std::thread worker([&] {
        Clock::Participant p(rig.clock, Clock::Participant::Reserved{});
        rig.c.link.write(shortCommand(CMD_GET_MODE));
        result = rig.c.link.write(shortCommand(CMD_GET_MODE)); // waits for a reply
    });
    rig.clock.sleepMs(100);
    EXPECT_TRUE(rig.c.link.CloseByRemoval());
    {
        Clock::Idle idle(rig.clock);
        worker.join();
    }
    EXPECT_EQ(result, 0);
    EXPECT_LT(rig.clock.nowMs(), 2000.0);
}

TEST(Trace, ARequestIsTracedBeforeItsReply) {
    Rig rig; // zero latency: the reply is ready before write() returns
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    for (int i = 0; i < 50; ++i)
        rig.c.link.write(shortCommand(CMD_GET_MODE));
    rig.c.link.awaitReply();
    std::lock_guard l(rig.mutex);
    ASSERT_EQ(rig.lines.size(), 100u);
    for (std::size_t i = 0; i < rig.lines.size(); ++i)
        EXPECT_EQ(rig.lines[i].direction,
                  i % 2 == 0 ? Direction::ToAmplifier : Direction::FromAmplifier)
            << i;
}

TEST(Pacing, AnUnsolicitedTunnelMessageDoesNotReleaseTheWait) {
    Rig rig(SimOptions{.latencyUs = 2000, .tunnelEvery = 2});
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    for (int i = 0; i < 20; ++i)
        rig.c.link.write(shortCommand(CMD_GET_MODE));
    rig.c.link.awaitReply();
    // Between two requests there is always the first one's own reply, not only a tunnel
    // message (our acknowledgements of those go out unpaced and do not count).
    std::lock_guard l(rig.mutex);
    bool replied = true;
    int requests = 0;
    for (const TraceLine& t : rig.lines) {
        if (t.direction == Direction::ToAmplifier && t.report[1] == CMD_GET_MODE) {
            EXPECT_TRUE(replied) << "request " << requests << " overtook a reply";
            replied = false;
            ++requests;
        } else if (t.direction == Direction::FromAmplifier && t.report[1] == RPL_MODE) {
            replied = true;
        }
    }
    EXPECT_EQ(requests, 20);
}

// A timed sequence from the window (the music's fade): the pauses are the writer's, the window
// goes on at once, the steps stay apart and none supersedes another; a close ends a pause.
TEST(Writer, PausesFromTheWindowAreTheWritersAndKeepEveryStep) {
    Rig rig(SimOptions{.latencyUs = 1000});
    rig.c.link.setNonWaitingThread(std::this_thread::get_id());
    ASSERT_TRUE(rig.c.link.OpenLink().opened);
    Dsp dsp(rig.store, rig.c.link, rig.clock);
    dsp.setPause([&](double ms) { rig.c.link.pause(ms); });
    rig.store.setCellInt(cell::MusicMute, 0);
    const double start = rig.clock.nowMs();
    dsp.sendMute(cell::MusicMute); // unmuted: the fade
    EXPECT_DOUBLE_EQ(rig.clock.nowMs(), start) << "no time passed on the window's thread";
    rig.clock.sleepMs(1000);
    const auto s = rig.sent();
    ASSERT_EQ(s.size(), 10u);
    for (std::size_t i = 1; i < s.size(); ++i)
        EXPECT_GE(s[i].ms - s[i - 1].ms, 30.0) << i;

    // A pause cut short by the editor's close: CMD_CLOSE follows at once.
    rig.clearTrace();
    rig.c.link.pause(60000);
    const double before = rig.clock.nowMs();
    rig.c.link.CloseByEditor();
    rig.clock.sleepMs(kCloseDrainMs + 100);
    const auto closing = rig.sent();
    ASSERT_FALSE(closing.empty());
    EXPECT_EQ(closing.back().report, shortCommand(CMD_CLOSE));
    EXPECT_LE(closing.back().ms - before, kCloseDrainMs + 1);
}

// From a thread that may wait (a worker), a pause is that thread's own; closed, none.
TEST(Writer, PausesOfAWaitingThreadAreItsOwn) {
    Rig worker;
    ASSERT_TRUE(worker.c.link.OpenLink().opened);
    const double t0 = worker.clock.nowMs();
    worker.c.link.pause(30);
    EXPECT_DOUBLE_EQ(worker.clock.nowMs() - t0, 30.0);
    worker.c.link.CloseByEditor();
    const double t1 = worker.clock.nowMs();
    worker.c.link.pause(30);
    EXPECT_DOUBLE_EQ(worker.clock.nowMs(), t1);
}
