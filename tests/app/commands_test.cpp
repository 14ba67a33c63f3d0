// SPDX-License-Identifier: GPL-3.0-or-later
// Commands that reach the view without an input event (QAction::trigger(), a programmatic
// click, as a script, a menu or an accessibility tool gives them) are undo steps all the same.
#include "app/commands.h"
#include "app/main_view.h"
#include "app/ribbon.h"
#include "app/status_bar.h"
#include "edit_steps.h"
#include "editor_rig.h"
#include "params/mode_file.h"
#include "real_input.h"

#include <QAction>
#include <QCheckBox>
#include <QPushButton>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

using namespace q7;
using namespace q7::test;

namespace {

std::vector<std::uint8_t> imageBytes(EditorRig& rig) {
    return modeFileBytes(rig.editor->store().modeImage());
}

// The first byte where two images differ, or -1.
long firstDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    const auto m = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    return m.first == a.end() && m.second == b.end() ? -1 : long(m.first - a.begin());
}

bool idle(EditorRig& rig) {
    return rig.runUntil([&] { return !rig.view().syncDialog() && !rig.view().transferBusy(); });
}

} // namespace

TEST(Commands, EachTriggeredCommandIsOneStepThatUndoFullyReverts) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    rig.view().showPage(PageKind::Music);
    const EditPath& e = rig.editor->edits();

    struct Case {
        const char* what;
        std::function<void()> trigger;
        const char* undoText;
    };
    const Case cases[] = {
        {"the mic mute box", [&] { rig.ribbon().check(cmd::MicMute)->click(); }, "Undo Mic Mute"},
        {"the music mute box of the Output tab",
         [&] { rig.ribbon().check(Ribbon::twin(cmd::MusicMute))->click(); }, "Undo Music Mute"},
        {"the EQ bypass", [&] { rig.status().bypass()->click(); }, "Undo EQ bypass"},
        {"Reset EQ, answered Yes", [&] { rig.status().resetEq()->click(); }, "Undo Reset EQ"},
        {"a preset from the menu", [&] { rig.ribbon().action(cmd::PresetFirst + 3)->trigger(); },
         "Undo Load preset"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = imageBytes(rig);
        const std::size_t steps = e.history().size();
        c.trigger();
        ASSERT_TRUE(idle(rig));
        ASSERT_NE(imageBytes(rig), before) << "the command changed nothing";
        EXPECT_EQ(e.history().size(), steps + 1) << "one command, one step";
        QAction* undo = rig.ribbon().action(cmd::Undo);
        EXPECT_TRUE(undo->text().startsWith(c.undoText)) << undo->text().toStdString();
        undo->trigger();
        ASSERT_TRUE(idle(rig));
        EXPECT_EQ(firstDifference(imageBytes(rig), before), -1) << "undo gave back every byte";
        EXPECT_EQ(e.history().size(), steps);
    }
}

TEST(Commands, AVolumeDraggedOnTheRibbonIsOneStepFromPressToRelease) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    const EditPath& e = rig.editor->edits();
    StepSlider* s =
        rig.ribbon().slider(Ribbon::inCategory(cmd::MicSlider, rig.ribbon().activeCategory()));
    ASSERT_TRUE(s);
    const int start = s->value();
    const auto before = imageBytes(rig);
    const std::size_t steps = e.history().size();
    int moves = 0;
    test::dragSliderTo(s, start > 30 ? start - 25 : start + 25, 8, [&] { ++moves; });
    ASSERT_TRUE(idle(rig));
    ASSERT_NE(s->value(), start) << "the drag moved the slider";
    ASSERT_GT(moves, 2);
    EXPECT_EQ(e.history().size(), steps + 1) << "every move of one drag joins one step";
    EXPECT_EQ(e.unscopedEdits(), 0);
    rig.ribbon().action(cmd::Undo)->trigger();
    ASSERT_TRUE(idle(rig));
    EXPECT_EQ(firstDifference(imageBytes(rig), before), -1) << "one undo takes back the drag";
    EXPECT_EQ(s->value(), start);
}

TEST(Commands, EveryControlIdNamesOneCommand) {
    // Both twins of a master control, the older ids and the runs of modes, presets and files.
    EXPECT_EQ(commandFor(cmd::MicSlider), (CommandCall{ViewCommand::Volume, cmd::MicSlider}));
    EXPECT_EQ(commandFor(Ribbon::twin(cmd::GateSlider)),
              (CommandCall{ViewCommand::Volume, cmd::GateSlider}));
    EXPECT_EQ(commandFor(Ribbon::twin(cmd::EchoMute)),
              (CommandCall{ViewCommand::Mute, cmd::EchoMute}));
    EXPECT_EQ(commandFor(32881), commandFor(cmd::LoadFile));
    EXPECT_EQ(commandFor(cmd::SaveModeFirst + 3), (CommandCall{ViewCommand::SaveMode, 3}));
    EXPECT_EQ(commandFor(cmd::PresetFirst + 14), (CommandCall{ViewCommand::LoadPreset, 14}));
    EXPECT_EQ(commandFor(cmd::PresetFirst + 15).what, ViewCommand::None);
    EXPECT_EQ(commandFor(cmd::ShowOutputSub), (CommandCall{ViewCommand::ShowOutput, 2}));
    EXPECT_EQ(commandFor(cmd::MicLabel).what, ViewCommand::None) << "a label only shows a value";
    // What changes the settings is named; what does not opens no step.
    EXPECT_EQ(stepOf(commandFor(cmd::MicSlider)).en, "Mic Vol");
    EXPECT_EQ(stepOf(commandFor(cmd::PitchSlider)).en, "Music Pitch");
    EXPECT_TRUE(stepOf(commandFor(cmd::Undo)).empty());
    EXPECT_TRUE(stepOf(commandFor(cmd::SourceFirst)).empty());
}
