// SPDX-License-Identifier: GPL-3.0-or-later
// An editing session in the editor, recorded as a trace, plays back against the trace in place
// of the amplifier without a single mismatch.
#include "device/replay_backend.h"
#include "editor_rig.h"
#include "params/mode_file.h"
#include "real_input.h"

#include <gtest/gtest.h>

using namespace q7;
using q7::test::EditorRig;

namespace {

// The same hands on the same controls at the same moments.
void session(EditorRig& rig, const QString& file) {
    ASSERT_TRUE(rig.connect());
    const auto aMoment = [&rig] { rig.run(16); }; // a mouse moves about once a frame
    test::dragSliderTo(rig.ribbon().slider(cmd::MicSlider), 75, 8, aMoment);
    rig.run(400);
    test::dragSliderTo(rig.ribbon().slider(cmd::MusicSlider), 40, 8, aMoment);
    rig.run(700);
    rig.ribbon().action(cmd::SaveModeFirst + 1)->trigger();
    rig.run(1200);
    rig.prompter.openPath = file;
    rig.clickRibbon(cmd::LoadFile);
    ASSERT_TRUE(rig.connect());
    rig.run(900);
    rig.frame().show();
    ASSERT_TRUE(rig.frame().close());
    rig.run(200);
    ASSERT_TRUE(rig.runUntil([&] { return !rig.editor->connection().link.closing(); }, 10000));
}

} // namespace

TEST(ReplaySession, AnEditingSessionReplaysWithoutAMismatch) {
    QTemporaryDir dir;
    const QString file = dir.filePath("party.q7M");
    {
        ParameterStore s;
        test::withinRanges(s);
        s.setCellInt(58, 33);
        ASSERT_TRUE(writeModeFile(file.toStdString(), s));
    }

    std::vector<std::string> recorded;
    double recordedMs = 0;
    {
        EditorRig live;
        session(live, file);
        std::lock_guard l(live.mutex);
        for (const TraceLine& t : live.lines)
            recorded.push_back(formatTraceLine(t.ms, t.direction, t.report));
        ASSERT_GT(live.lines.size(), 1000u);
        recordedMs = live.lines.back().ms;
    }

    std::vector<std::string> problems;
    std::unique_ptr<ReplayBackend> replay;
    {
        EditorRig replayed({}, [&](EditorOptions& o) {
            replay = std::make_unique<ReplayBackend>(
                *o.clock, [&](const std::string& p) { problems.push_back(p); });
            replay->loadLines(recorded);
            o.backend = replay.get();
        });
        session(replayed, file);
        EXPECT_EQ(replay->mismatches(), 0);
        EXPECT_TRUE(problems.empty()) << problems.front();
        EXPECT_TRUE(replay->finished()) << "every recorded request was made again";
        std::lock_guard l(replayed.mutex);
        ASSERT_FALSE(replayed.lines.empty());
        EXPECT_LE(replayed.lines.back().ms, recordedMs * 1.2);
        EXPECT_EQ(replayed.editor->store().cellInt(58), 33);
    }
}
