// SPDX-License-Identifier: GPL-3.0-or-later
// The room tuning assistant as a user drives it against the simulated amplifier and its room:
// from the Output tab's button through the set-up, the microphone placed at each position, the
// result shown before anything is sent, Apply as one undo step, the check and the report; and a
// Cancel or an unplug in the middle of the sweeps leaving every mute as it was.
#include "app/editor_rig.h"
#include "app/tune_room.h"
#include "params/edit_path.h"
#include "params/param_names.h"
#include "sim/room.h"
#include "sim/synthetic_room.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

namespace q7::test {
namespace {

// The five group mute words the amplifier holds.
std::vector<std::vector<std::uint32_t>> mutes(const SimulatedAmplifier& sim) {
    return {sim.dspValue(5, 41), sim.dspValue(6, 27), sim.dspValue(9, 27), sim.dspValue(7, 22),
            sim.dspValue(8, 32)};
}

// What differs between two sets of settings, in the pages' terms.
std::vector<std::string> changed(const ModeImage& a, const ModeImage& b) {
    std::vector<std::string> ids;
    for (const Difference& d : differences(a, b))
        ids.push_back(d.id);
    return ids;
}

void typeInto(QAbstractSpinBox* box, const QString& text) {
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Tab);
}

// Opens the assistant from the Output tab and chooses main L, main R and the Sub, 1 s sweeps.
CTuneDlg* openAssistant(EditorRig& rig) {
    rig.showCategory(kOutputCategory);
    rig.clickRibbon(cmd::TuneRoom);
    auto* dlg = rig.frame().findChild<CTuneDlg*>("TuneDialog");
    if (!dlg)
        return nullptr;
    for (int k : {2, 4, 5, 6, 7})
        rig.click(dlg->speakerBox(k));
    typeInto(dlg->sweepBox(), "1");
    return dlg;
}

} // namespace

TEST(TuneRoom, MeasuresTwoSeatsShowsTheTuningAppliesItAsOneStepAndChecksIt) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    rig.editor->setDocumentPath(rig.dir.filePath("living-room.q7M"));
    CTuneDlg* dlg = openAssistant(rig);
    ASSERT_NE(dlg, nullptr);
    EXPECT_FALSE(dlg->speakerBox(2)->isChecked());
    EXPECT_FALSE(dlg->lowBox(2)->isEnabled()) << "a speaker left out has no limits to set";
    typeInto(dlg->positionsBox(), "2");
    typeInto(dlg->maxBoostBox(), "4");
    EXPECT_EQ(dlg->options().speakers, (std::vector<int>{0, 1, 3}));
    EXPECT_EQ(dlg->options().maxBoostDb, 4.0);
    const ModeImage before = settingsOf(rig.editor->store());
    const AmpSettings amplifierBefore = rig.sim.current();

    rig.click(dlg->startButton());
    EXPECT_EQ(dlg->step(), CTuneDlg::Measure);
    // The microphone at the main seat, then at the second seat: the user says when.
    for (int position = 0; position < 2; ++position) {
        ASSERT_TRUE(rig.runUntil([&] { return dlg->continueButton()->isVisible(); }))
            << "position " << position + 1;
        EXPECT_TRUE(dlg->findChild<QLabel*>("TunePrompt")
                        ->text()
                        .contains(QString("position %1 of 2").arg(position + 1)));
        rig.click(dlg->continueButton());
    }
    ASSERT_TRUE(rig.runUntil([&] { return dlg->step() == CTuneDlg::Results; }))
        << dlg->statusLabel()->text().toStdString();
    // Shown, not sent: the settings and the amplifier as they were, every mute back.
    ASSERT_NE(dlg->plan(), nullptr);
    ASSERT_TRUE(dlg->plan()->ok);
    EXPECT_EQ(dlg->resultsTable()->rowCount(), 3);
    EXPECT_TRUE(changed(settingsOf(rig.editor->store()), before).empty());
    rig.settle();
    EXPECT_EQ(rig.sim.current(), amplifierBefore);
    EXPECT_TRUE(dlg->resultsTable()->item(2, 0)->text() == "Sub");
    EXPECT_FALSE(dlg->chartLabel()->pixmap().isNull()) << "a chart of the first speaker";
    // Every speaker's chart and the Sub with the mains are offered.
    EXPECT_EQ(dlg->chartBox()->count(), 4);

    // Apply: one step, then the check (the microphone back at the main seat).
    rig.click(dlg->applyButton());
    ASSERT_TRUE(rig.runUntil([&] { return dlg->continueButton()->isVisible(); }));
    EXPECT_TRUE(dlg->findChild<QLabel*>("TunePrompt")->text().contains("main seat"));
    rig.click(dlg->continueButton());
    ASSERT_TRUE(rig.runUntil([&] { return dlg->step() == CTuneDlg::Check; }))
        << dlg->statusLabel()->text().toStdString();
    ASSERT_NE(dlg->verification(), nullptr);
    EXPECT_TRUE(dlg->verification()->levelsOk);
    EXPECT_TRUE(dlg->verification()->arrivalsOk);
    EXPECT_EQ(dlg->checkTable()->rowCount(), 3);
    const ModeImage tuned = settingsOf(rig.editor->store());
    EXPECT_TRUE(changed(tuned, dlg->plan()->after).empty());

    // The report beside the mode file.
    rig.click(dlg->saveButton());
    ASSERT_FALSE(dlg->reportPath().isEmpty());
    EXPECT_TRUE(QFileInfo(dlg->reportPath()).absolutePath().startsWith(rig.dir.path()));
    EXPECT_TRUE(QFileInfo::exists(dlg->reportPath()));
    EXPECT_TRUE(QFileInfo::exists(QFileInfo(dlg->reportPath()).dir().filePath("sub.png")));

    // One undo takes the whole tuning back, on the amplifier too.
    rig.click(dlg->findChild<QPushButton*>("TuneClose"));
    rig.settle();
    rig.clearTrace();
    QAction* undo = rig.ribbon().action(cmd::Undo);
    ASSERT_TRUE(undo->isEnabled());
    undo->trigger();
    EXPECT_TRUE(changed(settingsOf(rig.editor->store()), before).empty());
    EXPECT_FALSE(rig.ribbon().action(cmd::Undo)->isEnabled()) << "the tuning was one step";
    rig.settle();
    EXPECT_FALSE(rig.sent().empty());
    // What the amplifier held before holds again (undo also sends what it had never been sent).
    const AmpSettings after = rig.sim.current();
    EXPECT_EQ(after.memory, amplifierBefore.memory);
    for (const auto& [address, words] : amplifierBefore.dsp)
        EXPECT_EQ(after.dsp.at(address), words)
            << "module " << (address >> 8) << " parameter " << (address & 0xff);
}

TEST(TuneRoom, CancelInTheMiddleLeavesEveryMuteAndSettingAsBefore) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CTuneDlg* dlg = openAssistant(rig);
    ASSERT_NE(dlg, nullptr);
    const auto mutesBefore = mutes(rig.sim);
    const ModeImage before = settingsOf(rig.editor->store());
    rig.click(dlg->startButton());
    // Cancelled once the sweeps are under way.
    ASSERT_TRUE(rig.runUntil([&] { return dlg->progressBar()->value() > 0; }));
    rig.click(dlg->cancelButton());
    ASSERT_TRUE(rig.runUntil([&] { return !dlg->busy(); }));
    EXPECT_EQ(dlg->step(), CTuneDlg::Setup);
    EXPECT_EQ(dlg->plan(), nullptr);
    rig.settle();
    EXPECT_EQ(mutes(rig.sim), mutesBefore);
    EXPECT_TRUE(changed(settingsOf(rig.editor->store()), before).empty());
    // Closing the window while it measures stops the run as well.
    rig.click(dlg->startButton());
    ASSERT_TRUE(rig.runUntil([&] { return dlg->progressBar()->value() > 0; }));
    QTest::keyClick(dlg, Qt::Key_Escape);
    ASSERT_TRUE(rig.runUntil([&] { return !dlg->busy(); }));
    rig.settle();
    EXPECT_EQ(mutes(rig.sim), mutesBefore);
}

TEST(TuneRoom, AnUnplugMidSweepPutsEveryMuteBackWhenTheAmplifierReturns) {
    EditorRig rig;
    ASSERT_TRUE(rig.connect());
    CTuneDlg* dlg = openAssistant(rig);
    ASSERT_NE(dlg, nullptr);
    const auto mutesBefore = mutes(rig.sim);
    rig.click(dlg->startButton());
    // Gone once the first speaker plays alone.
    ASSERT_TRUE(rig.runUntil([&] { return mutes(rig.sim) != mutesBefore; }));
    rig.sim.unplug();
    ASSERT_TRUE(rig.runUntil([&] { return !dlg->busy(); }));
    EXPECT_NE(dlg->step(), CTuneDlg::Results);
    rig.run(2000);
    rig.sim.plug();
    ASSERT_TRUE(rig.connect());
    ASSERT_TRUE(rig.runUntil([&] {
        return dlg->statusLabel()->text().contains(QString::fromUtf8("所有静音已恢复"));
    })) << dlg->statusLabel()->text().toStdString();
    rig.settle();
    EXPECT_EQ(mutes(rig.sim), mutesBefore);
}

TEST(TuneRoom, DetectUnticksTheSpeakersThatDoNotArrive) {
    // A room without its centre and rear left speakers.
    QTemporaryDir room;
    SyntheticRoomSetup setup;
    setup.seed = 3;
    setup.connected[2] = false;
    setup.connected[4] = false;
    std::string error;
    ASSERT_TRUE(writeRoomFolder(syntheticRoom(setup), room.path().toStdString(), error)) << error;
    EditorRig rig({}, [&](EditorOptions& o) { o.simulator = "room=" + room.path().toStdString(); });
    ASSERT_TRUE(rig.connect());
    rig.showCategory(kOutputCategory);
    rig.clickRibbon(cmd::TuneRoom);
    auto* dlg = rig.frame().findChild<CTuneDlg*>("TuneDialog");
    ASSERT_NE(dlg, nullptr);
    rig.click(dlg->detectButton());
    ASSERT_TRUE(rig.runUntil([&] { return !dlg->busy() && dlg->step() == CTuneDlg::Setup; }));
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(dlg->speakerBox(k)->isChecked(), k != 2 && k != 4) << k;
    EXPECT_EQ(dlg->options().speakers, (std::vector<int>{0, 1, 3, 5, 6, 7}));
}

} // namespace q7::test
