// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/connection.h"
#include "device/replay_backend.h"

#include <gtest/gtest.h>

using namespace q7;

namespace {

std::string line(double ms, char dir, std::initializer_list<int> head) {
    Report r{};
    std::size_t i = 0;
    for (int b : head)
        r[i++] = std::uint8_t(b);
    return formatTraceLine(ms, Direction(dir), r);
}

} // namespace

// A hand-made session: the amplifier announces itself, answers the model request with "Q7" and
// the protocol request with 11; the second write differs from the recording.
TEST(Replay, DeliversRecordedRepliesAndReportsMismatches) {
    VirtualClock clock;
    Clock::Participant self(clock);
    std::vector<std::string> problems;
    ReplayBackend replay(clock, [&](const std::string& p) { problems.push_back(p); });
    replay.loadLines({
        "# a comment",
        line(0, '<', {0x02, 0x11, 3}),
        line(1, '>', {0x02, 0x80}),
        line(2, '<', {0x02, 0x80, 'Q', '7'}),
        line(3, '>', {0x02, 0x7F}),
        line(4, '<', {0x02, 0x7F, 11}),
        line(4.5, '<', {0x02, 0x0C, 2}),
    });
    EXPECT_EQ(replay.skippedLines(), 0);

    ParameterStore store;
    Connection c(replay, clock, store);
    ASSERT_TRUE(c.link.OpenLink().opened);
    c.link.write(shortCommand(CMD_GET_MODEL));
    c.link.write(shortCommand(CMD_GET_MCU_VERSION)); // the recording says CMD_GET_PROTOCOL
    c.link.awaitReply();
    clock.sleepMs(50);
    EXPECT_EQ(c.state.model(), "Q7");
    // Replies that answer nothing the program asked (before the first write, to the request
    // that was not written, out of the blue) arrive but are dropped, as from an amplifier.
    EXPECT_EQ(c.link.droppedReports(), 3) << "the replay goes on after a mismatch";
    EXPECT_EQ(c.state.hdmi(), 0);
    EXPECT_EQ(c.state.protocol(), 1);
    EXPECT_EQ(store.cellInt(cell::MusicSource), 0);
    EXPECT_EQ(replay.mismatches(), 1);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("expected 02 7F"), std::string::npos);
    EXPECT_NE(problems[0].find("wrote    02 81"), std::string::npos);
    EXPECT_TRUE(replay.finished());

    c.link.write(shortCommand(CMD_GET_MODE));
    EXPECT_EQ(replay.mismatches(), 2) << "writes past the end are reported too";
}

// A damaged trace is refused whole, naming its first bad line; one cut short ends the session as
// soon as it runs out, instead of letting every further request wait out its reply.
TEST(Replay, DamagedOrCutTracesStopAtOnceWithTheLineNumber) {
    VirtualClock clock;
    Clock::Participant self(clock);
    std::vector<std::string> problems;
    ReplayBackend replay(clock, [&](const std::string& p) { problems.push_back(p); });
    std::string error;
    EXPECT_FALSE(replay.loadLines({"# recorded", line(0, '>', {0x02, 0x80}), "12.5 < 02 80 5Z 37",
                                   line(2, '>', {0x02, 0x7F})},
                                  &error));
    EXPECT_NE(error.find("line 3 is not a trace line"), std::string::npos) << error;
    std::string cut = line(2, '<', {0x02, 0x80, 'Q', '7'});
    cut.resize(cut.size() / 2); // the recording stopped mid-line
    EXPECT_FALSE(replay.loadLines({line(1, '>', {0x02, 0x80}), cut}, &error));
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;

    ASSERT_TRUE(replay.loadLines({line(1, '>', {0x02, 0x80}), line(2, '<', {0x02, 0x80, 'Q', '7'}),
                                  line(3, '>', {0x02, 0x7F}), line(4, '<', {0x02, 0x7F, 11})},
                                 &error));
    ParameterStore store;
    Connection c(replay, clock, store);
    c.session.settleMs = 0;
    ASSERT_TRUE(c.link.OpenLink().opened);
    const double start = clock.nowMs();
    c.session.SynchronizeData();
    EXPECT_LT(clock.nowMs() - start, 5000) << "not one reply timeout per remaining request";
    EXPECT_EQ(c.session.CheckConnection(), CheckResult::LinkLost);
    ASSERT_FALSE(problems.empty());
    EXPECT_NE(problems[0].find("the trace ended at line 4"), std::string::npos) << problems[0];
}

// Our acknowledgements of unsolicited tunnel messages go out whenever the read thread meets
// them: one the recording has and the replay does not (or the other way round) is no mismatch.
TEST(Replay, TunnelAcknowledgementsMayComeOrGo) {
    VirtualClock clock;
    Clock::Participant self(clock);
    std::vector<std::string> problems;
    ReplayBackend replay(clock, [&](const std::string& p) { problems.push_back(p); });
    const Report ack = tunnelAcknowledgement();
    replay.loadLines({
        line(0, '>', {0x02, 0x80}), line(1, '<', {0x02, 0x80, 'Q', '7'}),
        formatTraceLine(2, Direction::ToAmplifier, ack), // recorded, never sent here
        line(3, '>', {0x02, 0x7F}), line(4, '<', {0x02, 0x7F, 11}),
        formatTraceLine(5, Direction::ToAmplifier, ack), // a trailing one
    });
    ParameterStore store;
    Connection c(replay, clock, store);
    ASSERT_TRUE(c.link.OpenLink().opened);
    c.link.write(shortCommand(CMD_GET_MODEL));
    c.link.writeUnpaced(ack); // sent here, not recorded at this place
    c.link.write(shortCommand(CMD_GET_PROTOCOL));
    c.link.awaitReply();
    EXPECT_EQ(replay.mismatches(), 0);
    EXPECT_TRUE(problems.empty());
    EXPECT_TRUE(replay.finished());
    EXPECT_EQ(c.state.protocol(), 11);
}

// The level poll runs on a timer: its requests may fall elsewhere in a replay than in the
// recording, and are matched wherever they fall, each with its own recorded reply.
TEST(Replay, LevelRequestsAreMatchedWhereverTheyFall) {
    VirtualClock clock;
    Clock::Participant self(clock);
    std::vector<std::string> problems;
    ReplayBackend replay(clock, [&](const std::string& p) { problems.push_back(p); });
    replay.loadLines({
        line(0, '>', {0x02, 0x0E}),
        line(1, '<', {0x02, 0x0E, 9, 9, 9, 9, 9, 9, 1, 0}),
        line(2, '>', {0x02, 0x80}),
        line(3, '<', {0x02, 0x80, 'Q', '7'}),
        line(4, '>', {0x02, 0x7F}),
        line(5, '<', {0x02, 0x7F, 11}),
    });
    ParameterStore store;
    Connection c(replay, clock, store);
    ASSERT_TRUE(c.link.OpenLink().opened);
    c.link.write(shortCommand(CMD_GET_MODEL)); // the recording polled first
    c.link.write(shortCommand(CMD_GET_LEVELS));
    c.link.write(shortCommand(CMD_GET_PROTOCOL));
    c.link.write(shortCommand(CMD_GET_LEVELS)); // none recorded: the last levels again
    c.link.awaitReply();
    clock.sleepMs(50);
    EXPECT_TRUE(problems.empty()) << problems.front();
    EXPECT_EQ(replay.mismatches(), 0);
    EXPECT_TRUE(replay.finished());
    EXPECT_EQ(c.state.model(), "Q7");
    EXPECT_EQ(c.state.protocol(), 11);
    EXPECT_EQ(store.levelReport()[0], 9);
}
